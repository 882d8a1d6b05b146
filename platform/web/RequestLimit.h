// Which requests a page whose requests are limited may still make, as the web-process extension
// decides before each one leaves (see IBrowserEvents::RequestLimit for the entries). Header-only
// and toolkit-free, because the extension is a library of its own and the rule is tested
// without an engine.
#pragma once

#include <string>
#include <vector>

namespace afxweb {

// True when the request (its method and its URL as the engine is about to send it) matches one
// of the allowed entries, or is for data:, blob: or about:, which never leave the process.
inline bool RequestAllowed(const std::vector<std::string>& allowed, const std::string& method,
                           const std::string& url) {
    auto starts = [](const std::string& s, const char* p) {
        return s.compare(0, std::char_traits<char>::length(p), p) == 0;
    };
    if (starts(url, "data:") || starts(url, "blob:") || starts(url, "about:"))
        return true;
    for (const std::string& entry : allowed) {
        size_t blank = entry.find(' ');
        if (blank == std::string::npos)
            continue;
        std::string m = entry.substr(0, blank), u = entry.substr(blank + 1);
        if (m != "*" && m != method)
            continue;
        if (!u.empty() && u.back() == '*') {
            if (url.compare(0, u.size() - 1, u, 0, u.size() - 1) == 0)
                return true;
        } else if (url == u) {
            return true;
        }
    }
    return false;
}

} // namespace afxweb
