// Critical sections are recursive and exclusive between threads, as on Windows.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "standin/synchapi.h"

namespace {

class CriticalSectionTest : public ::testing::Test {
  protected:
    void SetUp() override { InitializeCriticalSection(&section_); }
    void TearDown() override { DeleteCriticalSection(&section_); }
    CRITICAL_SECTION section_;
};

TEST_F(CriticalSectionTest, TheOwnerEntersAgainAndLeavesOncePerEnter) {
    EnterCriticalSection(&section_);
    EnterCriticalSection(&section_);
    LeaveCriticalSection(&section_);
    // Still owned once: another thread cannot enter.
    bool enteredElsewhere = true;
    std::thread([&] { enteredElsewhere = TryEnterCriticalSection(&section_); }).join();
    EXPECT_FALSE(enteredElsewhere);
    LeaveCriticalSection(&section_);
    std::thread([&] {
        enteredElsewhere = TryEnterCriticalSection(&section_);
        if (enteredElsewhere) {
            LeaveCriticalSection(&section_);
        }
    }).join();
    EXPECT_TRUE(enteredElsewhere);
}

#if !defined(_WIN32)
// The stand-in's own answer to a misuse that Windows leaves undefined ("an error occurs that may
// cause another thread to wait indefinitely"): Windows and Wine do not check the owner, so there
// a non-owner's leave does release the section.
TEST_F(CriticalSectionTest, LeaveByANonOwnerDoesNotReleaseTheOwnersHold) {
    EnterCriticalSection(&section_);
    std::thread([&] { LeaveCriticalSection(&section_); }).join();
    bool enteredElsewhere = true;
    std::thread([&] { enteredElsewhere = TryEnterCriticalSection(&section_); }).join();
    EXPECT_FALSE(enteredElsewhere);
    LeaveCriticalSection(&section_);
}
#endif

TEST_F(CriticalSectionTest, WaitersAreExcludedAndAllGetIn) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    int counter = 0;  // guarded by section_ only
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                EnterCriticalSection(&section_);
                if (inside.fetch_add(1) != 0) {
                    overlap = true;
                }
                ++counter;
                inside.fetch_sub(1);
                LeaveCriticalSection(&section_);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(overlap);
    EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(CriticalSectionSpinCountTest, InitializeWithSpinCountAlwaysSucceeds) {
    CRITICAL_SECTION section;
    EXPECT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 0x80000400));
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
}

}  // namespace
