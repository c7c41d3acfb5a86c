// The network map and the guard of the Winsock stand-in: names and endpoints map to loopback,
// and without the LAN allowed nothing else is resolved by a query or connected to.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "driver_platform.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"

namespace {

using namespace std::chrono_literals;
using zntr::platform::GetNetworkCounters;
using zntr::platform::NetworkSettings;
using zntr::platform::ScopedNetworkSettings;

std::string AddressText(const sockaddr* address) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    const ULONG host = ntohl(in->sin_addr.s_addr);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
           std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF) + ":" +
           std::to_string(ntohs(in->sin_port));
}

class NetworkGuardTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data_), 0); }
    void TearDown() override { WSACleanup(); }

    // getaddrinfo's result: "" with the error, or the first address as "a.b.c.d:port".
    std::pair<int, std::string> Resolve(const char* name, const char* service = "80",
                                        const ADDRINFOA* hints = nullptr) {
        PADDRINFOA result = nullptr;
        const int status = getaddrinfo(name, service, hints, &result);
        std::string first;
        if (status == 0) {
            EXPECT_EQ(result->ai_family, AF_INET);
            first = AddressText(result->ai_addr);
            freeaddrinfo(result);
        } else {
            EXPECT_EQ(result, nullptr);
            EXPECT_EQ(WSAGetLastError(), status) << "the error is also the last error";
        }
        return {status, first};
    }

    // connect's result and error on a fresh socket.
    std::pair<int, int> Connect(const char* address, int port) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<u_short>(port));
        target.sin_addr.s_addr = inet_addr(address);
        WSASetLastError(0);
        const int result = connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
        const int error = WSAGetLastError();
        closesocket(s);
        return {result, error};
    }

    WSADATA data_{};
};

TEST(NetworkMapTest, MapsParseOrNameTheirFirstBadEntry) {
    struct Case {
        const char* map;
        bool valid;
        const char* legend;
    };
    const Case cases[] = {
        {"", true, "empty: nothing mapped"},
        {"gps-hotspot.internal=127.0.0.1", true, "a name"},
        {" Host.Example = 127.0.0.2 ; ; 192.168.1.1:80=127.0.0.1:8080 ", true,
         "blanks and empty entries"},
        {"192.168.1.1:10110=127.0.0.1:10110;a=127.0.0.1", true, "endpoint then name"},
        {"name", false, "no '='"},
        {"a=b=127.0.0.1", false, "two '='"},
        {"name=localhost", false, "a name must map to an address"},
        {"name=127.0.0", false, "three parts"},
        {"name=127.0.0.256", false, "a part above 255"},
        {"bad name=127.0.0.1", false, "a blank inside a name"},
        {"192.168.1.1:80=127.0.0.1", false, "endpoint to an address without port"},
        {"192.168.1.1:0=127.0.0.1:80", false, "port 0"},
        {"192.168.1.1:80=127.0.0.1:65536", false, "port above 65535"},
        {"192.168.1.1:http=127.0.0.1:80", false, "a service name for a port"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(zntr::platform::CheckNetworkMap(c.map, &error), c.valid) << c.legend;
        EXPECT_EQ(error.empty(), c.valid) << c.legend << ": " << error;
    }
    EXPECT_THROW(ScopedNetworkSettings({"name", false}), std::invalid_argument);
}

TEST_F(NetworkGuardTest, NamesResolveThroughTheMapAndNothingElseIsLookedUp) {
    ScopedNetworkSettings network({"gps-hotspot.internal=127.0.0.1;Other.Test=127.0.0.9", false});
    struct Case {
        const char* name;
        int status;
        const char* first;
        const char* legend;
    };
    const Case cases[] = {
        {"gps-hotspot.internal", 0, "127.0.0.1:80", "a mapped name"},
        {"OTHER.test", 0, "127.0.0.9:80", "names match in any letter case"},
        {"localhost", 0, "127.0.0.1:80", "localhost is loopback without a query"},
        {"10.1.2.3", 0, "10.1.2.3:80", "an address literal resolves to itself"},
        {"192.168.1.1", 0, "192.168.1.1:80", "the hotspot's literal too (connect is guarded)"},
        {"example.com", WSAHOST_NOT_FOUND, "", "an unmapped name"},
        {"gps-hotspot", WSAHOST_NOT_FOUND, "", "a prefix of a mapped name"},
        {"", WSAHOST_NOT_FOUND, "", "an empty name"},
    };
    const auto before = GetNetworkCounters();
    for (const Case& c : cases) {
        const auto [status, first] = Resolve(c.name);
        EXPECT_EQ(status, c.status) << c.legend;
        EXPECT_EQ(first, c.first) << c.legend;
    }
    EXPECT_EQ(GetNetworkCounters().systemLookups, before.systemLookups)
        << "no name went to the system resolver";
}

TEST_F(NetworkGuardTest, ResolutionAnswersAsWindowsDoes) {
    ScopedNetworkSettings network({"gps-hotspot.internal=127.0.0.1", false});
    PADDRINFOA result = nullptr;
    ASSERT_EQ(getaddrinfo("gps-hotspot.internal", "80", nullptr, &result), 0);
    EXPECT_EQ(result->ai_next, nullptr) << "one entry per address without hints";
    EXPECT_EQ(result->ai_socktype, 0);
    EXPECT_EQ(result->ai_protocol, 0);
    EXPECT_EQ(result->ai_addrlen, sizeof(sockaddr_in));
    freeaddrinfo(result);

    ADDRINFOA hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_CANONNAME;
    ASSERT_EQ(getaddrinfo("gps-hotspot.internal", "10110", &hints, &result), 0);
    EXPECT_EQ(result->ai_socktype, SOCK_STREAM);
    EXPECT_EQ(result->ai_protocol, IPPROTO_TCP);
    EXPECT_STREQ(result->ai_canonname, "gps-hotspot.internal");
    EXPECT_EQ(AddressText(result->ai_addr), "127.0.0.1:10110");
    freeaddrinfo(result);

    hints = ADDRINFOA{};
    hints.ai_flags = AI_NUMERICHOST;
    EXPECT_EQ(Resolve("gps-hotspot.internal", "80", &hints).second, "127.0.0.1:80")
        << "a mapped name counts as known";
    EXPECT_EQ(Resolve("unmapped.test", "80", &hints).second, "");
    hints = ADDRINFOA{};
    hints.ai_family = 99;
    EXPECT_EQ(Resolve("gps-hotspot.internal", "80", &hints).second, "");
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(Resolve("127.0.0.1", "no-such-service").second, "");
    EXPECT_EQ(WSAGetLastError(), WSATYPE_NOT_FOUND);
}

TEST_F(NetworkGuardTest, ConnectsBeyondLoopbackFailAtOnceWithoutLeavingTheMachine) {
    ScopedNetworkSettings network({"", false});
    // The hotspot's address, a documentation address (TEST-NET-1) and the any-address.
    const char* targets[] = {"192.168.1.1", "192.0.2.1", "0.0.0.0"};
    for (const char* target : targets) {
        const auto before = GetNetworkCounters();
        const auto start = std::chrono::steady_clock::now();
        const auto [result, error] = Connect(target, 80);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms) << target;
        EXPECT_EQ(result, SOCKET_ERROR) << target;
        EXPECT_EQ(error, WSAENETUNREACH) << target;
        const auto after = GetNetworkCounters();
        EXPECT_EQ(after.systemConnects, before.systemConnects) << target << ": nothing was sent";
        EXPECT_EQ(after.guardRefusals, before.guardRefusals + 1) << target;
    }
}

TEST_F(NetworkGuardTest, AMappedHotspotEndpointReachesALoopbackListener) {
    zntr::hotspot::HotspotSimulator server(zntr::hotspot::SimulatorOptions{});
    const std::string http = "127.0.0.1:" + std::to_string(server.http_port());
    ScopedNetworkSettings network({"192.168.1.1:80=" + http, false});

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(80);
    target.sin_addr.s_addr = inet_addr("192.168.1.1");
    ASSERT_EQ(connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof(target)), 0)
        << WSAGetLastError();
    const char request[] = "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\n\r\n";
    send(s, request, sizeof(request) - 1, 0);
    char answer[1024] = {};
    int total = 0;
    int received = 0;
    while ((received = recv(s, answer + total, sizeof(answer) - 1 - total, 0)) > 0) {
        total += received;
    }
    closesocket(s);
    EXPECT_NE(std::string(answer).find("WwPort=" + std::to_string(server.stream_port())),
              std::string::npos)
        << answer;
    EXPECT_EQ(server.http_connections(), 1);

    // Another port of the same host is not mapped, so the guard still holds for it.
    EXPECT_EQ(Connect("192.168.1.1", 81).second, WSAENETUNREACH);
}

TEST_F(NetworkGuardTest, AnEndpointMappedAwayFromLoopbackIsGuardedToo) {
    ScopedNetworkSettings network({"127.0.0.1:9=192.168.1.1:80", false});
    EXPECT_EQ(Connect("127.0.0.1", 9).second, WSAENETUNREACH);
}

TEST_F(NetworkGuardTest, TheEnvironmentIsReadWhenNoProgramSettingsAreInForce) {
    zntr::platform::UseEnvironmentNetworkSettings();
    ::setenv("ZNTR_NETMAP", "env-name.test=127.0.0.7;this entry is bad;other.test=127.0.0.8", 1);
    EXPECT_EQ(Resolve("env-name.test").second, "127.0.0.7:80");
    EXPECT_EQ(Resolve("other.test").second, "127.0.0.8:80") << "a bad entry skips only itself";
    EXPECT_EQ(Resolve("unmapped.test").second, "");

    ::setenv("ZNTR_NETMAP", "later.test=127.0.0.5", 1);
    EXPECT_EQ(Resolve("later.test").second, "127.0.0.5:80") << "read again at every call";
    {
        ScopedNetworkSettings program({"program.test=127.0.0.6", false});
        EXPECT_EQ(Resolve("later.test").second, "") << "program settings replace it";
        EXPECT_EQ(Resolve("program.test").second, "127.0.0.6:80");
    }
    EXPECT_EQ(Resolve("later.test").second, "127.0.0.5:80") << "and give it back";
    ::unsetenv("ZNTR_NETMAP");
}

}  // namespace
