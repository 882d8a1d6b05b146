// The engine's own page-to-program round trip, for the bridge's benchmark to measure beside its
// own: the page posts to a script message handler, the program answers by evaluating script
// that posts again. User-interface thread only; runs the GLib main context while it measures.
#pragma once

#include "platform/web/WebKitBrowser.h"

#include <vector>

namespace afxweb {

// The time of each of n round trips in microseconds, in the page the browser shows now; fewer
// when the page stops answering for timeoutMs.
std::vector<double> MeasureEngineRoundTrips(CWebKitBrowser& browser, int n, int timeoutMs = 10000);

} // namespace afxweb
