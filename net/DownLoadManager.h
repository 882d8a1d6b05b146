// CDownLoadManager: turns a store page's download request into a shelf record and a package on
// disk. A request worker asks the store for the item's record; download workers fetch packages,
// covers and the category files, at most MAX_AUTO_DOWNLOADS items starting on their own. Every
// step reaches the main window as an application event.
#pragma once

#include "library/MagInfo.h"
#include "net/AppMessages.h"
#include "net/MyHttp.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <vector>

#define MAX_AUTO_DOWNLOADS 5

// result is the package path (downloads) or the reply text (item requests); nHttpResult the
// transfer's own result, so completion never rests on a file that merely exists; bStopped tells
// a transfer that was asked to stop from one that failed on its own.
typedef void (*DownLoadDoneProc)(void* context, CString result, int nHttpResult, BOOL bStopped);

// The one call from a worker into the main window that is not a message.
typedef void (*SetPendingShelfTypeProc)(CString strType);

// The parameters of one worker thread; the worker owns it.
struct CDownLoadTask {
    CString strUrl;
    CString strPath;
    void* pContext = nullptr;
    LONGLONG nResumeOffset = 0;
    DownLoadProgressProc pfnProgress = nullptr;
    DownLoadDoneProc pfnDone = nullptr;
    CMyHttp* pHttp = nullptr; // download workers: made and registered by the starter
};

extern int g_nDownLoadCount;
extern CCriticalSection g_csDownLoadState;
extern CCriticalSection g_csDownLoadHttp;

class CDownLoadManager {
public:
    BOOL AddDownLoad(CString type, CString pid);
    BOOL StartWaiting();
    void StartDownLoad(CString type, CString pid);
    void Stop(CMyHttp* http, CMagInfo* item);
    void StopAll();
    BOOL StartDownLoadThread(void* context, CString url, CString path, LONGLONG resumeOffset,
                             DownLoadDoneProc done, DownLoadProgressProc progress);

    // Exit: no new transfer starts, events stop reaching the main window, every transfer is
    // stopped and the workers are waited for (handling their pending sends) for at most
    // dwMilliseconds. TRUE when every worker has ended. Call on the main window's thread.
    BOOL Shutdown(DWORD dwMilliseconds);
    // Allows starts again after Shutdown (a new run within one process: tests).
    void Reopen();

    void SetPendingShelfTypeHook(SetPendingShelfTypeProc proc) { m_pfnSetPendingShelfType = proc; }

    // Other workers with transfers (the update check) join the registry and the worker count, so
    // StopAll reaches them and Shutdown waits for them. BeginWorker is FALSE, counting nothing,
    // once Shutdown has begun.
    BOOL BeginWorker();
    void EndWorker() { WorkerEnded(); }
    void RegisterHttp(CMyHttp* http, void* context);
    void UnregisterHttp(CMyHttp* http, void* context);

    int GetRunningCount();
    int GetWorkerCount();
    BOOL IsDownLoading(CMagInfo* item);

    // Whether the record's last transfer ended without its package although nobody stopped it
    // (the store went away, the file could not be made): the shelf shows it as failed until it
    // starts again. Known for this run only; the shelf files keep such a record as stopped.
    BOOL HasFailed(CMagInfo* item);
    // The record leaves the shelf: its transfer stops, and its package and partial file go now
    // and, should the transfer still be writing, once it has ended. Nothing starts it again.
    void Discard(CMagInfo* item);
    // Deletes a package and its ".temp" file, each only when it is a regular file inside the
    // download folder: the path comes from the store's texts.
    static void DeletePackageFiles(const CString& savepath);

    // The package path of a record in the download folder, and its cover path: the store's
    // texts made safe to stand in a file name. The package's name, and the name of its ".temp"
    // file, fit the file system's limit in its own encoding: name and date are shortened as
    // needed, "[pid].exe" stays whole.
    static CString BuildPackagePath(CString folder, CString name, CString date, CString pid);
    static CString BuildCoverPath(CString imagesDir, CString type, CString pid);
    static CString SafeFileNamePart(CString part);

    // Callbacks and thread procedures (public so the framework-style procedures can reach them).
    static void OnTouchReply(void* context, CString reply, int nHttpResult, BOOL bStopped);
    static int OnDownLoadProgress(void* context, LONGLONG bytesDone, LONGLONG bytesTotal);
    static void OnDownLoadDone(void* context, CString result, int nHttpResult, BOOL bStopped);
    static void OnIgnoreDone(void* context, CString result, int nHttpResult, BOOL bStopped);

private:
    void StartRequestThread(void* context, CString url, DownLoadDoneProc done);
    void StartNextWaiting();
    // Starts a record already counted and set to loading; sends EVT_DOWNLOAD_STARTED when asked.
    void Launch(CMagInfo* item, BOOL bSendStarted);
    // The worker, created suspended; nullptr when nothing started.
    CWinThread* BeginDownLoadThread(void* context, CString url, CString path, LONGLONG resumeOffset,
                                    DownLoadDoneProc done, DownLoadProgressProc progress);
    void UndoStart(CMagInfo* item);
    // A record about to start: its failure is forgotten, and a place on disk too long for the
    // file system (one an earlier build gave it) is made to fit. Under g_csDownLoadState and the
    // shelf's lock.
    void PrepareStartLocked(CMagInfo* item);

    static UINT RequestThreadProc(LPVOID param);
    static UINT DownLoadThreadProc(LPVOID param);
    void WorkerStarted();
    void WorkerEnded();

    SetPendingShelfTypeProc m_pfnSetPendingShelfType = nullptr;

    // A running transfer: its client, and its context (the record of an item package, null for a
    // cover, the texts "BOOK" and "MAG" for the category files).
    struct CTransfer {
        CMyHttp* pHttp;
        void* pContext;
    };
    // What the workers share. The registry of running transfers is guarded by g_csDownLoadHttp;
    // the failed and discarded records, like the records' states, by g_csDownLoadState; the
    // worker count, which no named lock covers, by a lock of our own.
    struct CSharedState {
        std::vector<CTransfer> transfers;
        std::set<CMagInfo*> failed;
        std::set<CMagInfo*> discarded;
        // Set from Shutdown until Reopen: nothing new starts.
        std::atomic<bool> bClosing{false};
        // Running worker threads (requests and downloads), for the bounded wait at exit.
        std::mutex workerLock;
        std::condition_variable workerIdle;
        int nWorkers = 0;
    };
    CSharedState m_state;
};

extern CDownLoadManager g_DownLoadManager;
