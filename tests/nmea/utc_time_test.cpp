// UTCTimeToFileTime: the sentence's time of day on the computer's current UTC date.
#include <gtest/gtest.h>

#include <optional>

#include "standin/control.h"
#include "utc_time.h"

namespace {

ULONGLONG FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second,
                     WORD ms) {
    SYSTEMTIME st{year, month, 0, day, hour, minute, second, ms};
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

class UtcTimeTest : public ::testing::Test {
  protected:
    void SetClock(ULONGLONG ticks) { zntr::platform::SetSystemTimeOverride(ticks); }
    void TearDown() override { zntr::platform::SetSystemTimeOverride(std::nullopt); }
};

TEST_F(UtcTimeTest, TakesTheTimeOfDayOnTodaysUtcDate) {
    SetClock(FileTimeOf(2026, 12, 5, 7, 1, 2, 3));
    const struct {
        double utcTime;
        ULONGLONG expected;
        const char* legend;
    } cases[] = {
        {123519.5, FileTimeOf(2026, 12, 5, 12, 35, 19, 500), "with milliseconds"},
        {0.0, FileTimeOf(2026, 12, 5, 0, 0, 0, 0), "midnight"},
        {235959.0, FileTimeOf(2026, 12, 5, 23, 59, 59, 0), "last second of the day"},
        {235959.9996, 0, "rounds to 235960.000: second 60 is refused"},
        {246000.0, 0, "hour 24 is refused"},
        {126000.0, 0, "minute 60 is refused"},
        {1234567.25, FileTimeOf(2026, 12, 5, 12, 34, 56, 250), "wider text: cut by position"},
        {-5.25, FileTimeOf(2026, 12, 5, 0, 0, 5, 250), "a sign takes the place of a digit"},
        {1e300, FileTimeOf(2026, 12, 5, 10, 0, 0, 0), "a 301-digit text, cut by position"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UTCTimeToFileTime(c.utcTime), c.expected) << c.legend;
    }
}

TEST_F(UtcTimeTest, TheDateIsAlwaysTheComputersCurrentDate) {
    // A sentence stamped just before midnight, handled just after it, gets the new day.
    SetClock(FileTimeOf(2027, 1, 1, 0, 0, 0, 400));
    EXPECT_EQ(UTCTimeToFileTime(235959.0), FileTimeOf(2027, 1, 1, 23, 59, 59, 0));
}

}  // namespace
