#include "platform/base/AfxTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Runs with a fixed zone, eight hours east of UTC without summer time, and puts the old one back.
class BaseTime : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        m_hadTz = old != nullptr;
        if (old)
            m_oldTz = old;
        setenv("TZ", "CST-8", 1);
        tzset();
    }
    void TearDown() override {
        if (m_hadTz)
            setenv("TZ", m_oldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool m_hadTz = false;
    std::string m_oldTz;
};

// 2026-12-10 10:30:05 UTC.
constexpr time_t kMoment = 1796898605;

} // namespace

TEST_F(BaseTime, PartsAreLocalAndFormatGmtIsUtc) {
    CTime t(2026, 12, 10, 18, 30, 5);
    EXPECT_EQ(t.GetTime(), kMoment);
    EXPECT_EQ(t.GetYear(), 2026);
    EXPECT_EQ(t.GetMonth(), 12);
    EXPECT_EQ(t.GetDay(), 10);
    EXPECT_EQ(t.GetHour(), 18);
    EXPECT_EQ(t.GetMinute(), 30);
    EXPECT_EQ(t.GetSecond(), 5);
    EXPECT_EQ(t.GetDayOfWeek(), 5); // a Thursday

    EXPECT_EQ(t.Format("%Y-%m-%d %H:%M:%S"), "2026-12-10 18:30:05");
    EXPECT_EQ(t.FormatGmt("%a, %d %b %Y %H:%M:%S GMT"), "Thu, 10 Dec 2026 10:30:05 GMT");
    EXPECT_EQ(t.Format(""), "");
    EXPECT_EQ(t.Format(nullptr), "");

    struct tm g;
    ASSERT_NE(t.GetGmtTm(&g), nullptr);
    EXPECT_EQ(g.tm_hour, 10);
    ASSERT_NE(t.GetLocalTm(), nullptr);
    EXPECT_EQ(t.GetLocalTm()->tm_hour, 18);

    SYSTEMTIME st;
    ASSERT_TRUE(t.GetAsSystemTime(st));
    EXPECT_EQ(st.wYear, 2026);
    EXPECT_EQ(st.wHour, 18);
    EXPECT_EQ(CTime(st).GetTime(), kMoment);

    // Out-of-range fields carry over, as the C library normalises them.
    EXPECT_EQ(CTime(2026, 12, 9, 42, 30, 5).GetTime(), kMoment);
}

TEST_F(BaseTime, FileTimeIsUtcSince1601) {
    FILETIME epoch{0xD53E8000u, 0x019DB1DEu}; // 116444736000000000
    EXPECT_EQ(CTime(epoch).GetTime(), 0);
    EXPECT_TRUE(CTime::IsValidFILETIME(epoch));
    FILETIME early{0, 0};
    EXPECT_FALSE(CTime::IsValidFILETIME(early));

    ULONGLONG ticks = (static_cast<ULONGLONG>(kMoment) + 11644473600ULL) * 10000000ULL + 9999999ULL;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    EXPECT_EQ(CTime(ft).GetTime(), kMoment);
}

TEST_F(BaseTime, FileTimeAndUnixTimeConvertBothWays) {
    struct Case {
        time_t seconds;
        long nanoseconds;
        ULONGLONG ticks;
    };
    const Case cases[] = {
        {0, 0, 116444736000000000ull},
        {kMoment, 999999999, (static_cast<ULONGLONG>(kMoment) + 11644473600ull) * 10000000ull + 9999999ull},
        {-1, 0, 116444735990000000ull},           // the last second of 1969
        {-11644473600, 0, 0},                     // 1601 itself
        {-11644473601, 0, 0},                     // before 1601: the zero time
        {4102444800, 150, 157469184000000001ull}, // 2100, past 32-bit seconds; 150 ns is 1 tick
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        FILETIME ft = AfxUnixToFileTime(c.seconds, c.nanoseconds);
        EXPECT_EQ((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, c.ticks);
        if (c.seconds >= -11644473600) {
            EXPECT_EQ(AfxFileTimeToUnix(ft), c.seconds);
        }
        EXPECT_EQ(CTime(ft).GetTime(), AfxFileTimeToUnix(ft));
    }
}

TEST_F(BaseTime, SpansAndComparisons) {
    CTime a(kMoment);
    CTime b = a + CTimeSpan(1, 2, 3, 4);
    CTimeSpan d = b - a;
    EXPECT_EQ(d.GetTotalSeconds(), 93784);
    EXPECT_EQ(d.GetDays(), 1);
    EXPECT_EQ(d.GetHours(), 2);
    EXPECT_EQ(d.GetMinutes(), 3);
    EXPECT_EQ(d.GetSeconds(), 4);
    EXPECT_EQ(d.GetTotalHours(), 26);
    EXPECT_EQ(d.GetTotalMinutes(), 1563);
    EXPECT_EQ(d.Format("%D days %H:%M:%S %%"), "1 days 02:03:04 %");

    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b >= a);
    EXPECT_TRUE(a != b);
    EXPECT_EQ(b - d, a);
    CTime c = b;
    c -= d;
    EXPECT_EQ(c, a);
    c += CTimeSpan(60);
    EXPECT_EQ(c.GetTime(), kMoment + 60);

    time_t before = std::time(nullptr);
    CTime now = CTime::GetCurrentTime();
    time_t after = std::time(nullptr);
    EXPECT_GE(now.GetTime(), before);
    EXPECT_LE(now.GetTime(), after);
}
