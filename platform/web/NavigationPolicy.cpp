#include "platform/web/NavigationPolicy.h"

#include <cctype>

namespace afxweb {

bool IsNavigationError(const FailedLoad& f) {
    if (!f.mainFrame)
        return false;
    switch (f.kind) {
    case LoadFailure::Network:
        return true;
    case LoadFailure::HttpStatus:
        return f.httpStatus >= 400;
    case LoadFailure::Cancelled:
    case LoadFailure::PolicyChange:
        return false;
    }
    return false;
}

std::string NavigationUrl(const std::string& s) {
    if (s.empty() || s[0] != '/')
        return s;
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
            url += static_cast<char>(c);
        else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

} // namespace afxweb
