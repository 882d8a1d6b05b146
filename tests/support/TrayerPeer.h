// A real XEmbed tray host for on-screen tests: trayer at the top left of the current DISPLAY,
// 120 x 32 pixels, not docked, so the icons it embeds sit where a test can find them. Used from
// the test's main thread; the tray ends with its PeerProcess.
#pragma once

#include "tests/support/PeerProcess.h"

inline bool StartTrayer(PeerProcess& tray) {
    return tray.Start({"trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel", "--width", "120",
                       "--heighttype", "pixel", "--height", "32", "--SetDockType", "false", "--transparent",
                       "false"},
                      false);
}
