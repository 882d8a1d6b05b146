// CTime (a time_t, seconds since 1970 UTC) and CTimeSpan (a signed count of seconds).
// Broken-down parts and Format are local time; GetGmtTm and FormatGmt are UTC.
#pragma once

#include "platform/base/AfxStr.h"
#include "platform/base/Win32Types.h"

#include <ctime>

class CTimeSpan {
public:
    CTimeSpan() = default;
    CTimeSpan(time_t time) : m_span(time) {}
    CTimeSpan(LONG lDays, int nHours, int nMins, int nSecs)
        : m_span(((static_cast<time_t>(lDays) * 24 + nHours) * 60 + nMins) * 60 + nSecs) {}

    LONGLONG GetDays() const { return m_span / (24 * 3600); }
    LONGLONG GetTotalHours() const { return m_span / 3600; }
    LONG GetHours() const { return static_cast<LONG>(GetTotalHours() - GetDays() * 24); }
    LONGLONG GetTotalMinutes() const { return m_span / 60; }
    LONG GetMinutes() const { return static_cast<LONG>(GetTotalMinutes() - GetTotalHours() * 60); }
    LONGLONG GetTotalSeconds() const { return m_span; }
    LONG GetSeconds() const { return static_cast<LONG>(GetTotalSeconds() - GetTotalMinutes() * 60); }
    time_t GetTimeSpan() const { return m_span; }

    // %D days, %H hours, %M minutes, %S seconds, %% a percent sign; other text is copied.
    CString Format(const char* pszFormat) const;

    CTimeSpan operator+(CTimeSpan span) const { return CTimeSpan(m_span + span.m_span); }
    CTimeSpan operator-(CTimeSpan span) const { return CTimeSpan(m_span - span.m_span); }
    CTimeSpan& operator+=(CTimeSpan span) {
        m_span += span.m_span;
        return *this;
    }
    CTimeSpan& operator-=(CTimeSpan span) {
        m_span -= span.m_span;
        return *this;
    }
    bool operator==(CTimeSpan span) const { return m_span == span.m_span; }
    bool operator!=(CTimeSpan span) const { return m_span != span.m_span; }
    bool operator<(CTimeSpan span) const { return m_span < span.m_span; }
    bool operator>(CTimeSpan span) const { return m_span > span.m_span; }
    bool operator<=(CTimeSpan span) const { return m_span <= span.m_span; }
    bool operator>=(CTimeSpan span) const { return m_span >= span.m_span; }

private:
    time_t m_span = 0;
};

class CTime {
public:
    static CTime GetCurrentTime();
    static BOOL IsValidFILETIME(const FILETIME& ft);

    CTime() = default;
    CTime(time_t time) : m_time(time) {}
    // Local time; nDST < 0 lets the C library decide whether summer time applies.
    CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec, int nDST = -1);
    CTime(const SYSTEMTIME& st, int nDST = -1);
    // A FILETIME is UTC in 100-nanosecond units since 1601.
    CTime(const FILETIME& ft, int nDST = -1);

    time_t GetTime() const { return m_time; }

    // Broken-down time; NULL when the time cannot be represented. The pointer refers to
    // ptm, or to a per-thread buffer when ptm is NULL.
    struct tm* GetLocalTm(struct tm* ptm = nullptr) const;
    struct tm* GetGmtTm(struct tm* ptm = nullptr) const;
    bool GetAsSystemTime(SYSTEMTIME& st) const;

    int GetYear() const;
    int GetMonth() const; // 1 to 12
    int GetDay() const;   // 1 to 31
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const; // 1 (Sunday) to 7

    // strftime codes over local time (Format) or UTC (FormatGmt).
    CString Format(const char* pszFormat) const;
    CString FormatGmt(const char* pszFormat) const;

    CTime& operator=(time_t t) {
        m_time = t;
        return *this;
    }
    CTimeSpan operator-(CTime time) const { return CTimeSpan(m_time - time.m_time); }
    CTime operator-(CTimeSpan span) const { return CTime(m_time - span.GetTimeSpan()); }
    CTime operator+(CTimeSpan span) const { return CTime(m_time + span.GetTimeSpan()); }
    CTime& operator+=(CTimeSpan span) {
        m_time += span.GetTimeSpan();
        return *this;
    }
    CTime& operator-=(CTimeSpan span) {
        m_time -= span.GetTimeSpan();
        return *this;
    }
    bool operator==(CTime time) const { return m_time == time.m_time; }
    bool operator!=(CTime time) const { return m_time != time.m_time; }
    bool operator<(CTime time) const { return m_time < time.m_time; }
    bool operator>(CTime time) const { return m_time > time.m_time; }
    bool operator<=(CTime time) const { return m_time <= time.m_time; }
    bool operator>=(CTime time) const { return m_time >= time.m_time; }

private:
    time_t m_time = 0;
};

// The one conversion between the two epochs: FILETIME counts 100-nanosecond ticks from
// 1601-01-01 UTC, time_t seconds from 1970-01-01 UTC. A FILETIME before 1970 gives a negative
// time_t and ticks below a second are dropped; a time_t before 1601 gives the zero FILETIME.
FILETIME AfxUnixToFileTime(time_t seconds, long nanoseconds = 0);
time_t AfxFileTimeToUnix(const FILETIME& ft);
