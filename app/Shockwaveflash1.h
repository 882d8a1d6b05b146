// The wrapper of the Flash control: a child window holding the player (CFlashControl over a
// browser control of ours) with the control's automation calls, and the control's one event,
// FlashCall, which reaches the parent window's event sink as (control id, dispid, request).
// A SetReturnValue made while the event is being handled is the answer of the movie's call. A
// WM_KEYDOWN sent to the control's window is pressed in the player page, as the real control
// passes keys on to its movie.
//
// User-interface thread only. Events nest: the sink may call CallFunction, which may make the
// movie call out again before the first event returns; each event keeps its own answer.
#pragma once

#include "platform/afx.h"
#include "platform/web/FlashControl.h"

#include <functional>
#include <memory>

// Dispatch ids of the control's automation interface and its event.
constexpr long DISPID_FLASH_WMODE = 0x85;
constexpr long DISPID_FLASH_QUALITY = 0x8D;
constexpr long DISPID_FLASH_LOADMOVIE = 0x8E;
constexpr long DISPID_FLASH_ALLOWSCRIPTACCESS = 0xAB;
constexpr long DISPID_FLASH_CALLFUNCTION = 0xC6;
constexpr long DISPID_FLASH_SETRETURNVALUE = 0xC7;
constexpr long DISPID_FLASH_FLASHCALL = 0xC5;

// What a window hosting controls implements to hear their events.
class IFlashEventSink {
public:
    virtual ~IFlashEventSink() = default;
    virtual void OnControlEvent(UINT nID, long dispid, LPCSTR pszArg) = 0;
};

class CShockwaveflash1 : public CWnd {
    DECLARE_DYNCREATE(CShockwaveflash1)
public:
    CShockwaveflash1() = default;
    ~CShockwaveflash1() override;

    // The browser control each new player is given (the engine's by default; tests give a fake),
    // and the address of the player page it shows.
    using BrowserFactory = std::function<std::unique_ptr<afxweb::IBrowserControl>(HWND hControl)>;
    static void SetBrowserFactory(BrowserFactory factory);
    static void SetPlayerPage(const CString& strUrl);
    static CString GetPlayerPage();
    // Where the player fetches a movie from, given the address the program loads it by (a
    // player page of a server's origin cannot fetch a local file). Unset, the address is kept.
    using MovieAddressMap = std::function<CString(const CString& address)>;
    static void SetMovieAddressMap(MovieAddressMap map);

    // The parent must implement IFlashEventSink to hear FlashCall.
    BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                CWnd* pParentWnd, UINT nID, void* pContext = nullptr) override;

    void put_WMode(LPCSTR newValue);
    void put_Quality(LPCSTR newValue);
    void LoadMovie(long layer, LPCSTR url);
    void put_AllowScriptAccess(LPCSTR newValue);
    CString CallFunction(LPCSTR request);
    void SetReturnValue(LPCSTR returnValue);

    afxweb::CFlashControl* GetControl() const { return m_control.get(); }

protected:
    // A key sent to the control's window goes on to the movie.
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    DECLARE_MESSAGE_MAP()

private:
    CString FireFlashCall(const CString& request);

    std::unique_ptr<afxweb::CFlashControl> m_control;
    IFlashEventSink* m_pSink = nullptr;
    UINT m_nID = 0;
    // The answer of the innermost event being handled; null outside events.
    CString* m_pReturnValue = nullptr;
};
