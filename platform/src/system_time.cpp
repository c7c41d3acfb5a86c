#include <atomic>
#include <cstdint>
#include <ctime>

#include "standin/control.h"
#include "standin/errhandlingapi.h"
#include "standin/timeapi.h"
#include "standin/winerror.h"

namespace {

constexpr std::uint64_t kTicksPerMillisecond = 10'000;
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;
// 1970-01-01 counted in FILETIME ticks from 1601-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116'444'736'000'000'000;
// Days from 1970-01-01 back to 1601-01-01.
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;

std::atomic<bool> gOverrideActive{false};
std::atomic<std::uint64_t> gOverrideTicks{0};

constexpr bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int DaysInMonth(int year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (the days-from-civil algorithm).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The inverse: year, month and day of a count of days since 1970-01-01.
constexpr void CivilFromDays(std::int64_t z, int& year, unsigned& month, unsigned& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

std::uint64_t CurrentTicks() {
    if (gOverrideActive.load(std::memory_order_acquire)) {
        return gOverrideTicks.load(std::memory_order_relaxed);
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kTicksPerSecond +
           static_cast<std::uint64_t>(now.tv_nsec) / 100 + kUnixEpochTicks;
}

void StoreTicks(std::uint64_t ticks, FILETIME* fileTime) {
    fileTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace

namespace zntr::platform {

void SetSystemTimeOverride(std::optional<std::uint64_t> filetime) {
    if (filetime) {
        gOverrideTicks.store(*filetime, std::memory_order_relaxed);
        gOverrideActive.store(true, std::memory_order_release);
    } else {
        gOverrideActive.store(false, std::memory_order_release);
    }
}

}  // namespace zntr::platform

extern "C" void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    StoreTicks(CurrentTicks(), lpSystemTimeAsFileTime);
}

extern "C" void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    FILETIME now;
    StoreTicks(CurrentTicks(), &now);
    FileTimeToSystemTime(&now, lpSystemTime);
}

// Windows refuses any field out of its range: year 1601 to 30827, a day beyond the month's
// length (29 February only in leap years), hour 24, minute or second 60 (no leap seconds),
// millisecond 1000. The day of the week is ignored.
extern "C" BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& st = *lpSystemTime;
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59 || st.wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto days = static_cast<std::uint64_t>(DaysFromCivil(st.wYear, st.wMonth, st.wDay) +
                                                 kDaysFrom1601To1970);
    const std::uint64_t seconds = st.wHour * 3600u + st.wMinute * 60u + st.wSecond;
    StoreTicks(
        days * kTicksPerDay + seconds * kTicksPerSecond + st.wMilliseconds * kTicksPerMillisecond,
        lpFileTime);
    return TRUE;
}

// Times with the top bit set are refused, as on Windows.
extern "C" BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    if ((ticks >> 63) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::uint64_t days = ticks / kTicksPerDay;
    std::uint64_t rest = ticks % kTicksPerDay;
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(static_cast<std::int64_t>(days) - kDaysFrom1601To1970, year, month, day);
    SYSTEMTIME& st = *lpSystemTime;
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    // 1601-01-01 was a Monday (1); Sunday is 0.
    st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);
    st.wHour = static_cast<WORD>(rest / (3600 * kTicksPerSecond));
    rest %= 3600 * kTicksPerSecond;
    st.wMinute = static_cast<WORD>(rest / (60 * kTicksPerSecond));
    rest %= 60 * kTicksPerSecond;
    st.wSecond = static_cast<WORD>(rest / kTicksPerSecond);
    rest %= kTicksPerSecond;
    st.wMilliseconds = static_cast<WORD>(rest / kTicksPerMillisecond);
    return TRUE;
}
