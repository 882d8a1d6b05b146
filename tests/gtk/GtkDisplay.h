// The private X display and GTK for code that runs on a screen: the on-screen tests and the
// benchmarks that need the browser engine. Started once per process, on the thread that calls it
// first, and kept until the process ends, since GTK keeps its connection open.
#pragma once

#include "tests/support/XvfbDisplay.h"

#include <gtk/gtk.h>

#include <cstdlib>

namespace gtkscreen {

// Starts the display and GTK once per process; false when either fails.
inline bool OpenDisplay() {
    static XvfbDisplay* x = nullptr;
    static bool ok = false;
    if (!x) {
        x = new XvfbDisplay; // lives as long as the process: GTK keeps its connection open
        unsetenv("WAYLAND_DISPLAY");
        setenv("GDK_BACKEND", "x11", 1);
        setenv("NO_AT_BRIDGE", "1", 1);
        setenv("GTK_A11Y", "none", 1);
        setenv("GSETTINGS_BACKEND", "memory", 1); // no session bus for dconf under Xvfb
        ok = x->Start() && gtk_init_check(nullptr, nullptr);
    }
    return ok;
}

} // namespace gtkscreen
