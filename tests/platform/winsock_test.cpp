// Winsock over BSD sockets, against real loopback servers: Windows return values and last
// errors (SOCKET_ERROR with WSAGetLastError, 0 for an orderly close, WSAEWOULDBLOCK for a
// non-blocking receive with nothing to read).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "driver_platform.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"

namespace {

using namespace std::chrono_literals;
using zntr::hotspot::HotspotSimulator;
using zntr::hotspot::HttpFault;
using zntr::hotspot::SimulatorOptions;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    return address;
}

const sockaddr* AsSockaddr(const sockaddr_in& address) {
    return reinterpret_cast<const sockaddr*>(&address);
}

class WinsockTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data_), 0); }
    void TearDown() override {
        for (SOCKET s : open_) {
            closesocket(s);
        }
        WSACleanup();
    }
    SOCKET Open() {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        open_.push_back(s);
        return s;
    }
    SOCKET Connected(int port) {
        SOCKET s = Open();
        const sockaddr_in address = Loopback(port);
        EXPECT_EQ(connect(s, AsSockaddr(address), sizeof(address)), 0) << WSAGetLastError();
        return s;
    }

    // Only loopback, whatever the environment says.
    zntr::platform::ScopedNetworkSettings network_{{}};
    WSADATA data_{};
    std::vector<SOCKET> open_;
};

TEST_F(WinsockTest, ARequestAndItsAnswerTravelOverABlockingSocket) {
    HotspotSimulator server(SimulatorOptions{});
    SOCKET s = Connected(server.http_port());
    const std::string request = "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\n\r\n";
    EXPECT_EQ(send(s, request.data(), static_cast<int>(request.size()), 0),
              static_cast<int>(request.size()));
    std::string answer;
    char buffer[512];
    int received = 0;
    while ((received = recv(s, buffer, sizeof(buffer), 0)) > 0) {
        answer.append(buffer, static_cast<size_t>(received));
    }
    EXPECT_EQ(received, 0) << "the server's orderly close reads as 0";
    EXPECT_NE(answer.find("GPSEnable=1\x1b"), std::string::npos) << answer;
    EXPECT_EQ(server.last_request(), request);
}

TEST_F(WinsockTest, ANonBlockingReceiveWithNothingToReadFailsWithWouldBlock) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kSilent;
    HotspotSimulator server(options);
    SOCKET s = Connected(server.http_port());
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    char buffer[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(recv(s, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << "does not wait";
    u_long available = 99;
    ASSERT_EQ(ioctlsocket(s, FIONREAD, &available), 0);
    EXPECT_EQ(available, 0u);
}

TEST_F(WinsockTest, AStreamIsReadUntilThePeerClosesInOrder) {
    const std::string line = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n";
    SimulatorOptions options;
    options.capture = line;
    options.capture_lines_per_second = 100;
    options.faults.close_after_sentences = 3;
    HotspotSimulator server(options);
    SOCKET s = Connected(server.stream_port());
    std::string stream;
    char buffer[64];
    int received = 0;
    while ((received = recv(s, buffer, sizeof(buffer), 0)) > 0) {
        stream.append(buffer, static_cast<size_t>(received));
    }
    EXPECT_EQ(received, 0);
    EXPECT_EQ(stream, line + line + line);
    EXPECT_EQ(recv(s, buffer, sizeof(buffer), 0), 0) << "stays at end of stream";
}

TEST_F(WinsockTest, ARefusedConnectFailsAndTheSameSocketMayConnectAgain) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kRefuse;
    HotspotSimulator server(options);
    SOCKET s = Open();
    const sockaddr_in address = Loopback(server.http_port());
    ASSERT_EQ(connect(s, AsSockaddr(address), sizeof(address)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    server.AcceptHttp();
    EXPECT_EQ(connect(s, AsSockaddr(address), sizeof(address)), 0) << WSAGetLastError();
    EXPECT_EQ(connect(s, AsSockaddr(address), sizeof(address)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);
}

TEST_F(WinsockTest, ANonBlockingConnectReportsWouldBlockNotInProgress) {
    HotspotSimulator server(SimulatorOptions{});
    SOCKET s = Open();
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    const sockaddr_in address = Loopback(server.http_port());
    if (connect(s, AsSockaddr(address), sizeof(address)) == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
}

TEST_F(WinsockTest, ClosingASocketWakesAReceiveBlockedOnItInAnotherThread) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kSilent;
    HotspotSimulator server(options);
    SOCKET s = Connected(server.http_port());
    std::atomic<int> result{0};
    std::atomic<int> error{0};
    std::thread reader([&] {
        char buffer[16];
        result = recv(s, buffer, sizeof(buffer), 0);
        error = WSAGetLastError();
    });
    std::this_thread::sleep_for(50ms);
    open_.clear();
    EXPECT_EQ(closesocket(s), 0);
    reader.join();
    EXPECT_EQ(result.load(), SOCKET_ERROR);
    EXPECT_EQ(error.load(), WSAEINTR);
}

TEST_F(WinsockTest, MisuseFailsWithTheWindowsError) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kSilent;
    HotspotSimulator server(options);
    SOCKET connected = Connected(server.http_port());
    SOCKET closed = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(closesocket(closed), 0);
    char buffer[8] = {};
    const sockaddr_in address = Loopback(server.http_port());
    u_long value = 0;
    struct Case {
        const char* legend;
        std::function<long long()> call;
        long long result;
        int error;
    };
    const Case cases[] = {
        {"a closed socket is no socket", [&] { return recv(closed, buffer, 8, 0); }, SOCKET_ERROR,
         WSAENOTSOCK},
        {"closing it twice", [&] { return closesocket(closed); }, SOCKET_ERROR, WSAENOTSOCK},
        {"a socket value never handed out", [&] { return send(12345, buffer, 1, 0); }, SOCKET_ERROR,
         WSAENOTSOCK},
        {"a receive of 0 bytes", [&] { return recv(connected, buffer, 0, 0); }, SOCKET_ERROR,
         WSAEINVAL},
        {"send with flags", [&] { return send(connected, buffer, 1, 1); }, SOCKET_ERROR,
         WSAEOPNOTSUPP},
        {"an address too short", [&] { return connect(Open(), AsSockaddr(address), 8); },
         SOCKET_ERROR, WSAEFAULT},
        {"an unknown ioctl", [&] { return ioctlsocket(connected, 0x1234, &value); }, SOCKET_ERROR,
         WSAEINVAL},
        {"an IPv6 socket", [] { return static_cast<long long>(socket(AF_INET6, SOCK_STREAM, 0)); },
         static_cast<long long>(INVALID_SOCKET), WSAEAFNOSUPPORT},
        {"a raw socket", [] { return static_cast<long long>(socket(AF_INET, 3, 0)); },
         static_cast<long long>(INVALID_SOCKET), WSAESOCKTNOSUPPORT},
    };
    for (const Case& c : cases) {
        WSASetLastError(0);
        EXPECT_EQ(c.call(), c.result) << c.legend;
        EXPECT_EQ(WSAGetLastError(), c.error) << c.legend;
    }
}

TEST_F(WinsockTest, SocketValuesAreNeverZeroAndNeverReused) {
    const SOCKET first = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    closesocket(first);
    const SOCKET second = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    closesocket(second);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
}

TEST(WinsockStartupTest, WithoutWSAStartupSocketCallsFailWithNotInitialised) {
    // Drains start-ups other tests of this process may have left, and restores them after.
    int outstanding = 0;
    while (WSACleanup() == 0) {
        ++outstanding;
    }
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    PADDRINFOA result = nullptr;
    EXPECT_EQ(getaddrinfo("localhost", "80", nullptr, &result), WSANOTINITIALISED);
    WSADATA data;
    for (int i = 0; i < outstanding; ++i) {
        WSAStartup(MAKEWORD(2, 2), &data);
    }
}

TEST(WinsockAddressTest, InetAddrReadsTheWindowsForms) {
    struct Case {
        const char* text;
        ULONG expected;  // network order, as the function returns it
        const char* legend;
    };
    const Case cases[] = {
        {"192.168.1.1", htonl(0xC0A80101), "dotted quad"},
        {"127.0.0.1", htonl(0x7F000001), "loopback"},
        {"0x7f.1", htonl(0x7F000001), "a.b with hex, b fills 24 bits"},
        {"10.1.258", htonl(0x0A010102), "a.b.c, c fills 16 bits"},
        {"3232235777", htonl(0xC0A80101), "one 32-bit number"},
        {"0300.0250.01.01", htonl(0xC0A80101), "octal parts"},
        {"1.2.3.4 trailing", htonl(0x01020304), "text after a blank is ignored"},
        {"255.255.255.255", INADDR_NONE, "valid, and equal to INADDR_NONE"},
        {"256.1.1.1", INADDR_NONE, "a part above 255"},
        {"1.2.3.4.5", INADDR_NONE, "five parts"},
        {"1.2.3.", INADDR_NONE, "empty last part"},
        {"09.1.1.1", INADDR_NONE, "9 is no octal digit"},
        {"1.2.3.4x", INADDR_NONE, "junk glued to the address"},
        {"", INADDR_NONE, "empty text"},
        {" ", INADDR_NONE, "a blank only"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(inet_addr(c.text), c.expected) << c.legend << ": '" << c.text << "'";
    }
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
    EXPECT_EQ(htons(0x1234), 0x3412);
    EXPECT_EQ(ntohs(htons(10110)), 10110);
    EXPECT_EQ(htonl(0x01020304u), 0x04030201u);
}

}  // namespace
