// Which press of the left button is the second of a double click. The toolkit reports its own
// double clicks by its own settings; the program expects the platform's rule instead: a second
// press within the double-click time of the first, inside the double-click rectangle centred on
// it (the kernel's SM_CXDOUBLECLK x SM_CYDOUBLECLK), and a third press starts counting again.
// User-interface thread only.
#pragma once

#include "platform/user/WinUser.h"

namespace afxgtk {

class CClickRule {
public:
    static constexpr unsigned kTimeMs = 500;

    // A left press at the time (milliseconds of any steady clock) and screen point: whether it
    // completes a double click.
    bool Press(unsigned timeMs, POINT at) {
        bool dbl = m_armed && timeMs - m_time <= kTimeMs &&
                   2 * Abs(at.x - m_at.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
                   2 * Abs(at.y - m_at.y) <= GetSystemMetrics(SM_CYDOUBLECLK);
        m_armed = !dbl;
        m_time = timeMs;
        m_at = at;
        return dbl;
    }
    // Another button or a key between the presses breaks the pair.
    void Reset() { m_armed = false; }

private:
    static int Abs(int v) { return v < 0 ? -v : v; }
    bool m_armed = false;
    unsigned m_time = 0;
    POINT m_at{};
};

} // namespace afxgtk
