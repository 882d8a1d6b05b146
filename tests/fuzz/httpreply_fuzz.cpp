// The client's readers of outside input over arbitrary bytes: reply headers, chunked bodies (whole
// and in pieces of varying size), URLs and Location values. Nothing may read or write outside the
// bytes given, and the two chunked decoders must agree.
#include "net/MyHttp.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 20))
        return 0;
    const size_t piece = static_cast<size_t>(data[0] % 32) + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t n = size - 1;

    // Exact-size copies, so a read past the end is caught by the address sanitizer.
    std::vector<char> header(text, text + n);
    HttpHeaderInfo info;
    CMyHttp::ParseHeader(header.empty() ? nullptr : header.data(), static_cast<int>(n), info);
    if (info.status < 0 || info.status > 999 || info.contentLength < 0)
        abort();

    std::vector<char> whole(text, text + n);
    int decoded = CMyHttp::DecodeChunked(whole.empty() ? nullptr : whole.data(), static_cast<int>(n));
    if (decoded > static_cast<int>(n))
        abort();

    CChunkedDecoder dec;
    std::string out;
    bool ok = true;
    for (size_t at = 0; at < n && ok && !dec.IsDone(); at += piece)
        ok = dec.Feed(text + at, std::min(piece, n - at), out);
    // Fed up to its first zero byte, as the in-place decoder reads, both give the same result.
    if (!std::memchr(text, 0, n)) {
        bool piecewise = ok && dec.IsDone();
        if (piecewise != (decoded >= 0))
            abort();
        if (decoded >= 0 && (out.size() != static_cast<size_t>(decoded) ||
                             std::memcmp(out.data(), whole.data(), out.size()) != 0))
            abort();
    }

    std::string url(text, n);
    url.erase(std::find(url.begin(), url.end(), '\0'), url.end());
    HttpUrlInfo parsed;
    CMyHttp::ParseUrl(url.c_str(), parsed);
    if (parsed.port <= 0 || parsed.port > 65535 || parsed.path.IsEmpty() || parsed.path[0] != '/')
        abort();
    CString resolved = CMyHttp::ResolveLocation("http://host:81/a/b?c", url.c_str());
    (void)resolved;
    return 0;
}
