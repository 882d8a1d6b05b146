// The application object's start-up: the steps from the socket layer to the main window's
// construction, the single-instance check against a running instance, and the hand-over and
// deployment that come before the main window runs.
//
// Used on the process's user-interface thread, before any window of this process exists. The
// single-instance mutex, once created by the first instance, is kept for the life of the process.
// Whatever becomes of the single-instance channel, two processes never run on one data folder:
// the one that runs holds the data folder's lock (a file in the data root) for as long as the
// application object lives, and the kernel drops it with the process however that ends.
#pragma once

#include "platform/afx.h"
#include "platform/kernel/FileLock.h"

class CPackInfo;

// The name of the single-instance mutex and of the main window's property.
#define APP_INSTANCE_NAME "kestrin4.0"
// The data folder's lock, in the data root.
#define APP_DATA_LOCK_NAME "instance.lock"

// How long a start waits for a data folder that another process holds to come free (that process
// may be ending) or for that process's main window to show, before it says so and ends.
extern DWORD g_dwDataFolderWaitMs;

class CHtmlVelkorsApp {
public:
    // Socket layer, user mode 0, data folders, the data folder's lock when it is free, user record.
    // FALSE when the socket layer cannot be used: the message of string 103 has then been shown,
    // and no folder or file was touched.
    BOOL InitBeforeMainWindow();

    // The main window of an instance that already runs, shown (also when it was hidden in the
    // notification area) and brought to the front; NULL when this is the first instance (or the
    // other has no main window yet).
    HWND FindRunningInstance();

    // With the main window object constructed (packInfo is its edition record): a second start
    // hands over to the running instance, a newer installed copy takes over, or the built-in
    // components are deployed. TRUE when this process goes on to run its main window. A second
    // start hands its own "-p <path>" command line over, the path made absolute against this
    // process's working folder, else the built-in item when it is due. A start that finds the data
    // folder held by a process it cannot hand over to says so (message 104) and ends.
    BOOL PrepareMainWindow(CPackInfo& packInfo, const CString& strCmdLine = CString());

    // The status the process ends with when PrepareMainWindow returned FALSE: 0 after a hand-over,
    // 1 when the data folder was in use.
    int GetEndStatus() const { return m_nEndStatus; }

private:
    // The other instance's main window, brought to the front; NULL when none shows.
    HWND FindInstanceWindow();
    // Waits until the data folder's lock is this process's or another instance's window shows;
    // that window, or NULL.
    HWND AwaitDataFolder();
    void ReportDataFolderInUse();

    CFileLock m_dataLock;
    // The lock could not be had because another process holds it (any other failure leaves the
    // folder unguarded rather than the program unable to start).
    BOOL m_bDataFolderBusy = FALSE;
    int m_nEndStatus = 0;
};
