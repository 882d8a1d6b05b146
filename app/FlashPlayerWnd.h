// The Flash reader window: a popup holding the reader movie's control, which it recreates for
// every item, and the program's side of the movie's ExternalInterface calls (the item's
// settings, page addresses, the purchase, subscription, login and close). Also the two XML
// forms of those calls.
//
// User-interface thread only; the purchase blocks that thread until the store answers. The
// control is never destroyed from inside its own event: the reopen after a login is posted, and
// a control closed or replaced by a handler of its event is hidden and deleted afterwards.
#pragma once

#include "app/Shockwaveflash1.h"
#include "platform/afx.h"

#include <vector>

// A call in the control's XML: <invoke name="..." returntype="xml"><arguments><string>...
// Values are escaped, so a value holding "<" or "&" reaches the movie as it was.
CString BuildFlashInvoke(const CString& strName, const std::vector<CString>& args);
// A movie's request: FALSE when it is no XML with "invoke" and "arguments". Arguments are the
// "string" texts ("null" read as "") and, after the last string, the "number" texts.
BOOL ParseFlashInvoke(const CString& strRequest, CString& strName, std::vector<CString>& args);

// What the window needs of the main window for a login asked for by the movie.
class IFlashReaderHost {
public:
    virtual ~IFlashReaderHost() = default;
    // The modal login dialog, with no parent.
    virtual void RunLoginDialog() = 0;
    // Reads again the item that was open: a local package, or an online item.
    virtual void ReopenLastItem(BOOL bLocal) = 0;
};

constexpr UINT kFlashControlId = 1112;
// Posted to the window itself: the login asked for by the movie, run after its event returns.
constexpr UINT WM_FLASH_LOGIN = WM_USER + 0x106;
// Posted to the window itself: controls closed from inside their own event are deleted now.
constexpr UINT WM_FLASH_RETIRE = WM_USER + 0x107;

class CFlashPlayerWnd : public CWnd, public IFlashEventSink {
    DECLARE_DYNAMIC(CFlashPlayerWnd)
public:
    CFlashPlayerWnd() = default;
    ~CFlashPlayerWnd() override;

    static void SetReaderHost(IFlashReaderHost* pHost);

    // bLocal tells whether the item comes from a local package, for the reopen after a login.
    void OpenMovie(CString type, CString id, CString movieParam, int served, CString startFile,
                   BOOL bLocal = TRUE);
    void CloseMovie();
    void SendEnterKey();

    // Esc is the main window's, which hides the program to the notification area and this
    // window with it; the movie hears Enter only.
    BOOL PreTranslateMessage(MSG* pMsg) override;

    void OnFlashCall(LPCSTR request);
    void SetFlashVars();
    void OpenMag();
    void ReplyShiftPath(CString path);
    void UserPriceBuy();

    // IFlashEventSink
    void OnControlEvent(UINT nID, long dispid, LPCSTR pszArg) override;

    CShockwaveflash1* m_pFlash = nullptr;
    CString m_strBase;
    CString m_strSwfPath;
    CString m_strItemType;
    CString m_strItemId;
    CString m_strMovieParam;
    CString m_strStartFile;
    BOOL m_bLocalItem = TRUE;
    // "1159" once the movie has asked for its settings while nobody was logged in; the purchase
    // then goes out under it. Kept here, never in the user record.
    CString m_strGuestUserId;

protected:
    void OnSize(UINT nType, int cx, int cy);
    // The window's keyboard goes to the control, whose page hands it to the movie.
    void OnSetFocus(CWnd* pOldWnd);
    LRESULT OnFlashLogin(WPARAM wParam, LPARAM lParam);
    LRESULT OnFlashRetire(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    void DestroyControl();
    void DeleteRetired();
    void ShowLoginDlg();

    // How deep the control's events are nested now; a control closed inside them waits in
    // m_retired, hidden, until they have all returned.
    int m_nEventDepth = 0;
    std::vector<CShockwaveflash1*> m_retired;
};

// The start file the movie opens first, by the item's price flag ("1": paid).
CString FlashStartFile(const CString& strPriceFlag);

// The player page plays in the local server's origin, from which alone the movie may fetch the
// item's pages. The server answers kPlayerUrlPath with the player folder given (the program's
// "player" folder, which holds player.html and the player, with a trailing backslash) and
// kPlayerMovieUrlPath with the installed reader movie; the control is told to show the served
// page and to fetch the reader movie from there. Called once at start-up; the addresses carry
// the server's port, so that is set first.
constexpr char kPlayerUrlPath[] = "/player/";
// The player folder goes with the program under this name (AfxProgramCompanionFolder).
constexpr char kPlayerFolderName[] = "player";
constexpr char kPlayerMovieUrlPath[] = "/player/read.swf";
void PublishReaderPlayer(const CString& strPlayerFolder);
