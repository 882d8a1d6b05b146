#include "platform/base/AfxStr.h"

#include "platform/base/AfxAscii.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Bytes taken by the character at i: a lead byte and the byte after it form one character,
// unless the string ends (or a zero byte follows) right after the lead byte.
size_t CharLen(const std::string& s, size_t i) {
    if (AfxIsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() && s[i + 1] != '\0')
        return 2;
    return 1;
}

size_t CharLen(const char* p) {
    if (AfxIsLeadByte(static_cast<unsigned char>(p[0])) && p[1] != '\0')
        return 2;
    return 1;
}

// Whether the character of n bytes at p is one of the characters of a zero-terminated set.
bool InSet(const char* p, size_t n, const char* set) {
    if (set == nullptr)
        return false;
    while (*set) {
        size_t m = CharLen(set);
        if (m == n && std::memcmp(p, set, n) == 0)
            return true;
        set += m;
    }
    return false;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int Sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

template <typename Pred> void TrimLeftIf(std::string& s, Pred inTargets) {
    size_t i = 0;
    while (i < s.size()) {
        size_t n = CharLen(s, i);
        if (!inTargets(s.data() + i, n))
            break;
        i += n;
    }
    s.erase(0, i);
}

// Walks forward so that a trail byte is never taken for a character of its own.
template <typename Pred> void TrimRightIf(std::string& s, Pred inTargets) {
    size_t keep = 0;
    for (size_t i = 0; i < s.size();) {
        size_t n = CharLen(s, i);
        if (!inTargets(s.data() + i, n))
            keep = i + n;
        i += n;
    }
    s.erase(keep);
}

} // namespace

CString::CString(const char* psz) {
    if (psz)
        m_s = psz;
}

// Built in place: assigning into an empty string goes through the general replace.
CString::CString(const char* pch, int nLength)
    : m_s(pch && nLength > 0 ? std::string(pch, static_cast<size_t>(nLength)) : std::string()) {}

CString::CString(const unsigned char* psz) : CString(reinterpret_cast<const char*>(psz)) {}

CString::CString(char ch, int nRepeat) {
    if (nRepeat > 0)
        m_s.assign(static_cast<size_t>(nRepeat), ch);
}

CString& CString::operator=(const char* psz) {
    if (psz)
        m_s = psz; // the pointer may point into this string; assign copes with that
    else
        m_s.clear();
    return *this;
}

CString& CString::operator=(char ch) {
    m_s.assign(1, ch);
    return *this;
}

char CString::GetAt(int i) const {
    if (i < 0 || static_cast<size_t>(i) >= m_s.size())
        return '\0';
    return m_s[static_cast<size_t>(i)];
}

void CString::SetAt(int i, char ch) {
    if (i >= 0 && static_cast<size_t>(i) < m_s.size())
        m_s[static_cast<size_t>(i)] = ch;
}

CString& CString::operator+=(const CString& s) {
    m_s += s.m_s;
    return *this;
}

CString& CString::operator+=(const char* psz) {
    Append(psz);
    return *this;
}

CString& CString::operator+=(char ch) {
    m_s.push_back(ch);
    return *this;
}

void CString::Append(const char* psz) {
    if (psz)
        m_s.append(psz);
}

void CString::Append(const char* pch, int n) {
    if (pch && n > 0)
        m_s.append(pch, static_cast<size_t>(n));
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r.m_s += b.m_s;
    return r;
}

CString operator+(const CString& a, const char* b) {
    CString r(a);
    r.Append(b);
    return r;
}

CString operator+(const char* a, const CString& b) {
    CString r(a);
    r.m_s += b.m_s;
    return r;
}

CString operator+(const CString& a, char b) {
    CString r(a);
    r.m_s.push_back(b);
    return r;
}

CString operator+(char a, const CString& b) {
    CString r(a, 1);
    r.m_s += b.m_s;
    return r;
}

bool operator==(const CString& a, const char* b) {
    return a.Compare(b) == 0;
}

int CString::Compare(const char* psz) const {
    return Sign(std::strcmp(m_s.c_str(), psz ? psz : ""));
}

// Only single-byte letters fold: a trail byte in 0x41-0x5A is half of a character, not a letter.
int CString::CompareNoCase(const char* psz) const {
    return Sign(AfxAnsiCompareNoCase(m_s.c_str(), psz));
}

CString CString::Left(int nCount) const {
    if (nCount <= 0)
        return CString();
    return CString(m_s.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const {
    if (nFirst < 0)
        nFirst = 0;
    if (static_cast<size_t>(nFirst) >= m_s.size())
        return CString();
    return CString(m_s.substr(static_cast<size_t>(nFirst)));
}

CString CString::Mid(int nFirst, int nCount) const {
    if (nFirst < 0)
        nFirst = 0;
    if (nCount <= 0 || static_cast<size_t>(nFirst) >= m_s.size())
        return CString();
    return CString(m_s.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const {
    if (nCount <= 0)
        return CString();
    size_t n = std::min(m_s.size(), static_cast<size_t>(nCount));
    return CString(m_s.substr(m_s.size() - n));
}

CString CString::SpanIncluding(const char* pszCharSet) const {
    size_t i = 0;
    while (i < m_s.size() && m_s[i] != '\0') {
        size_t n = CharLen(m_s, i);
        if (!InSet(m_s.data() + i, n, pszCharSet))
            break;
        i += n;
    }
    return CString(m_s.substr(0, i));
}

CString CString::SpanExcluding(const char* pszCharSet) const {
    size_t i = 0;
    while (i < m_s.size() && m_s[i] != '\0') {
        size_t n = CharLen(m_s, i);
        if (InSet(m_s.data() + i, n, pszCharSet))
            break;
        i += n;
    }
    return CString(m_s.substr(0, i));
}

CString CString::Tokenize(const char* pszTokens, int& iStart) const {
    if (iStart < 0 || static_cast<size_t>(iStart) >= m_s.size()) {
        iStart = -1;
        return CString();
    }
    size_t i = static_cast<size_t>(iStart);
    // Skip the delimiters in front of the token.
    while (i < m_s.size()) {
        size_t n = CharLen(m_s, i);
        if (!InSet(m_s.data() + i, n, pszTokens))
            break;
        i += n;
    }
    if (i >= m_s.size()) {
        iStart = -1;
        return CString();
    }
    size_t from = i;
    while (i < m_s.size()) {
        size_t n = CharLen(m_s, i);
        if (InSet(m_s.data() + i, n, pszTokens))
            break;
        i += n;
    }
    CString token(m_s.substr(from, i - from));
    // Past the delimiter that ended the token (a double-byte delimiter is skipped whole).
    iStart = static_cast<int>(i < m_s.size() ? i + CharLen(m_s, i) : i + 1);
    return token;
}

int CString::Find(char ch, int nStart) const {
    if (ch == '\0')
        return -1;
    size_t start = nStart > 0 ? static_cast<size_t>(nStart) : 0;
    for (size_t i = 0; i < m_s.size();) {
        size_t n = CharLen(m_s, i);
        if (i >= start && n == 1 && m_s[i] == ch)
            return static_cast<int>(i);
        i += n;
    }
    return -1;
}

int CString::Find(const char* pszSub, int nStart) const {
    if (pszSub == nullptr)
        return -1;
    size_t start = nStart > 0 ? static_cast<size_t>(nStart) : 0;
    if (start > m_s.size())
        return -1;
    size_t len = std::strlen(pszSub);
    // A match starts only where a character starts.
    for (size_t i = 0; i <= m_s.size();) {
        if (i >= start && m_s.compare(i, len, pszSub, len) == 0 && i + len <= m_s.size())
            return static_cast<int>(i);
        if (i == m_s.size())
            break;
        i += CharLen(m_s, i);
    }
    return -1;
}

int CString::ReverseFind(char ch) const {
    int found = -1;
    if (ch == '\0')
        return -1;
    for (size_t i = 0; i < m_s.size();) {
        size_t n = CharLen(m_s, i);
        if (n == 1 && m_s[i] == ch)
            found = static_cast<int>(i);
        i += n;
    }
    return found;
}

int CString::FindOneOf(const char* pszCharSet) const {
    for (size_t i = 0; i < m_s.size();) {
        size_t n = CharLen(m_s, i);
        if (InSet(m_s.data() + i, n, pszCharSet))
            return static_cast<int>(i);
        i += n;
    }
    return -1;
}

CString& CString::MakeUpper() {
    m_s = AfxAnsiUpper(m_s);
    return *this;
}

CString& CString::MakeLower() {
    m_s = AfxAnsiLower(m_s);
    return *this;
}

// Reverses the characters; a double-byte character keeps its byte order.
CString& CString::MakeReverse() {
    std::string r(m_s.size(), '\0');
    size_t out = m_s.size();
    for (size_t i = 0; i < m_s.size();) {
        size_t n = CharLen(m_s, i);
        out -= n;
        std::memcpy(&r[out], m_s.data() + i, n);
        i += n;
    }
    m_s.swap(r);
    return *this;
}

CString& CString::Trim() {
    TrimRight();
    return TrimLeft();
}

CString& CString::Trim(char chTarget) {
    TrimRight(chTarget);
    return TrimLeft(chTarget);
}

CString& CString::Trim(const char* pszTargets) {
    TrimRight(pszTargets);
    return TrimLeft(pszTargets);
}

CString& CString::TrimLeft() {
    TrimLeftIf(m_s, [](const char* p, size_t n) { return n == 1 && IsBlank(*p); });
    return *this;
}

CString& CString::TrimLeft(char chTarget) {
    TrimLeftIf(m_s, [chTarget](const char* p, size_t n) { return n == 1 && *p == chTarget; });
    return *this;
}

CString& CString::TrimLeft(const char* pszTargets) {
    TrimLeftIf(m_s, [pszTargets](const char* p, size_t n) { return InSet(p, n, pszTargets); });
    return *this;
}

CString& CString::TrimRight() {
    TrimRightIf(m_s, [](const char* p, size_t n) { return n == 1 && IsBlank(*p); });
    return *this;
}

CString& CString::TrimRight(char chTarget) {
    TrimRightIf(m_s, [chTarget](const char* p, size_t n) { return n == 1 && *p == chTarget; });
    return *this;
}

CString& CString::TrimRight(const char* pszTargets) {
    TrimRightIf(m_s, [pszTargets](const char* p, size_t n) { return InSet(p, n, pszTargets); });
    return *this;
}

int CString::Replace(char chOld, char chNew) {
    int count = 0;
    if (chOld == chNew)
        return 0;
    for (size_t i = 0; i < m_s.size();) {
        size_t n = CharLen(m_s, i);
        if (n == 1 && m_s[i] == chOld) {
            m_s[i] = chNew;
            ++count;
        }
        i += n;
    }
    return count;
}

int CString::Replace(const char* pszOld, const char* pszNew) {
    if (pszOld == nullptr || *pszOld == '\0')
        return 0;
    std::string oldText(pszOld);
    std::string newText(pszNew ? pszNew : ""); // either may point into this string
    std::string out;
    int count = 0;
    size_t i = 0;
    while (i < m_s.size()) {
        if (m_s.compare(i, oldText.size(), oldText) == 0) {
            out += newText;
            i += oldText.size();
            ++count;
        } else {
            size_t n = CharLen(m_s, i);
            out.append(m_s, i, n);
            i += n;
        }
    }
    if (count)
        m_s.swap(out);
    return count;
}

int CString::Remove(char ch) {
    std::string out;
    out.reserve(m_s.size());
    int count = 0;
    for (size_t i = 0; i < m_s.size();) {
        size_t n = CharLen(m_s, i);
        if (n == 1 && m_s[i] == ch)
            ++count;
        else
            out.append(m_s, i, n);
        i += n;
    }
    if (count)
        m_s.swap(out);
    return count;
}

int CString::Insert(int nIndex, char ch) {
    size_t at = std::clamp<size_t>(nIndex > 0 ? static_cast<size_t>(nIndex) : 0, 0, m_s.size());
    m_s.insert(at, 1, ch);
    return GetLength();
}

int CString::Insert(int nIndex, const char* psz) {
    size_t at = std::clamp<size_t>(nIndex > 0 ? static_cast<size_t>(nIndex) : 0, 0, m_s.size());
    if (psz) {
        std::string ins(psz);
        m_s.insert(at, ins);
    }
    return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
    if (nIndex < 0)
        nIndex = 0;
    if (nCount > 0 && static_cast<size_t>(nIndex) < m_s.size())
        m_s.erase(static_cast<size_t>(nIndex), static_cast<size_t>(nCount));
    return GetLength();
}

void CString::FormatRaw(const char* pszFormat, ...) {
    if (pszFormat == nullptr) {
        m_s.clear();
        return;
    }
    // Formats into a separate buffer: an argument may be this very string.
    std::vector<char> buf(256);
    va_list args;
    va_start(args, pszFormat);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(buf.data(), buf.size(), pszFormat, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) >= buf.size()) {
        buf.resize(static_cast<size_t>(n) + 1);
        n = std::vsnprintf(buf.data(), buf.size(), pszFormat, again);
    }
    va_end(again);
    if (n < 0)
        m_s.clear();
    else
        m_s.assign(buf.data(), static_cast<size_t>(n));
}

char* CString::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > 0 && m_s.size() < static_cast<size_t>(nMinBufLength))
        m_s.resize(static_cast<size_t>(nMinBufLength), '\0');
    return m_s.data();
}

char* CString::GetBufferSetLength(int nNewLength) {
    m_s.resize(nNewLength > 0 ? static_cast<size_t>(nNewLength) : 0, '\0');
    return m_s.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    size_t len;
    if (nNewLength < 0)
        len = ::strnlen(m_s.data(), m_s.size());
    else
        len = std::min(m_s.size(), static_cast<size_t>(nNewLength));
    m_s.resize(len);
}

CStringW::CStringW(const WCHAR* psz) {
    if (psz)
        m_s = psz;
}

CStringW::CStringW(const WCHAR* pch, int nLength) {
    if (pch && nLength > 0)
        m_s.assign(pch, static_cast<size_t>(nLength));
}

WCHAR* CStringW::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > 0 && m_s.size() < static_cast<size_t>(nMinBufLength))
        m_s.resize(static_cast<size_t>(nMinBufLength), u'\0');
    return m_s.data();
}

void CStringW::ReleaseBuffer(int nNewLength) {
    size_t len;
    if (nNewLength < 0) {
        len = 0;
        while (len < m_s.size() && m_s[len] != u'\0')
            ++len;
    } else {
        len = std::min(m_s.size(), static_cast<size_t>(nNewLength));
    }
    m_s.resize(len);
}
