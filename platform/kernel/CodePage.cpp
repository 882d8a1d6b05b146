#include "platform/kernel/CodePage.h"
#include "platform/kernel/WinError.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <string>
#include <unordered_map>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The code page a caller names, with the ANSI aliases resolved.
UINT ResolveCodePage(UINT cp) {
    if (cp == CP_ACP || cp == CP_OEMCP || cp == CP_THREAD_ACP)
        return 936;
    return cp;
}

bool IsUtf16CodePage(UINT cp) {
    return cp == 1200 || cp == 1201 || cp == 12000 || cp == 12001;
}

// The glibc name of a code page, or nullptr when there is none: such a code page behaves as one
// that is not installed. GB18030 is never used for 936, its 4-byte forms would break the 2-byte
// lead-byte logic the program's strings rely on.
const char* IconvName(UINT cp) {
    switch (cp) {
    case 936:
        return "CP936";
    case 20936:
        return "GB2312";
    case 51936:
        return "EUC-CN";
    case 54936:
        return "GB18030";
    case 950:
        return "BIG5";
    case 932:
        return "CP932";
    case 949:
        return "CP949";
    case 874:
        return "CP874";
    case 437:
        return "CP437";
    case 850:
        return "CP850";
    case 866:
        return "CP866";
    case 1250:
        return "CP1250";
    case 1251:
        return "CP1251";
    case 1252:
        return "CP1252";
    case 1253:
        return "CP1253";
    case 1254:
        return "CP1254";
    case 1255:
        return "CP1255";
    case 1256:
        return "CP1256";
    case 1257:
        return "CP1257";
    case 1258:
        return "CP1258";
    case 20127:
        return "ASCII";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 28591:
        return "ISO-8859-1";
    case 28592:
        return "ISO-8859-2";
    case 28593:
        return "ISO-8859-3";
    case 28594:
        return "ISO-8859-4";
    case 28595:
        return "ISO-8859-5";
    case 28596:
        return "ISO-8859-6";
    case 28597:
        return "ISO-8859-7";
    case 28598:
        return "ISO-8859-8";
    case 28599:
        return "ISO-8859-9";
    case 28603:
        return "ISO-8859-13";
    case 28605:
        return "ISO-8859-15";
    case 50220:
    case 50221:
    case 50222:
        return "ISO-2022-JP";
    case 50225:
        return "ISO-2022-KR";
    case 51932:
        return "EUC-JP";
    case 51949:
        return "EUC-KR";
    case 65000:
        return "UTF-7";
    default:
        return nullptr;
    }
}

// Opening a converter loads glibc's conversion module each time, which costs far more than a
// short conversion; each thread keeps its converters, since a handle must never be shared.
class IconvCache {
public:
    IconvCache() = default;
    IconvCache(const IconvCache&) = delete;
    IconvCache& operator=(const IconvCache&) = delete;
    ~IconvCache() {
        for (auto& e : m_open)
            if (e.second != kNone)
                iconv_close(e.second);
    }
    // A converter in its initial state, or kNone when the pair is unknown to the system.
    iconv_t Get(const char* to, const char* from) {
        std::string key = std::string(to) + '\n' + from;
        auto it = m_open.find(key);
        if (it == m_open.end()) {
            iconv_t cd = iconv_open(to, from);
            // Only an unknown pair stays unknown: a converter that could not be opened for want
            // of a descriptor or of memory is opened again by the next conversion.
            if (cd == kNone && errno != EINVAL)
                return kNone;
            it = m_open.emplace(std::move(key), cd).first;
        }
        if (it->second != kNone)
            iconv(it->second, nullptr, nullptr, nullptr, nullptr);
        return it->second;
    }
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

private:
    std::unordered_map<std::string, iconv_t> m_open;
};

class Iconv {
public:
    Iconv(const char* to, const char* from) {
        thread_local IconvCache cache;
        m_cd = cache.Get(to, from);
    }
    bool ok() const { return m_cd != IconvCache::kNone; }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// UTF-8 to UTF-16. Each maximal invalid subsequence becomes one U+FFFD, as Windows does.
void DecodeUtf8(const unsigned char* s, size_t n, std::u16string& out, bool& bad) {
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int need;
        char32_t cp;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            cp = c & 0x0F;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            cp = c & 0x07;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            bad = true;
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        int got = 0;
        for (; got < need && j < n; ++got, ++j) {
            unsigned char t = s[j];
            if (t < lo || t > hi)
                break;
            lo = 0x80;
            hi = 0xBF;
            cp = (cp << 6) | (t & 0x3F);
        }
        if (got < need) {
            bad = true;
            out.push_back(kReplacement);
            i = j;
            continue;
        }
        AppendCodePoint(out, cp);
        i = j;
    }
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
void EncodeUtf8(const char16_t* w, size_t n, std::string& out, bool& bad) {
    for (size_t i = 0; i < n; ++i) {
        char32_t cp = w[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            bad = true;
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

// Multibyte to UTF-16 through iconv; an invalid or cut byte becomes U+FFFD and is skipped.
bool DecodeIconv(const char* name, const char* s, size_t n, std::u16string& out, bool& bad) {
    Iconv cd("UTF-16LE", name);
    if (!cd.ok())
        return false;
    char* in = const_cast<char*>(s);
    size_t inLeft = n;
    char16_t buf[512];
    while (inLeft > 0) {
        char* o = reinterpret_cast<char*>(buf);
        size_t oLeft = sizeof buf;
        size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        int err = errno;
        out.append(buf, (sizeof buf - oLeft) / sizeof(char16_t));
        if (r != static_cast<size_t>(-1))
            break;
        if (err == E2BIG)
            continue;
        bad = true;
        out.push_back(kReplacement);
        if (err == EINVAL)
            break; // cut short at the end
        ++in;
        --inLeft;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state (UTF-7, ISO-2022).
    char* o = reinterpret_cast<char*>(buf);
    size_t oLeft = sizeof buf;
    iconv(cd.get(), nullptr, nullptr, &o, &oLeft);
    out.append(buf, (sizeof buf - oLeft) / sizeof(char16_t));
    return true;
}

// UTF-16 to a multibyte code page; a character the target cannot hold (a lone surrogate
// included) becomes the default character.
bool EncodeIconv(const char* name, const char16_t* w, size_t n, const std::string& defChar, std::string& out,
                 bool& usedDefault) {
    Iconv cd(name, "UTF-16LE");
    if (!cd.ok())
        return false;
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(w));
    size_t inLeft = n * sizeof(char16_t);
    char buf[1024];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        int err = errno;
        out.append(buf, sizeof buf - oLeft);
        if (r != static_cast<size_t>(-1)) {
            if (r > 0)
                usedDefault = true; // glibc counts irreversible conversions
            break;
        }
        if (err == E2BIG)
            continue;
        usedDefault = true;
        out += defChar;
        size_t skip = 2;
        if (err != EINVAL && inLeft >= 4) {
            char16_t u0, u1;
            std::memcpy(&u0, in, 2);
            std::memcpy(&u1, in + 2, 2);
            if (u0 >= 0xD800 && u0 <= 0xDBFF && u1 >= 0xDC00 && u1 <= 0xDFFF)
                skip = 4;
        }
        if (skip > inLeft)
            skip = inLeft;
        in += skip;
        inLeft -= skip;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(cd.get(), nullptr, nullptr, &o, &oLeft);
    out.append(buf, sizeof buf - oLeft);
    return true;
}

// Shared decoding step: false with the error set when the code page is unknown.
bool DecodeTo16(UINT cp, const char* s, size_t n, std::u16string& out, bool& bad) {
    if (cp == CP_UTF8) {
        DecodeUtf8(reinterpret_cast<const unsigned char*>(s), n, out, bad);
        return true;
    }
    const char* name = IconvName(cp);
    if (!name || !DecodeIconv(name, s, n, out, bad)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

bool EncodeFrom16(UINT cp, const char16_t* w, size_t n, const std::string& defChar, std::string& out,
                  bool& usedDefault) {
    if (cp == CP_UTF8) {
        EncodeUtf8(w, n, out, usedDefault);
        return true;
    }
    const char* name = IconvName(cp);
    if (!name || !EncodeIconv(name, w, n, defChar, out, usedDefault)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

} // namespace

bool AfxCodePageRefusesDefaultChar(UINT cp) {
    switch (cp) {
    case 65000:
    case 65001:
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 52936:
    case 54936:
        return true;
    default:
        return cp >= 57002 && cp <= 57011;
    }
}

UINT GetACP() {
    return 936;
}
UINT GetOEMCP() {
    return 936;
}

BOOL IsDBCSLeadByte(BYTE TestChar) {
    return TestChar >= 0x81 && TestChar <= 0xFE;
}

BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
    UINT cp = ResolveCodePage(CodePage);
    if (cp == 936 || cp == 949 || cp == 950)
        return IsDBCSLeadByte(TestChar);
    if (cp == 932)
        return (TestChar >= 0x81 && TestChar <= 0x9F) || (TestChar >= 0xE0 && TestChar <= 0xFC);
    return FALSE;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    UINT cp = ResolveCodePage(CodePage);
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr) || IsUtf16CodePage(cp)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    std::u16string wide;
    bool bad = false;
    if (!DecodeTo16(cp, lpMultiByteStr, n, wide, bad))
        return 0;
    if (bad && (dwFlags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cchWideChar == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        std::memcpy(lpWideCharStr, wide.data(), static_cast<size_t>(cchWideChar) * sizeof(char16_t));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(char16_t));
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    (void)dwFlags;
    UINT cp = ResolveCodePage(CodePage);
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr) || IsUtf16CodePage(cp) ||
        (AfxCodePageRefusesDefaultChar(cp) && (lpDefaultChar || lpUsedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = cchWideChar == -1 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                 : static_cast<size_t>(cchWideChar);
    std::string defChar = "?";
    if (lpDefaultChar && *lpDefaultChar)
        defChar.assign(lpDefaultChar, strnlen(lpDefaultChar, 2));
    std::string out;
    bool usedDefault = false;
    if (!EncodeFrom16(cp, lpWideCharStr, n, defChar, out, usedDefault))
        return 0;
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    if (cbMultiByte == 0)
        return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cbMultiByte)) {
        std::memcpy(lpMultiByteStr, out.data(), static_cast<size_t>(cbMultiByte));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, out.data(), out.size());
    return static_cast<int>(out.size());
}

bool AfxAnsiToUtf8(const std::string& ansi, std::string& utf8) {
    std::u16string wide;
    bool bad = false;
    utf8.clear();
    // No converter, no text: an empty result must not pass for the converted text.
    if (!DecodeIconv("CP936", ansi.data(), ansi.size(), wide, bad))
        return false;
    bool lost = false;
    EncodeUtf8(wide.data(), wide.size(), utf8, lost);
    return !bad && !lost;
}

bool AfxUtf8ToAnsi(const std::string& utf8, std::string& ansi) {
    std::u16string wide;
    bool bad = false;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), wide, bad);
    ansi.clear();
    bool lost = false;
    EncodeIconv("CP936", wide.data(), wide.size(), "?", ansi, lost);
    return !bad && !lost;
}

std::string AfxAnsiToUtf8(const std::string& ansi) {
    std::string out;
    AfxAnsiToUtf8(ansi, out);
    return out;
}

std::string AfxUtf8ToAnsi(const std::string& utf8) {
    std::string out;
    AfxUtf8ToAnsi(utf8, out);
    return out;
}

std::u16string AfxAnsiToUtf16(const std::string& ansi) {
    std::u16string wide;
    bool bad = false;
    DecodeIconv("CP936", ansi.data(), ansi.size(), wide, bad);
    return wide;
}

std::string AfxUtf16ToAnsi(const std::u16string& wide) {
    std::string out;
    bool lost = false;
    EncodeIconv("CP936", wide.data(), wide.size(), "?", out, lost);
    return out;
}
