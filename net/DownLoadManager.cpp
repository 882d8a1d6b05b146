#include "net/DownLoadManager.h"

#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/MagShelf.h"
#include "net/StoreRequests.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

CDownLoadManager g_DownLoadManager;

int g_nDownLoadCount = 0;
CCriticalSection g_csDownLoadState;
CCriticalSection g_csDownLoadHttp;

namespace {

void SendEvent(WPARAM code, LPARAM payload) {
    g_pMainDlg.SendEvent(code, payload);
}

LPARAM ItemParam(CMagInfo* item) {
    return reinterpret_cast<LPARAM>(item);
}

void SendProgress(CMagInfo* item, int nPercent) {
    CMsgInfo msg;
    {
        CMagShelfLock lock;
        msg.m_strParam1 = item->pid;
        msg.m_strParam2 = item->type;
    }
    msg.m_strParam3.Format("%d", nPercent);
    SendEvent(EVT_DOWNLOAD_PROGRESS, reinterpret_cast<LPARAM>(&msg));
}

CString TypeOf(CMagInfo* item) {
    CMagShelfLock lock;
    return item->type;
}

} // namespace

// --- file names ------------------------------------------------------------------------------

CString CDownLoadManager::SafeFileNamePart(CString part) {
    const int nMax = 255;
    std::string out;
    const char* p = part;
    int n = part.GetLength();
    for (int i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (IsDBCSLeadByte(c) && i + 1 < n && p[i + 1] != '\0') {
            // A double-byte character stays whole (its trail byte may be "\" or "|"), or not at all.
            if (static_cast<int>(out.size()) + 2 > nMax)
                break;
            out.append(p + i, 2);
            i += 2;
            continue;
        }
        if (static_cast<int>(out.size()) + 1 > nMax)
            break;
        if (c < 0x20 || c == 0x7F || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|' || c >= 0x80)
            out += '_';
        else
            out += static_cast<char>(c);
        ++i;
    }
    if (out == "." || out == "..")
        out.assign(out.size(), '_');
    return CString(out.c_str());
}

CString CDownLoadManager::BuildPackagePath(CString folder, CString name, CString date, CString pid) {
    CString path;
    path.Format("%s%s%s[%s].exe", folder, SafeFileNamePart(name), SafeFileNamePart(date),
                SafeFileNamePart(pid));
    return path;
}

CString CDownLoadManager::BuildCoverPath(CString imagesDir, CString type, CString pid) {
    CString path;
    path.Format("%s\\%s\\%s.jpg", imagesDir, SafeFileNamePart(type), SafeFileNamePart(pid));
    return path;
}

// --- the registry ----------------------------------------------------------------------------

void CDownLoadManager::RegisterHttp(CMyHttp* http, void* context) {
    CSingleLock lock(&g_csDownLoadHttp, TRUE);
    m_state.transfers.push_back({http, context});
}

void CDownLoadManager::UnregisterHttp(CMyHttp* http, void* context) {
    CSingleLock lock(&g_csDownLoadHttp, TRUE);
    auto& v = m_state.transfers;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (http != nullptr ? it->pHttp == http : it->pContext == context) {
            v.erase(it);
            return;
        }
    }
}

BOOL CDownLoadManager::IsDownLoading(CMagInfo* item) {
    CSingleLock lock(&g_csDownLoadHttp, TRUE);
    for (const CTransfer& t : m_state.transfers)
        if (t.pContext == item)
            return TRUE;
    return FALSE;
}

void CDownLoadManager::Stop(CMyHttp* http, CMagInfo* item) {
    // Under the registry lock: a worker unregisters under it before its CMyHttp goes away.
    CSingleLock lock(&g_csDownLoadHttp, TRUE);
    for (const CTransfer& t : m_state.transfers) {
        bool match =
            http != nullptr ? t.pHttp == http : (item != nullptr && t.pContext == static_cast<void*>(item));
        if (match) {
            t.pHttp->Stop();
            return;
        }
    }
}

void CDownLoadManager::StopAll() {
    CSingleLock lock(&g_csDownLoadHttp, TRUE);
    for (const CTransfer& t : m_state.transfers)
        t.pHttp->Stop();
}

int CDownLoadManager::GetRunningCount() {
    CSingleLock lock(&g_csDownLoadState, TRUE);
    return g_nDownLoadCount;
}

// --- workers ---------------------------------------------------------------------------------

void CDownLoadManager::WorkerStarted() {
    std::lock_guard<std::mutex> guard(m_state.workerLock);
    ++m_state.nWorkers;
}

BOOL CDownLoadManager::BeginWorker() {
    std::lock_guard<std::mutex> guard(m_state.workerLock);
    if (m_state.bClosing.load())
        return FALSE;
    ++m_state.nWorkers;
    return TRUE;
}

void CDownLoadManager::WorkerEnded() {
    // Notified under the lock: once the count reads 0 the waiter may go on to the program's end,
    // where the condition goes too.
    std::lock_guard<std::mutex> guard(m_state.workerLock);
    --m_state.nWorkers;
    m_state.workerIdle.notify_all();
}

int CDownLoadManager::GetWorkerCount() {
    std::lock_guard<std::mutex> guard(m_state.workerLock);
    return m_state.nWorkers;
}

void CDownLoadManager::StartRequestThread(void* context, CString url, DownLoadDoneProc done) {
    auto* task = new CDownLoadTask;
    task->strUrl = url;
    task->pContext = context;
    task->pfnDone = done;
    WorkerStarted();
    if (AfxBeginThread(RequestThreadProc, task, THREAD_PRIORITY_NORMAL) == nullptr) {
        WorkerEnded();
        if (done != nullptr)
            done(context, "", MYHTTP_ERR_CONNECT);
        delete task;
    }
}

UINT CDownLoadManager::RequestThreadProc(LPVOID param) {
    auto* task = static_cast<CDownLoadTask*>(param);
    CString body;
    int nResult;
    {
        // In the registry while it runs, so an exit stops it like any transfer. Its context is the
        // request's own record, never an item, so no item's stop or start finds it.
        CMyHttp http;
        g_DownLoadManager.RegisterHttp(&http, task->pContext);
        nResult = http.GetUrl(task->strUrl, nullptr, 0, "", body);
        g_DownLoadManager.UnregisterHttp(&http, task->pContext);
    }
    CString reply;
    if (nResult == MYHTTP_OK)
        reply = g_CommonFunc.ConvertCodePage(body, CP_UTF8, CP_ACP);
    if (task->pfnDone != nullptr)
        task->pfnDone(task->pContext, reply, nResult);
    delete task;
    g_DownLoadManager.WorkerEnded();
    return 0;
}

CWinThread* CDownLoadManager::BeginDownLoadThread(void* context, CString url, CString path,
                                                  LONGLONG resumeOffset, DownLoadDoneProc done,
                                                  DownLoadProgressProc progress) {
    if (m_state.bClosing.load())
        return nullptr;
    auto* task = new CDownLoadTask;
    task->strUrl = url;
    task->strPath = path;
    task->pContext = context;
    task->nResumeOffset = resumeOffset;
    task->pfnDone = done;
    task->pfnProgress = progress;
    task->pHttp = new CMyHttp;
    // Registered before the thread exists, so a second start sees it and an early stop reaches it.
    RegisterHttp(task->pHttp, context);
    WorkerStarted();
    CWinThread* thread =
        AfxBeginThread(DownLoadThreadProc, task, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (thread == nullptr) {
        UnregisterHttp(task->pHttp, context);
        delete task->pHttp;
        delete task;
        WorkerEnded();
    }
    return thread;
}

BOOL CDownLoadManager::StartDownLoadThread(void* context, CString url, CString path, LONGLONG resumeOffset,
                                           DownLoadDoneProc done, DownLoadProgressProc progress) {
    CWinThread* thread = BeginDownLoadThread(context, url, path, resumeOffset, done, progress);
    if (thread == nullptr)
        return FALSE;
    thread->ResumeThread();
    return TRUE;
}

UINT CDownLoadManager::DownLoadThreadProc(LPVOID param) {
    auto* task = static_cast<CDownLoadTask*>(param);
    CMyHttp* http = task->pHttp;
    if (task->pfnProgress != nullptr)
        http->SetProgressCallback(task->pfnProgress, task->pContext);
    if (task->nResumeOffset > 0)
        http->SetResumeOffset(task->nResumeOffset);
    CString strTemp = task->strPath + ".temp";
    int nResult = http->DownloadFile(task->strUrl, nullptr, 0, "", strTemp);
    if (nResult == MYHTTP_OK) {
        DeleteFile(task->strPath);
        if (!MoveFile(strTemp, task->strPath))
            nResult = MYHTTP_ERR_CONNECT;
    }
    // Out of the registry before the completion handling, which may start the next transfer.
    g_DownLoadManager.UnregisterHttp(http, task->pContext);
    delete http;
    if (task->pfnDone != nullptr)
        task->pfnDone(task->pContext, task->strPath, nResult);
    delete task;
    g_DownLoadManager.WorkerEnded();
    return 0;
}

// --- requests and replies --------------------------------------------------------------------

BOOL CDownLoadManager::AddDownLoad(CString type, CString pid) {
    CMagInfo* existing = nullptr;
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        if (g_MagShelf.Exists(type, pid))
            existing = g_MagShelf.Find(type, pid);
    }
    if (existing != nullptr) {
        SendEvent(EVT_DOWNLOAD_EXISTS, ItemParam(existing));
        return TRUE;
    }
    if (m_state.bClosing.load())
        return TRUE;
    auto* msg = new CMsgInfo;
    msg->m_strParam1 = pid;
    msg->m_strParam2 = type;
    StartRequestThread(msg, BuildItemRequestUrl(type, pid), OnTouchReply);
    return TRUE;
}

void CDownLoadManager::OnTouchReply(void* context, CString reply, int /*nHttpResult*/) {
    auto* msg = static_cast<CMsgInfo*>(context);
    const CString pid = msg->m_strParam1;
    const CString type = msg->m_strParam2;
    if (reply.IsEmpty())
        SendEvent(EVT_ITEM_REQUEST_FAILED, reinterpret_cast<LPARAM>(msg));

    // Only records this reply added may be prepared: one already on the shelf may be loading or
    // done. Of those, the one asked for is the item, else the first in the reply's order.
    CMagInfo* item = nullptr;
    CMagInfoList added;
    {
        CMagShelfLock lock;
        CMagInfoList before, after;
        g_MagShelf.GetList(type, before);
        CMagInfo* last = g_MagShelf.AddFromXml(reply, type);
        if (last != nullptr) {
            g_MagShelf.GetList(type, after);
            for (CMagInfo* p : after) {
                bool old = false;
                for (CMagInfo* q : before)
                    old = old || q == p;
                if (!old)
                    added.Add(p);
            }
            CMagInfoList parsed;
            g_MagShelf.ParseBooklist(reply, parsed, FALSE);
            for (INT_PTR i = 0; i < parsed.GetSize() && item == nullptr; ++i)
                if (parsed[i]->pid == pid)
                    item = g_MagShelf.FindByPid(pid, added);
            for (INT_PTR i = 0; i < parsed.GetSize() && item == nullptr; ++i)
                item = g_MagShelf.FindByPid(parsed[i]->pid, added);
            for (CMagInfo* p : parsed)
                delete p;
            if (item == nullptr)
                item = last;
        }
    }
    if (item == nullptr) {
        SendEvent(EVT_DOWNLOAD_EXISTS, 0);
        delete msg;
        return;
    }

    if (g_DownLoadManager.m_pfnSetPendingShelfType != nullptr)
        g_DownLoadManager.m_pfnSetPendingShelfType(type);
    const CString folder = g_AppPathInfo.GetDownloadFolder();
    CString url, savepath;
    {
        CMagShelfLock lock;
        item->downlen = 0;
        item->filelen = 0;
        item->savepath = BuildPackagePath(folder, item->name, item->date, item->pid);
        item->type = type;
        item->down = DOWN_STATE_STOPPED;
        url = item->load_url;
        savepath = item->savepath;
        // Other records of the reply were not asked for: listed, with a place on disk, but not
        // queued, so no completion starts them on their own.
        for (CMagInfo* p : added) {
            if (p == item)
                continue;
            p->savepath = BuildPackagePath(folder, p->name, p->date, p->pid);
            p->type = type;
            if (p->down != DOWN_STATE_DONE)
                p->down = DOWN_STATE_STOPPED;
        }
    }
    SendEvent(EVT_DOWNLOAD_ADDED, ItemParam(item));

    bool bStart = false;
    if (!g_DownLoadManager.m_state.bClosing.load()) {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        CMagShelfLock shelfLock;
        if (g_nDownLoadCount < MAX_AUTO_DOWNLOADS && item->down == DOWN_STATE_STOPPED) {
            ++g_nDownLoadCount;
            item->down = DOWN_STATE_LOADING;
            bStart = true;
        }
    }
    if (bStart &&
        !g_DownLoadManager.StartDownLoadThread(item, url, savepath, 0, OnDownLoadDone, OnDownLoadProgress))
        g_DownLoadManager.UndoStart(item);

    // The package transfer is registered by its starter, so it is always registered here once it
    // started; the cover is fetched whatever the package does.
    CString pic1, cover;
    {
        CMagShelfLock lock;
        pic1 = item->pic1;
        cover = BuildCoverPath(g_AppPathInfo.m_strImagesDir, type, item->pid);
    }
    CString cached = g_CommonFunc.GetUrlCacheFile(pic1);
    if (!cached.IsEmpty()) {
        CopyFile(cached, cover, TRUE);
        CMagShelfLock lock;
        item->pic1 = cover;
    } else if (!pic1.IsEmpty()) {
        g_DownLoadManager.StartDownLoadThread(nullptr, pic1, cover, 0, OnIgnoreDone, nullptr);
    }
    g_MagShelf.Save(type);
    delete msg;
}

// --- starting --------------------------------------------------------------------------------

void CDownLoadManager::UndoStart(CMagInfo* item) {
    CSingleLock lock(&g_csDownLoadState, TRUE);
    CMagShelfLock shelfLock;
    if (item->down == DOWN_STATE_LOADING) {
        item->down = DOWN_STATE_STOPPED;
        --g_nDownLoadCount;
    }
}

void CDownLoadManager::Launch(CMagInfo* item, BOOL bSendStarted) {
    CString url, savepath, type;
    {
        CMagShelfLock lock;
        url = item->load_url;
        savepath = item->savepath;
        type = item->type;
    }
    LONGLONG nHave = static_cast<LONGLONG>(g_CommonFunc.GetFileLength(savepath + ".temp"));
    {
        CMagShelfLock lock;
        item->downlen = nHave;
    }
    g_MagShelf.Save(type);
    CWinThread* thread = nullptr;
    if (!IsDownLoading(item))
        thread = BeginDownLoadThread(item, url, savepath, nHave, OnDownLoadDone, OnDownLoadProgress);
    if (thread == nullptr) {
        UndoStart(item);
        return;
    }
    // The worker waits until the start is announced, so the page hears of it before any progress.
    if (bSendStarted)
        SendEvent(EVT_DOWNLOAD_STARTED, ItemParam(item));
    thread->ResumeThread();
}

void CDownLoadManager::StartNextWaiting() {
    if (m_state.bClosing.load())
        return;
    CMagInfo* item = nullptr;
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        CMagShelfLock shelfLock;
        // A record that never had its place on disk prepared has nowhere to go: it leaves the
        // queue instead of holding it up.
        while ((item = g_MagShelf.FindFirstWaiting()) != nullptr && item->savepath.IsEmpty())
            item->down = DOWN_STATE_STOPPED;
        if (item != nullptr) {
            item->down = DOWN_STATE_LOADING;
            ++g_nDownLoadCount;
        }
    }
    if (item != nullptr)
        Launch(item, TRUE);
}

void CDownLoadManager::StartDownLoad(CString type, CString pid) {
    if (m_state.bClosing.load())
        return;
    CMagInfo* item = nullptr;
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        CMagShelfLock shelfLock;
        item = g_MagShelf.Find(type, pid);
        // Only a stopped or waiting record starts; one that loads or is done keeps its count.
        if (item == nullptr || (item->down != DOWN_STATE_STOPPED && item->down != DOWN_STATE_WAITING) ||
            item->savepath.IsEmpty())
            return;
        item->down = DOWN_STATE_LOADING;
        ++g_nDownLoadCount;
    }
    Launch(item, FALSE);
}

BOOL CDownLoadManager::StartWaiting() {
    for (int i = 0; i < MAX_AUTO_DOWNLOADS; ++i)
        StartNextWaiting();
    return TRUE;
}

// --- progress and completion -----------------------------------------------------------------

int CDownLoadManager::OnDownLoadProgress(void* context, LONGLONG bytesDone, LONGLONG bytesTotal) {
    auto* item = static_cast<CMagInfo*>(context);
    {
        CMagShelfLock lock;
        item->downlen = bytesDone;
        item->filelen = bytesTotal;
    }
    SendProgress(item, CMagInfo::CalcPercent(bytesDone, bytesTotal));
    g_MagShelf.Save(TypeOf(item));
    return 1;
}

void CDownLoadManager::OnDownLoadDone(void* context, CString result, int nHttpResult) {
    auto* item = static_cast<CMagInfo*>(context);
    if (item == nullptr)
        return;
    const bool bDone = nHttpResult == MYHTTP_OK && g_CommonFunc.FileExists(result);
    if (!bDone)
        SendEvent(EVT_DOWNLOAD_FAILED, ItemParam(item));
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        CMagShelfLock shelfLock;
        item->down = bDone ? DOWN_STATE_DONE : DOWN_STATE_STOPPED;
        --g_nDownLoadCount;
        if (bDone) {
            // The file itself gives the lengths: a quick download has had no progress report.
            LONGLONG nSize = static_cast<LONGLONG>(g_CommonFunc.GetFileLength(result));
            item->downlen = nSize;
            item->filelen = nSize;
        }
    }
    if (bDone)
        SendProgress(item, 100);
    g_MagShelf.Save(TypeOf(item));
    g_DownLoadManager.StartNextWaiting();
}

void CDownLoadManager::OnIgnoreDone(void*, CString, int) {}

// --- exit ------------------------------------------------------------------------------------

BOOL CDownLoadManager::Shutdown(DWORD dwMilliseconds) {
    m_state.bClosing.store(true);
    g_pMainDlg.Clear();
    StopAll();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    for (;;) {
        // Senders that were already waiting on this thread finish here.
        MSG msg;
        PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
        StopAll(); // a worker that began just before the flag was set
        std::unique_lock<std::mutex> lock(m_state.workerLock);
        if (m_state.nWorkers == 0)
            return TRUE;
        if (std::chrono::steady_clock::now() >= deadline)
            return FALSE;
        m_state.workerIdle.wait_for(lock, std::chrono::milliseconds(5));
    }
}

void CDownLoadManager::Reopen() {
    m_state.bClosing.store(false);
}
