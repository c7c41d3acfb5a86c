// The proof that the network guard holds, on which every test relies to keep the driver from
// reaching 192.168.1.1: without the LAN allowed, a connect beyond loopback fails at once with
// WSAENETUNREACH before any system call, whether the address was given or mapped to; a name the
// map lacks is never sent to a resolver (each name's row is in network.table).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "driver_platform.h"
#include "standin/network_control.h"

namespace {

using zntr::platform::GetNetworkCounters;

class NetworkGuardTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data_), 0); }
    void TearDown() override { WSACleanup(); }

    // Whether the guard refused a connect at once with WSAENETUNREACH, and no system call was
    // made.
    bool Refused(const char* address, int port) {
        const auto before = GetNetworkCounters();
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<u_short>(port));
        target.sin_addr.s_addr = inet_addr(address);
        const int result = connect(s, reinterpret_cast<sockaddr*>(&target), sizeof(target));
        const int error = WSAGetLastError();
        closesocket(s);
        const auto after = GetNetworkCounters();
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
    const auto lookups = GetNetworkCounters().systemLookups;
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
    EXPECT_EQ(GetNetworkCounters().systemLookups, lookups) << "no name went to a resolver";
}

}  // namespace
