// The view of the local shelf page: the downloaded and downloading magazines and books, their
// categories and the recently-read lists. The page asks the view for its categories and records;
// the main window passes download events, login changes and shelf selections on to the page,
// each as a page-script call, once the page has listed its categories. Only a shelf selection is
// kept for a page that has not loaded yet.
//
// User-interface thread only. The shelf records are read under the shelf store's lock, which is
// never held while an event is sent or the download manager is called.
#pragma once

#include "pages/VorHtmlView.h"

class CMagInfo;

class CMyBooksHtmlView : public CVorHtmlView {
public:
    CMyBooksHtmlView() : CVorHtmlView(TRUE) {}
    static CVorHtmlView* CreateObject() { return new CMyBooksHtmlView(); }

    // The fixed user id whose shelf is never shown personally.
    static constexpr const char* kSharedUserId = "3068152";
    // "-1" in the "enter" mode or for the shared id, else the id.
    static CString PageUserId(const CString& strUserId);
    // One record as the page reads it: "pic1,pid,down,percent,name date,pid".
    static CString FormatRecord(const CMagInfo& item);

    void NotifyReDownLoad(CString strState, CString strSortId, CString strPid);
    void ChangeShelfType(CString strType);
    void NotifyDownloadStopped(CString strType, CString strPid);
    // A download that ended without its package although nobody stopped it; a page without its
    // own word for that hears of a stop.
    void NotifyDownloadFailed(CString strType, CString strPid);
    void NotifyDownloadStarted(CString strType, CString strPid);
    void NotifyProgress(CString strPid, CString strType, CString strPercent);
    void NotifyUserId(CString strUserId);
    void SelectShelf(CString strType, CString strCategory);
    // The shelf is shown again: what changed while it was hidden reached no page, so the page
    // lists its items anew.
    void NotifyShown();

    // Page methods.
    BOOL C_InitClassList(LPCSTR type);
    BOOL C_Load(LPCSTR ignored);
    BOOL C_Go_Shelf(LPCSTR ignored);
    BOOL C_GoShelf(LPCSTR type, LPCSTR category);
    BOOL C_LoadBookShelf(LPCSTR type, LPCSTR category);
    BOOL C_LocalRead(LPCSTR type, LPCSTR pid);
    BOOL C_ReadFile(LPCSTR type, LPCSTR pid, LPCSTR third);
    BOOL C_UserLogin(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                     LPCSTR autologin);
    BOOL C_ShowLogin(LPCSTR ignored);
    BOOL C_OpenFolder(LPCSTR type, LPCSTR pid);
    BOOL C_DeleteFile(LPCSTR type, LPCSTR category, LPCSTR pid);
    BOOL C_StartDownLoad(LPCSTR type, LPCSTR pid);
    BOOL C_StopDownLoad(LPCSTR type, LPCSTR pid);
    BOOL C_DownLoadFile(LPCSTR type, LPCSTR pid, LPCSTR third);

    static const VOR_DISPATCH_MAP* GetThisDispatchMap();
    const VOR_DISPATCH_MAP* GetDispatchMap() const override { return GetThisDispatchMap(); }

    // The shelf shows covers from wherever the store's records say they are (the store's
    // address, or a local file), so its requests are not limited.
    BOOL GetRequestLimit(const CString&, std::vector<CString>&) override { return FALSE; }

    BOOL m_bLoaded = FALSE;
    CString m_strType;
    CString m_strRequestedType;
    CString m_strPendingCategory;
};
