#include "net/DownLoadManager.h"

#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/MagShelf.h"
#include "net/StoreRequests.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
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

// The real, resolved Linux path of a folder or file of the program's Windows form; "" when it
// does not exist.
std::string RealPath(const CString& winPath) {
    std::string path;
    if (!AfxMapPath(winPath.GetString(), path))
        return std::string();
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
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

namespace {

// The longest file name the file system takes, counted in the bytes of its own encoding (UTF-8),
// where a character of the ANSI code page may take one byte more than it does here.
constexpr size_t kMaxNameBytes = 255;
const char kTempSuffix[] = ".temp";

// The characters of a safe name part that fit into nBudget bytes on disk, in order; a character
// the file system's encoding cannot take becomes "_". nBudget is lowered by what was taken.
std::string FitOnDisk(const CString& text, size_t& nBudget) {
    std::string out;
    const char* p = text;
    const int n = text.GetLength();
    for (int i = 0; i < n;) {
        const int len = IsDBCSLeadByte(static_cast<unsigned char>(p[i])) && i + 1 < n ? 2 : 1;
        std::string ch(p + i, static_cast<size_t>(len)), utf8;
        if (!AfxAnsiToUtf8(ch, utf8)) {
            ch = "_";
            utf8 = "_";
        }
        if (utf8.size() > nBudget)
            break;
        nBudget -= utf8.size();
        out += ch;
        i += len;
    }
    return out;
}

// The last part of a Windows-form path (after its last backslash, trail bytes aside).
int NameStart(const CString& path) {
    return path.ReverseFind('\\') + 1;
}

// Whether a package's file name and its ".temp" file's name fit the file system.
bool FitsOnDisk(const CString& path) {
    std::string utf8;
    CString name = path.Mid(NameStart(path));
    return AfxAnsiToUtf8(std::string(name), utf8) && utf8.size() + strlen(kTempSuffix) <= kMaxNameBytes;
}

} // namespace

CString CDownLoadManager::BuildPackagePath(CString folder, CString name, CString date, CString pid) {
    CString tail;
    tail.Format("[%s].exe", SafeFileNamePart(pid).GetString());
    size_t nBudget = kMaxNameBytes - strlen(kTempSuffix);
    // The pid names the record's file: it is kept whole, and only what room is left goes to the
    // name and date. A pid too long even for that gives a file that cannot be made, which the
    // download reports as failed.
    std::string fittedTail = FitOnDisk(tail, nBudget);
    std::string head;
    if (fittedTail.size() == static_cast<size_t>(tail.GetLength()))
        head = FitOnDisk(SafeFileNamePart(name) + SafeFileNamePart(date), nBudget);
    else
        fittedTail = tail.str();
    return folder + CString(head.c_str()) + CString(fittedTail.c_str());
}

void CDownLoadManager::DeletePackageFiles(const CString& savepath) {
    std::string folder = RealPath(g_AppPathInfo.GetDownloadFolder());
    if (folder.empty() || savepath.IsEmpty())
        return;
    for (const CString& winPath : {savepath, savepath + kTempSuffix}) {
        std::string path;
        if (!AfxMapPath(winPath.GetString(), path))
            continue;
        // Never a folder, a link or anything outside the download folder.
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        size_t slash = path.find_last_of('/');
        std::string parent =
            RealPath(CString(AfxUnmapPath(slash == 0 ? std::string("/") : path.substr(0, slash)).c_str()));
        if (parent.empty() || (parent != folder && parent.compare(0, folder.size() + 1, folder + "/") != 0))
            continue;
        unlink(path.c_str());
    }
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
            done(context, "", MYHTTP_ERR_CONNECT, FALSE);
        delete task;
    }
}

UINT CDownLoadManager::RequestThreadProc(LPVOID param) {
    auto* task = static_cast<CDownLoadTask*>(param);
    CString body;
    int nResult;
    BOOL bStopped;
    {
        // In the registry while it runs, so an exit stops it like any transfer. Its context is the
        // request's own record, never an item, so no item's stop or start finds it.
        CMyHttp http;
        g_DownLoadManager.RegisterHttp(&http, task->pContext);
        nResult = http.GetUrl(task->strUrl, nullptr, 0, "", body);
        g_DownLoadManager.UnregisterHttp(&http, task->pContext);
        bStopped = http.IsStopped();
    }
    CString reply;
    if (nResult == MYHTTP_OK)
        reply = g_CommonFunc.ConvertCodePage(body, CP_UTF8, CP_ACP);
    if (task->pfnDone != nullptr)
        task->pfnDone(task->pContext, reply, nResult, bStopped);
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
    const BOOL bStopped = http->IsStopped();
    delete http;
    if (task->pfnDone != nullptr)
        task->pfnDone(task->pContext, task->strPath, nResult, bStopped);
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

void CDownLoadManager::OnTouchReply(void* context, CString reply, int /*nHttpResult*/, BOOL /*bStopped*/) {
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
            g_DownLoadManager.m_state.failed.erase(item);
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

void CDownLoadManager::PrepareStartLocked(CMagInfo* item) {
    m_state.failed.erase(item);
    if (!FitsOnDisk(item->savepath)) {
        const CString path = item->savepath;
        item->savepath = BuildPackagePath(path.Left(NameStart(path)), item->name, item->date, item->pid);
    }
}

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
        // queue instead of holding it up, and so does one on its way off the shelf.
        while ((item = g_MagShelf.FindFirstWaiting()) != nullptr &&
               (item->savepath.IsEmpty() || m_state.discarded.count(item) != 0))
            item->down = DOWN_STATE_STOPPED;
        if (item != nullptr) {
            item->down = DOWN_STATE_LOADING;
            ++g_nDownLoadCount;
            PrepareStartLocked(item);
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
            item->savepath.IsEmpty() || m_state.discarded.count(item) != 0)
            return;
        item->down = DOWN_STATE_LOADING;
        ++g_nDownLoadCount;
        PrepareStartLocked(item);
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

void CDownLoadManager::OnDownLoadDone(void* context, CString result, int nHttpResult, BOOL bStopped) {
    auto* item = static_cast<CMagInfo*>(context);
    if (item == nullptr)
        return;
    const bool bDone = nHttpResult == MYHTTP_OK && g_CommonFunc.FileExists(result);
    bool bDiscarded;
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        bDiscarded = g_DownLoadManager.m_state.discarded.count(item) != 0;
        // Known before the event goes out, so whoever hears it can tell a failure from a stop.
        if (!bDone && !bStopped && !bDiscarded)
            g_DownLoadManager.m_state.failed.insert(item);
    }
    if (bDiscarded) {
        // Deleted from the shelf while it ran: what the transfer left on disk goes too, and no
        // one is told of a record no page lists.
        DeletePackageFiles(result);
    } else if (!bDone) {
        SendEvent(EVT_DOWNLOAD_FAILED, ItemParam(item));
    }
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        CMagShelfLock shelfLock;
        item->down = bDone && !bDiscarded ? DOWN_STATE_DONE : DOWN_STATE_STOPPED;
        --g_nDownLoadCount;
        if (bDone) {
            // The file itself gives the lengths: a quick download has had no progress report.
            LONGLONG nSize = static_cast<LONGLONG>(g_CommonFunc.GetFileLength(result));
            item->downlen = nSize;
            item->filelen = nSize;
        }
    }
    if (bDone && !bDiscarded)
        SendProgress(item, 100);
    g_MagShelf.Save(TypeOf(item));
    g_DownLoadManager.StartNextWaiting();
}

void CDownLoadManager::OnIgnoreDone(void*, CString, int, BOOL) {}

BOOL CDownLoadManager::HasFailed(CMagInfo* item) {
    CSingleLock lock(&g_csDownLoadState, TRUE);
    return m_state.failed.count(item) != 0 ? TRUE : FALSE;
}

void CDownLoadManager::Discard(CMagInfo* item) {
    if (item == nullptr)
        return;
    CString savepath;
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        m_state.discarded.insert(item);
        m_state.failed.erase(item);
        CMagShelfLock shelfLock;
        savepath = item->savepath;
    }
    Stop(nullptr, item);
    // A worker still running has the partial file open; it deletes it again once it has ended.
    DeletePackageFiles(savepath);
}

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
