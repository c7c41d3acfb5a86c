// Threads with Windows semantics, and TerminateThread as the stand-in keeps it: the target ends
// at its next blocking platform call with its stack unwound, and the call returns once the
// target no longer runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "critical_section_lock.h"
#include "driver_platform.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"
#include "standin/resource_control.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Handle {
    explicit Handle(HANDLE h) : value(h) {}
    ~Handle() {
        if (value != nullptr) {
            CloseHandle(value);
        }
    }
    HANDLE value;
};

// Runs a std::function on a platform thread.
struct Routine {
    std::function<DWORD()> body;
};

DWORD WINAPI RunRoutine(LPVOID parameter) {
    return static_cast<Routine*>(parameter)->body();
}

// Records whether its scope was left by unwinding.
struct UnwindWitness {
    explicit UnwindWitness(std::atomic<bool>& flag) : unwound(flag) {}
    ~UnwindWitness() { unwound = true; }
    std::atomic<bool>& unwound;
};

void WaitUntilSet(const std::atomic<bool>& flag) {
    for (int i = 0; i < 500 && !flag.load(); ++i) {
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(flag.load()) << "the thread never got to its blocking call";
}

TEST(ThreadsTest, CreateThreadRunsTheRoutineAndSignalsItsHandleWithTheExitCode) {
    Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD seenId = 0;
    Routine routine{[&] {
        seenId = GetCurrentThreadId();
        WaitForSingleObject(go.value, INFINITE);
        return DWORD{42};
    }};
    DWORD id = 0;
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, &id));
    ASSERT_NE(thread.value, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread.value, 50), WAIT_TIMEOUT) << "not signalled while running";
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.value, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    SetEvent(go.value);
    ASSERT_EQ(WaitForSingleObject(thread.value, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread.value, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(seenId, id) << "the thread's own ID is the one CreateThread reported";
    EXPECT_NE(GetCurrentThreadId(), id);
}

TEST(ThreadsTest, ASuspendedThreadRunsOnlyAfterResumeThread) {
    std::atomic<bool> ran{false};
    Routine routine{[&] {
        ran = true;
        return DWORD{0};
    }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, CREATE_SUSPENDED, nullptr));
    ASSERT_NE(thread.value, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread.value, 50), WAIT_TIMEOUT);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(ResumeThread(thread.value), 1u) << "the previous suspend count";
    EXPECT_EQ(WaitForSingleObject(thread.value, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran.load());
}

// What a terminated thread was doing when TerminateThread came. Each routine announces that it
// is about to block, then blocks; `after` must never be reached.
struct BlockingCase {
    const char* legend;
    std::function<void(std::atomic<bool>& blocking)> block;
};

// A loopback status endpoint that takes requests and never answers, for the socket cases.
std::unique_ptr<zntr::hotspot::HotspotSimulator> gSilentServer;

const zntr::hotspot::HotspotSimulator& SilentServer() {
    return *gSilentServer;
}

class TerminateThreadTest : public ::testing::TestWithParam<BlockingCase> {
  public:
    static void SetUpTestSuite() {
        zntr::hotspot::SimulatorOptions options;
        options.http_fault = zntr::hotspot::HttpFault::kSilent;
        gSilentServer = std::make_unique<zntr::hotspot::HotspotSimulator>(options);
    }
    static void TearDownTestSuite() { gSilentServer.reset(); }
};

TEST_P(TerminateThreadTest, EndsTheThreadAtItsBlockingCallWithItsStackUnwound) {
    std::atomic<bool> blocking{false};
    std::atomic<bool> unwound{false};
    std::atomic<bool> after{false};
    Routine routine{[&] {
        UnwindWitness witness(unwound);
        GetParam().block(blocking);
        after = true;
        return DWORD{1};
    }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr));
    ASSERT_NE(thread.value, nullptr);
    WaitUntilSet(blocking);
    std::this_thread::sleep_for(20ms);  // let it block for real

    const auto start = Clock::now();
    ASSERT_TRUE(TerminateThread(thread.value, 7));
    EXPECT_LT(Clock::now() - start, 2s) << "the blocked call noticed the termination";
    // TerminateThread returned, so the thread is signalled already: no wait needed.
    EXPECT_EQ(WaitForSingleObject(thread.value, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.value, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(unwound.load()) << "scoped objects on its stack were destroyed";
    EXPECT_FALSE(after.load()) << "nothing after the blocking call ran";
}

// Closes the socket on every way out, the unwinding of a terminated thread included.
struct SocketGuard {
    SOCKET value;
    ~SocketGuard() {
        if (value != INVALID_SOCKET) {
            closesocket(value);
        }
        WSACleanup();
    }
};

SOCKET ConnectedSocket(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    BlockingCalls, TerminateThreadTest,
    ::testing::Values(BlockingCase{"Sleep(INFINITE)",
                                   [](std::atomic<bool>& blocking) {
                                       blocking = true;
                                       Sleep(INFINITE);
                                   }},
                      BlockingCase{"a wait on an event nobody sets",
                                   [](std::atomic<bool>& blocking) {
                                       Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
                                       blocking = true;
                                       WaitForSingleObject(event.value, INFINITE);
                                   }},
                      BlockingCase{"an alertable wait for several objects",
                                   [](std::atomic<bool>& blocking) {
                                       Handle a(CreateEventW(nullptr, FALSE, FALSE, nullptr));
                                       Handle b(CreateEventW(nullptr, TRUE, FALSE, nullptr));
                                       const HANDLE both[] = {a.value, b.value};
                                       blocking = true;
                                       WaitForMultipleObjectsEx(2, both, FALSE, INFINITE, TRUE);
                                   }},
                      BlockingCase{"a blocking recv on a connection that never speaks",
                                   [](std::atomic<bool>& blocking) {
                                       WSADATA data;
                                       WSAStartup(MAKEWORD(2, 0), &data);
                                       SOCKET s = ConnectedSocket(SilentServer().http_port());
                                       SocketGuard guard{s};
                                       ASSERT_NE(s, INVALID_SOCKET);
                                       const char request[] =
                                           "GET /getGPSStatus.cgi HTTP/1.1\r\n\r\n";
                                       send(s, request, sizeof(request) - 1, 0);
                                       char answer[64];
                                       blocking = true;
                                       recv(s, answer, sizeof(answer), 0);
                                   }},
                      BlockingCase{"a busy loop of non-blocking receives that never sleeps",
                                   [](std::atomic<bool>& blocking) {
                                       WSADATA data;
                                       WSAStartup(MAKEWORD(2, 0), &data);
                                       SOCKET s = ConnectedSocket(SilentServer().http_port());
                                       SocketGuard guard{s};
                                       ASSERT_NE(s, INVALID_SOCKET);
                                       u_long on = 1;
                                       ioctlsocket(s, FIONBIO, &on);
                                       char answer[64];
                                       blocking = true;
                                       while (recv(s, answer, sizeof(answer), 0) == SOCKET_ERROR &&
                                              WSAGetLastError() == WSAEWOULDBLOCK) {
                                       }
                                   }}),
    [](const ::testing::TestParamInfo<BlockingCase>& paramInfo) {
        std::string name;
        for (const char* c = paramInfo.param.legend; *c != '\0'; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c))) {
                name += *c;
            }
        }
        return name;
    });

TEST(TerminateThreadLocksTest, AThreadWaitingForACriticalSectionTheCallerHoldsStillEnds) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    std::atomic<bool> blocking{false};
    std::atomic<bool> entered{false};
    Routine routine{[&] {
        blocking = true;
        cCriticalSectionLock lock(section);
        entered = true;
        return DWORD{0};
    }};
    {
        cCriticalSectionLock held(section);
        Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr));
        WaitUntilSet(blocking);
        std::this_thread::sleep_for(20ms);
        // Terminated while this thread still holds the section the target waits for.
        ASSERT_TRUE(TerminateThread(thread.value, 0));
        EXPECT_FALSE(entered.load());
    }
    // The terminated waiter left nothing behind: another thread enters at once.
    bool enteredElsewhere = false;
    std::thread([&] {
        enteredElsewhere = TryEnterCriticalSection(&section) != FALSE;
        if (enteredElsewhere) {
            LeaveCriticalSection(&section);
        }
    }).join();
    EXPECT_TRUE(enteredElsewhere);
    DeleteCriticalSection(&section);
}

TEST(TerminateThreadLocksTest, ALockHeldByTheTerminatedThreadIsReleasedByItsGuard) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    std::atomic<bool> blocking{false};
    Routine routine{[&] {
        cCriticalSectionLock lock(section);
        blocking = true;
        Sleep(INFINITE);
        return DWORD{0};
    }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr));
    WaitUntilSet(blocking);
    EXPECT_FALSE(TryEnterCriticalSection(&section)) << "held by the sleeping thread";
    ASSERT_TRUE(TerminateThread(thread.value, 0));
    ASSERT_TRUE(TryEnterCriticalSection(&section)) << "released as the stack unwound";
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
}

// A blocking call made by a destructor while the termination unwinds the stack is left to
// finish instead of throwing a second time (which would end the process).
TEST(TerminateThreadLocksTest, ABlockingCallInADestructorDuringTheUnwindingCompletes) {
    std::atomic<bool> blocking{false};
    std::atomic<bool> slept{false};
    struct SleepsOnExit {
        std::atomic<bool>& slept;
        ~SleepsOnExit() {
            Sleep(5);
            slept = true;
        }
    };
    Routine routine{[&] {
        SleepsOnExit guard{slept};
        blocking = true;
        Sleep(INFINITE);
        return DWORD{0};
    }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr));
    WaitUntilSet(blocking);
    ASSERT_TRUE(TerminateThread(thread.value, 3));
    EXPECT_TRUE(slept.load());
}

TEST(ThreadsTest, ExitThreadEndsTheThreadWithItsCodeAndUnwinds) {
    std::atomic<bool> unwound{false};
    std::atomic<bool> after{false};
    Routine routine{[&] {
        UnwindWitness witness(unwound);
        ExitThread(9);
        after = true;  // never reached
        return DWORD{0};
    }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(thread.value, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread.value, &code);
    EXPECT_EQ(code, 9u);
    EXPECT_TRUE(unwound.load());
    EXPECT_FALSE(after.load());
}

TEST(ThreadsTest, AThreadThatTerminatesItselfEndsOnTheSpot) {
    std::atomic<bool> after{false};
    HANDLE self = nullptr;
    Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Routine routine{[&] {
        WaitForSingleObject(go.value, INFINITE);
        TerminateThread(self, 5);
        after = true;
        return DWORD{0};
    }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr));
    self = thread.value;
    SetEvent(go.value);
    ASSERT_EQ(WaitForSingleObject(thread.value, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread.value, &code);
    EXPECT_EQ(code, 5u);
    EXPECT_FALSE(after.load());
}

TEST(ThreadsTest, TerminatingAThreadBeforeItEverRanSkipsItsRoutine) {
    std::atomic<bool> ran{false};
    Routine routine{[&] {
        ran = true;
        return DWORD{0};
    }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, CREATE_SUSPENDED, nullptr));
    ASSERT_TRUE(TerminateThread(thread.value, 11));
    DWORD code = 0;
    GetExitCodeThread(thread.value, &code);
    EXPECT_EQ(code, 11u);
    EXPECT_FALSE(ran.load());
}

TEST(ThreadsTest, AnEndedThreadKeepsItsOwnExitCodeWhenTerminatedLater) {
    Routine routine{[] { return DWORD{4}; }};
    Handle thread(CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(thread.value, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(TerminateThread(thread.value, 99));
    DWORD code = 0;
    GetExitCodeThread(thread.value, &code);
    EXPECT_EQ(code, 4u);
}

TEST(ThreadsTest, AThreadRunsOnAfterItsHandleIsClosed) {
    Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Routine routine{[&] {
        WaitForSingleObject(go.value, INFINITE);
        SetEvent(done.value);
        return DWORD{0};
    }};
    HANDLE thread = CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    SetEvent(go.value);
    EXPECT_EQ(WaitForSingleObject(done.value, 5000), WAIT_OBJECT_0);
    SetLastError(0);
    EXPECT_FALSE(TerminateThread(thread, 0)) << "the closed handle names nothing";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ThreadsTest, FailuresReturnNullOrFalseWithTheirLastError) {
    struct Case {
        const char* legend;
        std::function<bool()> call;  // true when the call failed as Windows fails it
        DWORD error;
    };
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const Case cases[] = {
        {"CreateThread without a routine",
         [] { return CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr) == nullptr; },
         ERROR_INVALID_PARAMETER},
        {"CreateThread out of resources",
         [] {
             zntr::platform::FailNextThreadCreations(1);
             Routine routine{[] { return DWORD{0}; }};
             return CreateThread(nullptr, 0, RunRoutine, &routine, 0, nullptr) == nullptr;
         },
         ERROR_NOT_ENOUGH_MEMORY},
        {"TerminateThread on an event", [&] { return !TerminateThread(event.value, 0); },
         ERROR_INVALID_HANDLE},
        {"GetExitCodeThread on an event",
         [&] {
             DWORD code = 0;
             return !GetExitCodeThread(event.value, &code);
         },
         ERROR_INVALID_HANDLE},
        {"ResumeThread on an event",
         [&] { return ResumeThread(event.value) == static_cast<DWORD>(-1); }, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_TRUE(c.call()) << c.legend;
        EXPECT_EQ(GetLastError(), c.error) << c.legend;
    }
}

TEST(HeapTest, HeapAllocWithZeroMemoryGivesZeroedBlocksAndFreeTakesNull) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    for (const SIZE_T size : {SIZE_T{1}, SIZE_T{3072}, SIZE_T{1 << 20}}) {
        auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, size));
        ASSERT_NE(block, nullptr) << size;
        bool allZero = true;
        for (SIZE_T i = 0; i < size; ++i) {
            allZero = allZero && block[i] == 0;
        }
        EXPECT_TRUE(allZero) << size;
        std::memset(block, 0xAB, size);
        EXPECT_TRUE(HeapFree(heap, 0, block));
    }
    void* empty1 = HeapAlloc(heap, 0, 0);
    void* empty2 = HeapAlloc(heap, 0, 0);
    EXPECT_NE(empty1, nullptr) << "a zero-size block is a valid block";
    EXPECT_NE(empty1, empty2);
    HeapFree(heap, 0, empty1);
    HeapFree(heap, 0, empty2);
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

TEST(HeapTest, AFailedAllocationReturnsNullAndLeavesTheLastError) {
    zntr::platform::FailNextHeapAllocations(1);
    SetLastError(1234);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 16), nullptr);
    EXPECT_EQ(GetLastError(), 1234u);
    void* next = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 16);
    EXPECT_NE(next, nullptr) << "only the one allocation failed";
    HeapFree(GetProcessHeap(), 0, next);
}

}  // namespace
