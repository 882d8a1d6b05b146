#include "pages/MyBooksHtmlView.h"

#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/MagShelf.h"
#include "library/SortInfo.h"
#include "library/UserInfo.h"
#include "net/DownLoadManager.h"
#include "pages/LoginDlg.h"
#include "pages/PageViews.h"
#include "platform/kernel/Process.h"

namespace {

const VOR_DISPATCH_ENTRY kEntries[] = {
    {"C_InitClassList", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_InitClassList>},
    {"C_Load", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_Load>},
    {"C_Go_Shelf", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_Go_Shelf>},
    {"C_GoShelf", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_GoShelf>},
    {"C_LoadBookShelf", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_LoadBookShelf>},
    {"C_LocalRead", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_LocalRead>},
    {"C_ReadFile", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_ReadFile>},
    {"C_UserLogin", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_UserLogin>},
    {"C_ShowLogin", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_ShowLogin>},
    {"C_OpenFolder", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_OpenFolder>},
    {"C_DeleteFile", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_DeleteFile>},
    {"C_StartDownLoad", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_StartDownLoad>},
    {"C_StopDownLoad", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_StopDownLoad>},
    {"C_DownLoadFile", &vordisp::Thunk<CMyBooksHtmlView, &CMyBooksHtmlView::C_DownLoadFile>},
    {nullptr, nullptr},
};

CString ReadKind(const CString& type) {
    return type == "mag" ? CString("mag_read") : CString("book_read");
}

bool ItemArgs(LPCSTR type, LPCSTR pid) {
    return pageviews::IsItemToken(type) && pageviews::IsItemToken(pid);
}

} // namespace

const VOR_DISPATCH_MAP* CMyBooksHtmlView::GetThisDispatchMap() {
    static const VOR_DISPATCH_MAP map = {&CVorHtmlView::GetThisDispatchMap, kEntries};
    return &map;
}

CString CMyBooksHtmlView::PageUserId(const CString& strUserId) {
    if (g_nUserMode != 0 || strUserId == kSharedUserId)
        return CString("-1");
    return strUserId;
}

CString CMyBooksHtmlView::FormatRecord(const CMagInfo& item) {
    CString text;
    text.Format("%s,%s,%d,%d,%s %s,%s", item.pic1.GetString(), item.pid.GetString(), item.down,
                item.GetPercent(), item.name.GetString(), item.date.GetString(), item.pid.GetString());
    return text;
}

// ---- what the main window tells the page

void CMyBooksHtmlView::NotifyReDownLoad(CString strState, CString strSortId, CString strPid) {
    if (m_bLoaded)
        CallJScript("js_ReDownLoad", strState, strSortId, strPid);
}

void CMyBooksHtmlView::ChangeShelfType(CString strType) {
    if (!m_bLoaded || strType != m_strType)
        return;
    CallJScript("ClearCategoryItem");
    C_InitClassList(strType.GetString());
}

void CMyBooksHtmlView::NotifyDownloadStopped(CString strType, CString strPid) {
    if (m_bLoaded && strType == m_strType)
        CallJScript("js_StopDownload", strType, strPid);
}

void CMyBooksHtmlView::NotifyDownloadFailed(CString strType, CString strPid) {
    if (m_bLoaded && strType == m_strType && !CallJScript("js_DownloadFailed", strType, strPid))
        CallJScript("js_StopDownload", strType, strPid);
}

void CMyBooksHtmlView::NotifyShown() {
    if (m_bLoaded)
        CallJScript("js_ShelfShown");
}

void CMyBooksHtmlView::NotifyDownloadStarted(CString strType, CString strPid) {
    if (m_bLoaded && strType == m_strType)
        CallJScript("js_StartDownload", strType, strPid);
}

void CMyBooksHtmlView::NotifyProgress(CString strPid, CString strType, CString strPercent) {
    if (m_bLoaded && strType == m_strType)
        CallJScript("ShowProgress", strPid, strType, strPercent);
}

void CMyBooksHtmlView::NotifyUserId(CString strUserId) {
    if (m_bLoaded)
        CallJScript("InitUID", PageUserId(strUserId));
}

void CMyBooksHtmlView::SelectShelf(CString strType, CString strCategory) {
    m_strRequestedType = strType;
    m_strPendingCategory = "id_" + strCategory;
    if (!m_bLoaded)
        return;
    if (strType != m_strType) {
        if (m_strRequestedType == "book") {
            m_strRequestedType = "";
            CallJScript("SelBook");
        }
        if (m_strRequestedType == "mag") {
            m_strRequestedType = "";
            CallJScript("SelMag");
        }
        if (!m_strPendingCategory.IsEmpty()) {
            CallJScript("CategoryItemClick", m_strPendingCategory);
            m_strPendingCategory = "";
        }
    } else {
        CallJScript("CategoryItemClick", m_strPendingCategory);
        m_strPendingCategory = "";
    }
}

// ---- page methods

BOOL CMyBooksHtmlView::C_InitClassList(LPCSTR type) {
    CString strType(type);
    CString text;
    g_CommonFunc.ReadWholeFile(
        strType == "book" ? g_AppPathInfo.m_strBookClassXml : g_AppPathInfo.m_strMagClassXml, text);
    m_strType = strType;
    CArray<CSortInfo*, CSortInfo*> sorts;
    g_CommonFunc.ParseSortClass(g_CommonFunc.ConvertCodePage(text, CP_UTF8, CP_ACP), sorts);
    CallJScript("AddCategoryItem", "new_read", CString(AfxUtf8ToAnsi("最近阅读")));
    m_bLoaded = TRUE;
    if (sorts.GetSize() == 0)
        return FALSE;
    CString sortIds = g_MagShelf.GetSortIdList(strType);
    for (INT_PTR i = 0; i < sorts.GetSize(); ++i) {
        if (CMagShelf::SortIdListHas(sortIds, sorts[i]->id))
            CallJScript("AddCategoryItem", "id_" + sorts[i]->id, sorts[i]->sort_name);
    }
    for (INT_PTR i = 0; i < sorts.GetSize(); ++i)
        delete sorts[i];
    return TRUE;
}

BOOL CMyBooksHtmlView::C_Load(LPCSTR) {
    if (!g_UserInfo.userid.IsEmpty())
        CallJScript("InitUID", PageUserId(g_UserInfo.userid));
    return m_strRequestedType.IsEmpty() ? TRUE : FALSE;
}

BOOL CMyBooksHtmlView::C_Go_Shelf(LPCSTR) {
    CallJScript(m_strRequestedType == "book" ? "SelBook" : "SelMag");
    if (!m_strPendingCategory.IsEmpty()) {
        CallJScript("CategoryItemClick", m_strPendingCategory);
        m_strPendingCategory = "";
    }
    return TRUE;
}

BOOL CMyBooksHtmlView::C_GoShelf(LPCSTR type, LPCSTR category) {
    pageviews::SendInfoEvent(EVT_GO_SHELF, "", category, type);
    CallJScript("js_dgclose");
    return TRUE;
}

BOOL CMyBooksHtmlView::C_LoadBookShelf(LPCSTR type, LPCSTR category) {
    CString kind(type);
    CString strCategory(category);
    if (strCategory == "new_read") {
        kind = ReadKind(kind);
        strCategory = "";
    }
    CMagInfoList list;
    if (!g_MagShelf.GetList(kind, list))
        return FALSE;
    if (list.GetSize() == 0) {
        CallJScript("ClearBookShelf");
        return FALSE;
    }
    CString filter;
    if (!strCategory.IsEmpty()) {
        CStringArray parts;
        g_CommonFunc.SplitString(strCategory, "_", parts);
        if (parts.GetSize() != 2)
            return FALSE;
        filter = parts[1];
    }
    CString text;
    std::vector<CMagInfo*> listed;
    {
        CMagShelfLock lock;
        for (INT_PTR i = 0; i < list.GetSize(); ++i) {
            CMagInfo* item = list[i];
            if (!item || (!filter.IsEmpty() && item->sort_id != filter))
                continue;
            if (!text.IsEmpty())
                text += ";";
            // A queued item shows as stopped: the page offers to start it, which queues it again.
            if (item->down == DOWN_STATE_WAITING)
                item->down = DOWN_STATE_STOPPED;
            text += FormatRecord(*item);
            listed.push_back(item);
        }
    }
    CallJScript("ClearBookShelf");
    if (!text.IsEmpty())
        CallJScript("InitBooksData", text);
    // The record text has no word for a failure, which the shelf files keep as a stop: the page
    // hears of each failed download it lists.
    for (CMagInfo* item : listed) {
        if (g_DownLoadManager.HasFailed(item)) {
            CString pid;
            {
                CMagShelfLock lock;
                pid = item->pid;
            }
            CallJScript("js_DownloadFailed", CString(type), pid);
        }
    }
    return TRUE;
}

BOOL CMyBooksHtmlView::C_LocalRead(LPCSTR type, LPCSTR pid) {
    if (!ItemArgs(type, pid))
        return FALSE;
    if (CMagInfo* item = g_MagShelf.Find(type, pid))
        g_pMainDlg.SendEvent(EVT_READ_LOCAL, reinterpret_cast<LPARAM>(item));
    return TRUE;
}

BOOL CMyBooksHtmlView::C_ReadFile(LPCSTR type, LPCSTR pid, LPCSTR third) {
    if (!ItemArgs(type, pid))
        return FALSE;
    if (CMagInfo* item = g_MagShelf.Find(type, pid))
        g_pMainDlg.SendEvent(EVT_READ_LOCAL, reinterpret_cast<LPARAM>(item));
    else
        pageviews::SendInfoEvent(EVT_READ_ONLINE, third, pid, type);
    return TRUE;
}

BOOL CMyBooksHtmlView::C_UserLogin(LPCSTR userid, LPCSTR username, LPCSTR password, LPCSTR vip, LPCSTR money,
                                   LPCSTR autologin) {
    if (!pageviews::UpdateLoginRecord(userid, username, password, vip, money, autologin))
        return FALSE;
    g_pMainDlg.SendEvent(EVT_USER_LOGIN, 0);
    return TRUE;
}

BOOL CMyBooksHtmlView::C_ShowLogin(LPCSTR) {
    CLoginDlg dlg(nullptr);
    dlg.DoModal();
    return TRUE;
}

BOOL CMyBooksHtmlView::C_OpenFolder(LPCSTR type, LPCSTR pid) {
    if (!ItemArgs(type, pid))
        return FALSE;
    CString params;
    {
        CMagShelfLock lock;
        CMagInfo* item = g_MagShelf.Find(type, pid);
        if (!item)
            return TRUE;
        if (item->down == DOWN_STATE_DONE)
            params.Format("/select,%s", item->savepath.GetString());
        else
            params.Format("/select,%s.temp", item->savepath.GetString());
    }
    // The platform's file manager call takes the path as one argument; no shell sees it.
    ShellExecute(nullptr, "open", "explorer.exe", params.GetString(), nullptr, SW_SHOWNORMAL);
    return TRUE;
}

BOOL CMyBooksHtmlView::C_DeleteFile(LPCSTR type, LPCSTR category, LPCSTR pid) {
    if (!ItemArgs(type, pid))
        return FALSE;
    CString strCategory(category);
    CString kind(type);
    bool recent = strCategory == "new_read";
    if (recent)
        kind = ReadKind(kind);
    CMagInfo* item = g_MagShelf.Find(kind, pid);
    if (!item)
        return TRUE;
    // Off the shelf the record's transfer stops, and neither its package nor its partial file
    // stays behind: a new download of the item starts from its first byte.
    if (!recent)
        g_DownLoadManager.Discard(item);
    g_MagShelf.Remove(kind, pid);
    return TRUE;
}

BOOL CMyBooksHtmlView::C_StartDownLoad(LPCSTR type, LPCSTR pid) {
    if (!ItemArgs(type, pid))
        return FALSE;
    // The manager starts only a stopped or waiting record, so a loading or finished one never
    // gets a second transfer over its package.
    g_DownLoadManager.StartDownLoad(type, pid);
    return TRUE;
}

BOOL CMyBooksHtmlView::C_StopDownLoad(LPCSTR type, LPCSTR pid) {
    if (!ItemArgs(type, pid))
        return FALSE;
    g_DownLoadManager.Stop(nullptr, g_MagShelf.Find(type, pid));
    return TRUE;
}

BOOL CMyBooksHtmlView::C_DownLoadFile(LPCSTR type, LPCSTR pid, LPCSTR third) {
    if (!ItemArgs(type, pid))
        return FALSE;
    pageviews::SendInfoEvent(EVT_DOWNLOAD_FILE, third, pid, type);
    return TRUE;
}
