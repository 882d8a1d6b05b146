// CString: a byte string in the ANSI code page (GBK, 936), searched double-byte aware as in an
// MBCS build, so a trail byte such as 0x5C is never taken for "\". CStringW holds UTF-16.
#pragma once

#include "platform/base/Win32Types.h"

#include <string>
#include <type_traits>
#include <utility>

class CString {
public:
    CString() = default;
    CString(const char* psz);              // NULL gives ""; stops at the first zero byte
    CString(const char* pch, int nLength); // exactly nLength bytes, zeros included
    CString(const unsigned char* psz);
    CString(char ch, int nRepeat = 1);
    CString(const std::string& s) : m_s(s) {}
    CString(std::string&& s) : m_s(std::move(s)) {}
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* psz);
    CString& operator=(char ch);

    // Length and access (bytes).
    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    char GetAt(int i) const;
    void SetAt(int i, char ch);
    char operator[](int i) const { return GetAt(i); }
    operator const char*() const { return m_s.c_str(); }
    const char* GetString() const { return m_s.c_str(); }
    const std::string& str() const { return m_s; }
    std::string& str() { return m_s; }

    // Concatenation.
    CString& operator+=(const CString& s);
    CString& operator+=(const char* psz);
    CString& operator+=(char ch);
    void Append(const char* psz);
    void Append(const char* pch, int n);
    void AppendChar(char ch) { m_s.push_back(ch); }
    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const char* b);
    friend CString operator+(const char* a, const CString& b);
    friend CString operator+(const CString& a, char b);
    friend CString operator+(char a, const CString& b);

    // Comparison: Compare is byte-wise; CompareNoCase folds ASCII letters only.
    int Compare(const char* psz) const;
    int CompareNoCase(const char* psz) const;
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b);
    friend bool operator==(const char* a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(b == a); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_s < b.m_s; }
    friend bool operator>(const CString& a, const CString& b) { return a.m_s > b.m_s; }
    friend bool operator<=(const CString& a, const CString& b) { return a.m_s <= b.m_s; }
    friend bool operator>=(const CString& a, const CString& b) { return a.m_s >= b.m_s; }

    // Extraction: counts are bytes and are clamped, never failing.
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int nCount) const;
    CString SpanIncluding(const char* pszCharSet) const;
    CString SpanExcluding(const char* pszCharSet) const;
    CString Tokenize(const char* pszTokens, int& iStart) const;

    // Searching: double-byte aware; -1 when not found.
    int Find(char ch, int nStart = 0) const;
    int Find(const char* pszSub, int nStart = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(const char* pszCharSet) const;

    // Changing in place: double-byte aware.
    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();
    CString& Trim();
    CString& Trim(char chTarget);
    CString& Trim(const char* pszTargets);
    CString& TrimLeft();
    CString& TrimLeft(char chTarget);
    CString& TrimLeft(const char* pszTargets);
    CString& TrimRight();
    CString& TrimRight(char chTarget);
    CString& TrimRight(const char* pszTargets);
    int Replace(char chOld, char chNew);
    int Replace(const char* pszOld, const char* pszNew);
    int Remove(char ch);
    int Insert(int nIndex, char ch);
    int Insert(int nIndex, const char* psz);
    int Delete(int nIndex, int nCount = 1);

    // Formatting: a variadic template, so CString arguments pass as const char*.
    template <typename... Args> void Format(const char* pszFormat, Args&&... args) {
        FormatRaw(pszFormat, Pass(std::forward<Args>(args))...);
    }
    template <typename... Args> void AppendFormat(const char* pszFormat, Args&&... args) {
        CString t;
        t.Format(pszFormat, std::forward<Args>(args)...);
        m_s += t.m_s;
    }
    void FormatRaw(const char* pszFormat, ...);

    // Buffers: room for nMinBufLength bytes plus a terminator.
    char* GetBuffer(int nMinBufLength = 0);
    char* GetBufferSetLength(int nNewLength);
    void ReleaseBuffer(int nNewLength = -1); // -1: up to the first zero byte
    void FreeExtra() {}
    void Preallocate(int n) { m_s.reserve(n > 0 ? static_cast<size_t>(n) : 0); }

    // String-table text of the program's own resources (defined with the resource loader).
    BOOL LoadString(UINT nID);

private:
    template <typename T> static decltype(auto) Pass(T&& v) {
        if constexpr (std::is_same_v<std::decay_t<T>, CString>)
            return static_cast<const char*>(v);
        else if constexpr (std::is_same_v<std::decay_t<T>, std::string>)
            return v.c_str();
        else
            return std::forward<T>(v);
    }
    std::string m_s;
};

// True for a lead byte of the ANSI code page (GBK: 0x81 to 0xFE). Inline: every search through
// ANSI text asks it for each byte.
inline bool AfxIsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

class CStringW {
public:
    CStringW() = default;
    CStringW(const WCHAR* psz);
    CStringW(const WCHAR* pch, int nLength);
    CStringW(const std::u16string& s) : m_s(s) {}
    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    operator const WCHAR*() const { return m_s.c_str(); }
    const WCHAR* GetString() const { return m_s.c_str(); }
    const std::u16string& str() const { return m_s; }
    std::u16string& str() { return m_s; }
    CStringW& operator+=(const CStringW& s) {
        m_s += s.m_s;
        return *this;
    }
    CStringW& operator+=(WCHAR c) {
        m_s.push_back(c);
        return *this;
    }
    friend bool operator==(const CStringW& a, const CStringW& b) { return a.m_s == b.m_s; }
    friend bool operator!=(const CStringW& a, const CStringW& b) { return a.m_s != b.m_s; }
    WCHAR* GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);

private:
    std::u16string m_s;
};
