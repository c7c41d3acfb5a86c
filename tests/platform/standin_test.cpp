// What only the stand-in does, and every test relies on. TerminateThread: the target ends at its
// blocking platform call (a sleep, a wait, a socket receive, the wait to enter a critical section),
// its stack unwinds so that every scoped guard on it releases what it held, and the call returns
// once the target no longer runs (Windows releases nothing; the stand-in is safer on purpose). The
// network guard, which keeps the driver from reaching 192.168.1.1: without the LAN allowed, a
// connect beyond loopback fails at once with WSAENETUNREACH before any system call, whether the
// address was given or mapped to, and a name the map lacks is never sent to a resolver (each
// name's row is in network.table).
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "critical_section_lock.h"
#include "driver_platform.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"
#include "wait_until.h"

namespace {

// Whether a thread of this process is asleep in the kernel (state S in its /proc stat line).
bool Asleep(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t end = line.rfind(')');
    return end != std::string::npos && line.size() > end + 2 && line[end + 2] == 'S';
}

std::unique_ptr<zntr::hotspot::HotspotSimulator> gSilentPage;  // takes requests, never answers

// Each closes what it holds on every way out, the unwinding of a terminated thread included.
struct Event {
    HANDLE handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Event() { CloseHandle(handle); }
};
struct Connection {
    WSADATA data;
    SOCKET value = (WSAStartup(MAKEWORD(2, 2), &data), socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ~Connection() {
        closesocket(value);
        WSACleanup();
    }
};

struct BlockingCall {
    const char* name;
    std::function<void(CRITICAL_SECTION& held)> block;  // `held` is held by the test's thread
};

// The target holds `own` with the driver's scoped lock, then blocks; a guard on its stack makes a
// blocking call of its own while the termination unwinds it, which is left to complete.
struct Target {
    const BlockingCall& call;
    CRITICAL_SECTION own, held;
    std::atomic<pid_t> thread{0};
    std::atomic<bool> unwound{false}, after{false};

    static DWORD WINAPI Run(LPVOID parameter) {
        auto* target = static_cast<Target*>(parameter);
        struct Guard {
            std::atomic<bool>& unwound;
            ~Guard() {
                Sleep(1);
                unwound = true;
            }
        } guard{target->unwound};
        cCriticalSectionLock lock(target->own);
        target->thread = ::gettid();
        target->call.block(target->held);
        target->after = true;
        return 1;
    }
};

const BlockingCall kBlockingCalls[] = {
    {"Sleep", [](CRITICAL_SECTION&) { Sleep(INFINITE); }},
    // As the driver's event thread waits: alertable, for several events.
    {"WaitForMultipleObjectsEx",
     [](CRITICAL_SECTION&) {
         Event first, second;
         const HANDLE events[] = {first.handle, second.handle};
         WaitForMultipleObjectsEx(2, events, FALSE, INFINITE, TRUE);
     }},
    {"EnterCriticalSection", [](CRITICAL_SECTION& held) { cCriticalSectionLock lock(held); }},
    {"recv",
     [](CRITICAL_SECTION&) {
         Connection page;
         sockaddr_in address{};
         address.sin_family = AF_INET;
         address.sin_port = htons(static_cast<u_short>(gSilentPage->http_port()));
         address.sin_addr.s_addr = inet_addr("127.0.0.1");
         ASSERT_EQ(connect(page.value, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
         char answer[64];
         recv(page.value, answer, sizeof(answer), 0);
     }},
};

TEST(TerminateThreadTest, EndsTheThreadAtEachBlockingCallAndLeavesNothingItHeldHeld) {
    zntr::hotspot::SimulatorOptions options;
    options.http_fault = zntr::hotspot::HttpFault::kSilent;
    gSilentPage = std::make_unique<zntr::hotspot::HotspotSimulator>(options);
    for (const BlockingCall& call : kBlockingCalls) {
        SCOPED_TRACE(call.name);
        Target target{call, {}, {}};
        InitializeCriticalSection(&target.own);
        InitializeCriticalSection(&target.held);
        EnterCriticalSection(&target.held);
        HANDLE thread = CreateThread(nullptr, 0, Target::Run, &target, 0, nullptr);
        ASSERT_TRUE(zntr::test::WaitUntil(
            [&] { return target.thread != 0 && Asleep(target.thread); }, std::chrono::seconds(20)));

        ASSERT_TRUE(TerminateThread(thread, 7));
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0)
            << "it has ended when the call returns";
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(thread, &code));
        EXPECT_EQ(code, 7u);
        EXPECT_TRUE(target.unwound) << "its stack unwound; a destructor's own sleep completed";
        EXPECT_FALSE(target.after) << "nothing after the blocking call ran";
        LeaveCriticalSection(&target.held);
        bool free = false;
        std::thread([&] {
            free = TryEnterCriticalSection(&target.own) && TryEnterCriticalSection(&target.held);
        }).join();
        EXPECT_TRUE(free) << "neither the lock it held nor the one it waited for is held";
        CloseHandle(thread);
        DeleteCriticalSection(&target.own);
        DeleteCriticalSection(&target.held);
    }
    gSilentPage.reset();
}

class NetworkGuardTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data_), 0); }
    void TearDown() override { WSACleanup(); }

    // Whether the guard refused a connect at once with WSAENETUNREACH, and no system call was
    // made.
    bool Refused(const char* address, int port) {
        const auto before = zntr::platform::GetNetworkCounters();
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<u_short>(port));
        target.sin_addr.s_addr = inet_addr(address);
        const int result = connect(s, reinterpret_cast<sockaddr*>(&target), sizeof(target));
        const int error = WSAGetLastError();
        closesocket(s);
        const auto after = zntr::platform::GetNetworkCounters();
        return result == SOCKET_ERROR && error == WSAENETUNREACH &&
               after.systemConnects == before.systemConnects &&
               after.guardRefusals == before.guardRefusals + 1;
    }

    bool Resolves(const char* name) {
        PADDRINFOA found = nullptr;
        const int status = getaddrinfo(name, "80", nullptr, &found);
        freeaddrinfo(found);
        return status == 0;
    }

    WSADATA data_{};
};

TEST_F(NetworkGuardTest, AConnectBeyondLoopbackIsRefusedBeforeAnySystemCall) {
    zntr::platform::ScopedNetworkSettings network({"127.0.0.1:9=192.168.1.1:80", false});
    // The hotspot's address, a documentation address (TEST-NET-1) and the any-address.
    for (const char* target : {"192.168.1.1", "192.0.2.1", "0.0.0.0"}) {
        EXPECT_TRUE(Refused(target, 80)) << target;
    }
    EXPECT_TRUE(Refused("127.0.0.1", 9)) << "an endpoint mapped away from loopback";
}

TEST_F(NetworkGuardTest, TheEnvironmentsMapIsReadAtEveryCallAndNeverOpensTheGuard) {
    const auto lookups = zntr::platform::GetNetworkCounters().systemLookups;
    ::setenv("ZNTR_NETMAP", "one.test=127.0.0.7;this entry is bad;192.168.1.1:80=127.0.0.1:9", 1);
    ::setenv("ZNTR_ALLOW_LAN", "0", 1);
    EXPECT_TRUE(Resolves("one.test"));
    EXPECT_FALSE(Resolves("unmapped.test"));
    EXPECT_TRUE(Refused("192.168.1.1", 81)) << "a port the map does not name";
    ::setenv("ZNTR_NETMAP", "two.test=127.0.0.8", 1);
    EXPECT_TRUE(Resolves("two.test")) << "read again";
    EXPECT_FALSE(Resolves("one.test"));
    EXPECT_TRUE(Refused("192.168.1.1", 80)) << "no longer mapped";
    ::unsetenv("ZNTR_ALLOW_LAN");
    ::unsetenv("ZNTR_NETMAP");
    EXPECT_EQ(zntr::platform::GetNetworkCounters().systemLookups, lookups)
        << "no name went to a resolver";
}

}  // namespace
