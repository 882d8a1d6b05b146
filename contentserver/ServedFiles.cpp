#include "contentserver/ServedFiles.h"

#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex s_routesMutex;
// By lower-cased address.
std::map<std::string, std::function<CString()>>& Routes() {
    static std::map<std::string, std::function<CString()>> routes;
    return routes;
}

std::string Lower(const CString& s) {
    std::string t = s.str();
    for (char& c : t)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return t;
}

// The part of a request below a folder's address, in the program's path form; false when it
// could reach outside the folder or names something hidden (a segment starting with ".", which
// also covers the steps "." and "..").
bool BelowFolder(const std::string& rest, std::string& relative) {
    relative.clear();
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos)
            end = rest.size();
        std::string segment = rest.substr(start, end - start);
        if (segment.empty() || segment[0] == '.' || segment.find_first_of("\\:") != std::string::npos)
            return false;
        if (!relative.empty())
            relative += '\\';
        relative += segment;
        start = end + 1;
    }
    return true;
}

} // namespace

void PublishServedPath(const CString& strUrl, std::function<CString()> fnPath) {
    std::lock_guard<std::mutex> lock(s_routesMutex);
    if (fnPath)
        Routes()[Lower(strUrl)] = std::move(fnPath);
    else
        Routes().erase(Lower(strUrl));
}

BOOL FindServedPath(const CString& strUrl, CString& strPath) {
    strPath.Empty();
    const std::string url = Lower(strUrl);
    std::function<CString()> fnPath;
    std::string relative;
    {
        std::lock_guard<std::mutex> lock(s_routesMutex);
        auto& routes = Routes();
        auto exact = routes.find(url);
        if (exact != routes.end()) {
            fnPath = exact->second;
        } else {
            // The longest folder address that starts the request takes it.
            size_t nPrefix = 0;
            for (const auto& [prefix, fn] : routes) {
                if (prefix.empty() || prefix.back() != '/' || url.compare(0, prefix.size(), prefix) != 0)
                    continue;
                if (prefix.size() > nPrefix) {
                    nPrefix = prefix.size();
                    fnPath = fn;
                }
            }
            if (!fnPath)
                return FALSE;
            // The rest keeps its case: the files on disk are named as they are.
            if (!BelowFolder(strUrl.str().substr(nPrefix), relative))
                return TRUE;
        }
    }
    // Asked outside the lock: the function may read state of its own under other locks.
    CString path = fnPath();
    if (!relative.empty()) {
        if (path.IsEmpty() || path.Right(1) != "\\")
            return TRUE;
        path += CString(relative);
    }
    strPath = path;
    return TRUE;
}
