// Which failed loads a page view treats as a navigation error (and answers with its error page),
// and how a local path becomes a URL. Toolkit-free so the rules are tested without an engine.
#pragma once

#include <string>

namespace afxweb {

enum class LoadFailure {
    Network,      // no connection, refused, unknown host, bad certificate, ...
    HttpStatus,   // the server answered with a status of 400 or more
    Cancelled,    // a newer navigation or Stop replaced it
    PolicyChange, // the program refused it or took it elsewhere (a download, a refused site)
};

struct FailedLoad {
    LoadFailure kind = LoadFailure::Network;
    bool mainFrame = true;
    int httpStatus = 0;
};

// True for a failure the user should see as the error page: a main-frame load that failed or
// got an error status, never a cancelled or refused one, never a sub-frame.
bool IsNavigationError(const FailedLoad& f);

// A URL for what Navigate2 was given: a URL as it is, an absolute local path as a file URL
// (its bytes percent-encoded as needed), "" for "".
std::string NavigationUrl(const std::string& urlOrPath);

} // namespace afxweb
