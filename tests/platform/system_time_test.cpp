// SystemTimeToFileTime and FileTimeToSystemTime with Windows' ranges, and the current time.
#include <gtest/gtest.h>

#include <ctime>

#include "standin/control.h"
#include "standin/errhandlingapi.h"
#include "standin/timeapi.h"
#include "standin/winerror.h"
#include "wine_quirks.h"

namespace {

ULONGLONG Ticks(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

SYSTEMTIME Make(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0,
                WORD ms = 0) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    st.wMilliseconds = ms;
    return st;
}

TEST(SystemTimeTest, ConvertsKnownDatesToTheirTicks) {
    const struct {
        SYSTEMTIME time;
        ULONGLONG ticks;
    } cases[] = {
        {Make(1601, 1, 1), 0},
        {Make(1980, 1, 1), 0x01A8E79FE1D58000ull},
        {Make(2002, 5, 1, 12), 0x01C1F107B82B6000ull},
        {Make(2002, 7, 26, 11, 55, 32, 123), 0x01C2349B580716B0ull},
        {Make(1970, 1, 1), 116444736000000000ull},
    };
    for (const auto& c : cases) {
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&c.time, &ft));
        EXPECT_EQ(Ticks(ft), c.ticks) << c.time.wYear;
        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
        EXPECT_EQ(back.wYear, c.time.wYear);
        EXPECT_EQ(back.wMonth, c.time.wMonth);
        EXPECT_EQ(back.wDay, c.time.wDay);
        EXPECT_EQ(back.wHour, c.time.wHour);
        EXPECT_EQ(back.wMinute, c.time.wMinute);
        EXPECT_EQ(back.wSecond, c.time.wSecond);
        EXPECT_EQ(back.wMilliseconds, c.time.wMilliseconds);
    }
}

TEST(SystemTimeTest, RefusesFieldsOutOfRangeAndLeavesTheResultAlone) {
    // Wine takes some dates that Windows refuses: it has no last year and allows 29 February in
    // every year. Those rows are checked everywhere but under Wine.
    const struct {
        SYSTEMTIME time;
        const char* legend;
        bool wineTakesIt;
    } refused[] = {
        {Make(1600, 12, 31), "year before 1601", false},
        {Make(30828, 1, 1), "year after 30827", true},
        {Make(2026, 0, 1), "month 0", false},
        {Make(2026, 13, 1), "month 13", false},
        {Make(2026, 1, 0), "day 0", false},
        {Make(2026, 4, 31), "31 April", false},
        {Make(2025, 2, 29), "29 February, no leap", true},
        {Make(1900, 2, 29), "1900 is no leap year", true},
        {Make(2026, 1, 1, 24), "hour 24", false},
        {Make(2026, 1, 1, 0, 60), "minute 60", false},
        {Make(2026, 1, 1, 0, 0, 60), "second 60", false},
        {Make(2026, 1, 1, 0, 0, 0, 1000), "ms 1000", false},
    };
    for (const auto& c : refused) {
        if (c.wineTakesIt && zntr::test::RunningUnderWine()) {
            continue;
        }
        FILETIME ft{123, 456};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&c.time, &ft)) << c.legend;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.legend;
        EXPECT_EQ(ft.dwLowDateTime, 123u) << c.legend;
    }
    FILETIME ft{};
    SYSTEMTIME leap = Make(2024, 2, 29, 23, 59, 59, 999);
    EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft)) << "29 February of a leap year";
    SYSTEMTIME ignored = Make(2026, 12, 5);
    ignored.wDayOfWeek = 77;
    EXPECT_TRUE(SystemTimeToFileTime(&ignored, &ft)) << "the day of the week is ignored";
}

TEST(SystemTimeTest, FileTimeToSystemTimeFillsTheDayOfWeek) {
    SYSTEMTIME st = Make(2026, 12, 5);  // a Saturday
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wDayOfWeek, 6);
    FILETIME negative{0, 0x80000000u};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &back));
}

TEST(SystemTimeTest, GetSystemTimeReportsUtcNowOrTheOverride) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const std::time_t unixNow = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&unixNow, &utc);
    EXPECT_EQ(now.wYear, utc.tm_year + 1900);
    EXPECT_EQ(now.wDayOfWeek, utc.tm_wday);

    SYSTEMTIME fixed = Make(2026, 12, 31, 23, 59, 58, 250);
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&fixed, &ft));
    zntr::platform::SetSystemTimeOverride(Ticks(ft));
    GetSystemTime(&now);
    zntr::platform::SetSystemTimeOverride(std::nullopt);
    EXPECT_EQ(now.wYear, 2026);
    EXPECT_EQ(now.wDay, 31);
    EXPECT_EQ(now.wSecond, 58);
    EXPECT_EQ(now.wMilliseconds, 250);
}

}  // namespace
