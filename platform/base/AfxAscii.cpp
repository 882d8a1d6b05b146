#include "platform/base/AfxAscii.h"

#include "platform/base/AfxStr.h"

namespace {

// Whether the byte at i starts a double-byte character. A lead byte at the end, or before a
// zero byte, stands alone, as CString counts it.
bool StartsPair(std::string_view s, size_t i) {
    return AfxIsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() && s[i + 1] != '\0';
}

template <char (*Fold)(char)> std::string FoldAnsi(std::string_view s) {
    std::string r(s);
    for (size_t i = 0; i < r.size();) {
        if (StartsPair(r, i)) {
            i += 2;
            continue;
        }
        r[i] = Fold(r[i]);
        ++i;
    }
    return r;
}

} // namespace

std::string AfxAsciiLower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = AfxAsciiToLower(c);
    return r;
}

bool AfxAsciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AfxAsciiToLower(a[i]) != AfxAsciiToLower(b[i]))
            return false;
    return true;
}

bool AfxAsciiStartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && AfxAsciiEqualNoCase(s.substr(0, prefix.size()), prefix);
}

std::string AfxAnsiLower(std::string_view s) {
    return FoldAnsi<AfxAsciiToLower>(s);
}

std::string AfxAnsiUpper(std::string_view s) {
    return FoldAnsi<AfxAsciiToUpper>(s);
}

// Both texts are walked in step: while they agree, a byte has the same role (single, lead or
// trail) in both, because folding never touches a lead byte.
int AfxAnsiCompareNoCase(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
    for (;;) {
        if (AfxIsLeadByte(*p) && p[1] != 0) {
            if (p[0] != q[0])
                return p[0] < q[0] ? -1 : 1;
            if (p[1] != q[1])
                return p[1] < q[1] ? -1 : 1;
            p += 2;
            q += 2;
            continue;
        }
        unsigned char x = static_cast<unsigned char>(AfxAsciiToLower(static_cast<char>(*p)));
        unsigned char y = static_cast<unsigned char>(AfxAsciiToLower(static_cast<char>(*q)));
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
        ++p;
        ++q;
    }
}
