// The application object's start-up: the steps from the socket layer to the main window's
// construction, the single-instance check against a running instance, and the hand-over and
// deployment that come before the main window runs.
//
// Used on the process's user-interface thread, before any window of this process exists. The
// single-instance mutex, once created by the first instance, is kept for the life of the process.
#pragma once

#include "platform/afx.h"

class CPackInfo;

// The name of the single-instance mutex and of the main window's property.
#define APP_INSTANCE_NAME "kestrin4.0"

class CHtmlVelkorsApp {
public:
    // Socket layer, user mode 0, data folders, user record. FALSE when the socket layer cannot be
    // used: the message of string 103 has then been shown, and no folder or file was touched.
    BOOL InitBeforeMainWindow();

    // The main window of an instance that already runs, shown (also when it was hidden in the
    // notification area) and brought to the front; NULL when this is the first instance (or the
    // other has no main window yet).
    HWND FindRunningInstance();

    // With the main window object constructed (packInfo is its edition record): a second start
    // hands over to the running instance, a newer installed copy takes over, or the built-in
    // components are deployed. TRUE when this process goes on to run its main window. A second
    // start hands its own "-p <path>" command line over, else the built-in item when it is due.
    BOOL PrepareMainWindow(CPackInfo& packInfo, const CString& strCmdLine = CString());
};
