// Events, waits, critical sections and strtok under several threads, with Windows semantics
// (platform-facts §3 and §6): what the conformance rows cannot say. Built natively and for
// Windows (run under Wine). Every wait is for a condition, never for a time.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "driver_platform.h"
#include "wait_until.h"

namespace {

bool Eventually(const std::function<bool()>& condition) {
    return zntr::test::WaitUntil(condition, std::chrono::seconds(20));
}

struct Event {
    explicit Event(BOOL manualReset, BOOL signalled = FALSE)
        : handle(CreateEventW(nullptr, manualReset, signalled, nullptr)) {}
    ~Event() { CloseHandle(handle); }
    bool Signalled() const { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }
    HANDLE handle;
};

// Three threads that each wait once for an event (joined when the object goes), and how many
// of them it released.
struct Waiters {
    explicit Waiters(HANDLE event) {
        for (int i = 0; i < 3; ++i) {
            threads.emplace_back(
                [this, event] { released += WaitForSingleObject(event, 20000) == 0; });
        }
    }
    std::atomic<int> released{0};
    std::vector<std::jthread> threads;
};

TEST(EventsTest, AnAutoResetEventReleasesOneWaiterPerSignalAndSignalsDoNotCount) {
    Event event(FALSE);
    {
        Waiters waiters(event.handle);
        for (int signals = 1; signals <= 3; ++signals) {
            ASSERT_TRUE(SetEvent(event.handle));
            ASSERT_TRUE(Eventually([&] { return waiters.released == signals; }))
                << waiters.released << " released by " << signals << " signals";
        }
        EXPECT_FALSE(event.Signalled()) << "each release reset it";
    }
    SetEvent(event.handle);
    SetEvent(event.handle);
    EXPECT_TRUE(event.Signalled()) << "two signals nobody waited for collapse into one";
    EXPECT_FALSE(event.Signalled());
}

TEST(EventsTest, AManualResetEventReleasesEveryWaiterAndStaysSignalledUntilReset) {
    Event event(TRUE);
    Waiters waiters(event.handle);
    SetEvent(event.handle);
    EXPECT_TRUE(Eventually([&] { return waiters.released == 3; }));
    EXPECT_TRUE(event.Signalled());
    ResetEvent(event.handle);
    EXPECT_FALSE(event.Signalled());
}

// As the driver's event thread waits: alertable, for the first of several events.
TEST(EventsTest, AWaitForSeveralTakesTheLowestSignalledIndexAndResetsOnlyThatOne) {
    Event first(FALSE), second(FALSE, TRUE), third(FALSE, TRUE);
    const HANDLE events[] = {first.handle, second.handle, third.handle};
    EXPECT_EQ(WaitForMultipleObjectsEx(3, events, FALSE, INFINITE, TRUE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjectsEx(3, events, FALSE, INFINITE, TRUE), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjectsEx(3, events, FALSE, 0, TRUE), WAIT_TIMEOUT);
    std::jthread setter([&] { SetEvent(first.handle); });
    EXPECT_EQ(WaitForMultipleObjectsEx(3, events, FALSE, INFINITE, TRUE), WAIT_OBJECT_0)
        << "a signal from another thread ends a blocked wait";
}

TEST(CriticalSectionTest, TheOwnerEntersAgainAndAWaitingThreadGetsInAfterTheLastLeave) {
    CRITICAL_SECTION section;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 0x80000400)) << "always succeeds";
    const auto enteredElsewhere = [&] {
        bool entered = false;
        std::thread([&] {
            entered = TryEnterCriticalSection(&section) && (LeaveCriticalSection(&section), true);
        }).join();
        return entered;
    };
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    LeaveCriticalSection(&section);
    EXPECT_FALSE(enteredElsewhere()) << "one leave per enter";
    EXPECT_FALSE(entered);
    LeaveCriticalSection(&section);
    waiter.join();
    EXPECT_TRUE(entered);
    EXPECT_TRUE(enteredElsewhere());
    DeleteCriticalSection(&section);
}

// Each thread takes its first token and waits for the other to do the same before it goes on:
// with one position for the process (glibc's), one would continue in the other's text.
TEST(CrtStringsTest, StrtokKeepsItsPositionPerThread) {
    std::atomic<int> started{0};
    std::vector<std::string> tokens[2];
    const auto split = [&](std::string text, std::vector<std::string>& out) {
        out.emplace_back(strtok(text.data(), ","));
        for (++started; started < 2;) {
            std::this_thread::yield();
        }
        for (char* token; (token = strtok(nullptr, ",")) != nullptr;) {
            out.emplace_back(token);
        }
    };
    std::jthread a(split, "a1,a2,a3", std::ref(tokens[0])), b(split, "b1,b2", std::ref(tokens[1]));
    a.join();
    b.join();
    EXPECT_EQ(tokens[0], (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(tokens[1], (std::vector<std::string>{"b1", "b2"}));
}

}  // namespace
