#include "platform/base/AfxTime.h"

#include <string>
#include <vector>

namespace {

// Seconds from 1601-01-01 to 1970-01-01, the two epochs of FILETIME and time_t.
constexpr LONGLONG kEpochDelta = 11644473600LL;
constexpr LONGLONG kTicksPerSecond = 10000000LL;

thread_local struct tm t_tm;

struct tm* Broken(time_t t, struct tm* out, bool local) {
    struct tm* target = out ? out : &t_tm;
    return local ? localtime_r(&t, target) : gmtime_r(&t, target);
}

CString FormatTm(const struct tm* ptm, const char* pszFormat) {
    if (ptm == nullptr || pszFormat == nullptr || *pszFormat == '\0')
        return CString();
    // strftime gives 0 both for an empty result and for a full buffer, so grow a few times and
    // then accept the empty result.
    std::vector<char> buf(128);
    for (int tries = 0; tries < 8; ++tries) {
        size_t n = std::strftime(buf.data(), buf.size(), pszFormat, ptm);
        if (n > 0)
            return CString(buf.data(), static_cast<int>(n));
        buf.resize(buf.size() * 4);
    }
    return CString();
}

} // namespace

CTime CTime::GetCurrentTime() {
    return CTime(std::time(nullptr));
}

CTime::CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST) {
    struct tm t = {};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMin;
    t.tm_sec = nSec;
    t.tm_isdst = nDST;
    m_time = std::mktime(&t);
}

CTime::CTime(const SYSTEMTIME& st, int nDST)
    : CTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, nDST) {}

FILETIME AfxUnixToFileTime(time_t seconds, long nanoseconds) {
    FILETIME ft{0, 0};
    if (seconds < -kEpochDelta)
        return ft;
    ULONGLONG ticks = static_cast<ULONGLONG>(seconds + kEpochDelta) * kTicksPerSecond +
                      static_cast<ULONGLONG>(nanoseconds / 100);
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

time_t AfxFileTimeToUnix(const FILETIME& ft) {
    ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<time_t>(static_cast<LONGLONG>(ticks / kTicksPerSecond) - kEpochDelta);
}

CTime::CTime(const FILETIME& ft, int nDST) : m_time(AfxFileTimeToUnix(ft)) {
    (void)nDST; // a FILETIME is already UTC
}

BOOL CTime::IsValidFILETIME(const FILETIME& ft) {
    ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return ticks / kTicksPerSecond >= static_cast<ULONGLONG>(kEpochDelta) && ticks <= 0x7FFFFFFFFFFFFFFFULL;
}

struct tm* CTime::GetLocalTm(struct tm* ptm) const {
    return Broken(m_time, ptm, true);
}

struct tm* CTime::GetGmtTm(struct tm* ptm) const {
    return Broken(m_time, ptm, false);
}

bool CTime::GetAsSystemTime(SYSTEMTIME& st) const {
    struct tm t;
    if (!Broken(m_time, &t, true))
        return false;
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    st.wMonth = static_cast<WORD>(t.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec);
    st.wMilliseconds = 0;
    return true;
}

int CTime::GetYear() const {
    struct tm t;
    return Broken(m_time, &t, true) ? t.tm_year + 1900 : 0;
}

int CTime::GetMonth() const {
    struct tm t;
    return Broken(m_time, &t, true) ? t.tm_mon + 1 : 0;
}

int CTime::GetDay() const {
    struct tm t;
    return Broken(m_time, &t, true) ? t.tm_mday : 0;
}

int CTime::GetHour() const {
    struct tm t;
    return Broken(m_time, &t, true) ? t.tm_hour : -1;
}

int CTime::GetMinute() const {
    struct tm t;
    return Broken(m_time, &t, true) ? t.tm_min : -1;
}

int CTime::GetSecond() const {
    struct tm t;
    return Broken(m_time, &t, true) ? t.tm_sec : -1;
}

int CTime::GetDayOfWeek() const {
    struct tm t;
    return Broken(m_time, &t, true) ? t.tm_wday + 1 : 0;
}

CString CTime::Format(const char* pszFormat) const {
    struct tm t;
    return FormatTm(Broken(m_time, &t, true), pszFormat);
}

CString CTime::FormatGmt(const char* pszFormat) const {
    struct tm t;
    return FormatTm(Broken(m_time, &t, false), pszFormat);
}

CString CTimeSpan::Format(const char* pszFormat) const {
    CString out;
    if (pszFormat == nullptr)
        return out;
    for (const char* p = pszFormat; *p; ++p) {
        if (*p != '%' || p[1] == '\0') {
            out += *p;
            continue;
        }
        CString part;
        switch (*++p) {
        case 'D':
            part.Format("%lld", static_cast<long long>(GetDays()));
            break;
        case 'H':
            part.Format("%02ld", static_cast<long>(GetHours()));
            break;
        case 'M':
            part.Format("%02ld", static_cast<long>(GetMinutes()));
            break;
        case 'S':
            part.Format("%02ld", static_cast<long>(GetSeconds()));
            break;
        case '%':
            part = '%';
            break;
        default:
            part = '%';
            part += *p;
            break;
        }
        out += part;
    }
    return out;
}
