// GetThreadTimes as Windows defines it: kernel and user time are CPU time the thread used (not
// the time it existed), in 100-nanosecond units; once the thread has ended they and its exit
// time no longer change; a handle that names no thread fails with ERROR_INVALID_HANDLE.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "driver_platform.h"
#include "wine_quirks.h"

namespace {

using namespace std::chrono_literals;

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct Times {
    ULONGLONG creation = 0;
    ULONGLONG exit = 0;
    ULONGLONG kernel = 0;
    ULONGLONG user = 0;
    ULONGLONG Cpu() const { return kernel + user; }
};

Times Read(HANDLE thread) {
    FILETIME creation, exit, kernel, user;
    EXPECT_TRUE(GetThreadTimes(thread, &creation, &exit, &kernel, &user));
    return {Ticks(creation), Ticks(exit), Ticks(kernel), Ticks(user)};
}

ULONGLONG Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

constexpr ULONGLONG kMillisecond = 10000;

std::atomic<bool> gStop{false};

// Burns CPU until told to stop; the stop flag is polled without any platform call.
DWORD WINAPI Spin(LPVOID) {
    volatile unsigned long long sink = 0;
    while (!gStop.load(std::memory_order_relaxed)) {
        sink = sink + 1;
    }
    return 0;
}

DWORD WINAPI Doze(LPVOID) {
    Sleep(300);
    return 0;
}

TEST(ThreadTimesTest, ASpinningThreadUsesCpuTimeASleepingOneAlmostNone) {
    gStop = false;
    const ULONGLONG before = Now();
    HANDLE spinner = CreateThread(nullptr, 0, Spin, nullptr, 0, nullptr);
    HANDLE sleeper = CreateThread(nullptr, 0, Doze, nullptr, 0, nullptr);
    ASSERT_NE(spinner, nullptr);
    ASSERT_NE(sleeper, nullptr);
    std::this_thread::sleep_for(200ms);
    const Times spinning = Read(spinner);
    gStop = true;
    ASSERT_EQ(WaitForSingleObject(spinner, 5000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(sleeper, 5000), WAIT_OBJECT_0);
    const ULONGLONG after = Now();

    // While it runs: at least part of the 200 ms on the CPU (the machine may be shared), never
    // more than it has existed; no exit time yet.
    EXPECT_GT(spinning.Cpu(), 20 * kMillisecond);
    EXPECT_LE(spinning.Cpu(), after - before + 10 * kMillisecond);
    EXPECT_EQ(spinning.exit, 0u);

    const Times spun = Read(spinner);
    const Times slept = Read(sleeper);
    // Wine keeps no CPU times for a thread that has ended: it reports 0 kernel and user time.
    if (!zntr::test::RunningUnderWine()) {
        EXPECT_GE(spun.Cpu(), spinning.Cpu()) << "CPU time only grows";
    }
    EXPECT_LT(slept.Cpu(), 20 * kMillisecond) << "300 ms asleep costs next to no CPU time";
    for (const Times& t : {spun, slept}) {
        EXPECT_LE(before, t.creation);
        EXPECT_LE(t.creation, t.exit);
        EXPECT_LE(t.exit, after);
    }
    EXPECT_GE(slept.exit - slept.creation, 250 * kMillisecond) << "the exit time is its end";

    // Ended: nothing changes any more.
    std::this_thread::sleep_for(20ms);
    const Times later = Read(spinner);
    EXPECT_EQ(later.kernel, spun.kernel);
    EXPECT_EQ(later.user, spun.user);
    EXPECT_EQ(later.exit, spun.exit);
    CloseHandle(spinner);
    CloseHandle(sleeper);
}

TEST(ThreadTimesTest, AHandleThatNamesNoThreadFailsWithInvalidHandle) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE closed = CreateThread(nullptr, 0, Doze, nullptr, CREATE_SUSPENDED, nullptr);
    ASSERT_TRUE(TerminateThread(closed, 0));
    ASSERT_TRUE(CloseHandle(closed));
    FILETIME creation, exit, kernel, user;
    struct Case {
        const char* legend;
        HANDLE handle;
    } const cases[] = {
        {"null", nullptr},
        {"an event", event},
        {"a closed thread handle", closed},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(GetThreadTimes(c.handle, &creation, &exit, &kernel, &user)) << c.legend;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.legend;
    }
    CloseHandle(event);

#if !defined(_WIN32)
    // The stand-in refuses a null out pointer where Windows would fault.
    HANDLE thread = CreateThread(nullptr, 0, Doze, nullptr, CREATE_SUSPENDED, nullptr);
    SetLastError(0);
    EXPECT_FALSE(GetThreadTimes(thread, &creation, &exit, &kernel, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    TerminateThread(thread, 0);
    CloseHandle(thread);
#endif
}

}  // namespace
