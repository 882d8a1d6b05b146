// Compiled (not run) by the platform tests: a message map accepts handlers with exactly the
// signature their entry expects and refuses any other at compile time. Each PROBE_ value swaps in
// one faulty handler; without one the file must compile.
#include "platform/user/User.h"

class CProbeBase : public CWnd {
public:
    LRESULT OnBaseEvent(WPARAM, LPARAM) { return 1; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeBase, CWnd)
ON_MESSAGE(WM_USER + 1, OnBaseEvent)
END_MESSAGE_MAP()

class CProbeWnd : public CProbeBase {
public:
#if defined(PROBE_MESSAGE_PARAMETERS)
    LRESULT OnEvent(WPARAM) {
        return 0;
    }
#elif defined(PROBE_MESSAGE_RESULT)
    void OnEvent(WPARAM, LPARAM) {}
#else
    LRESULT OnEvent(WPARAM, LPARAM) {
        return 0;
    }
#endif
#if defined(PROBE_TIMER_PARAMETERS)
    void OnTimer(UINT) {}
#else
    void OnTimer(UINT_PTR) {}
#endif
#if defined(PROBE_COMMAND_PARAMETERS)
    void OnOpen(UINT) {}
#else
    void OnOpen() {}
#endif
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeWnd, CProbeBase)
ON_MESSAGE(WM_USER + 2, OnEvent)
ON_WM_TIMER()
ON_COMMAND(100, OnOpen)
END_MESSAGE_MAP()
