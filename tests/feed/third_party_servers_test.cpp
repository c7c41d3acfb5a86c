// The driver's discovery and stream reading against servers the project did not write: a static
// status page served by BusyBox httpd, and a recorded drive served by socat, both on loopback,
// where the network map sends the driver's endpoints.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "loopback_tools.h"
#include "temporary_folder.h"
#include "standin/network_control.h"
#include "table.h"

// Driver headers last: they rename the C runtime's number readers.
#include "circular_buffer.h"
#include "gps_port_info.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::ChildProcess;
using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line + "\n");
    }
    return lines;
}

// Reads the stream at the address as the receive loop does (non-blocking receives into the
// ring, whole lines taken out) until the server closes it.
Lines ReadStream(const char* address, int port) {
    Lines lines;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port));
    target.sin_addr.s_addr = inet_addr(address);
    EXPECT_EQ(connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof(target)), 0);
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    std::vector<BYTE> storage(CIRCULAR_BUFFER_SIZE);
    CircularBuffer ring{storage.data(), CIRCULAR_BUFFER_SIZE, 0, 0};
    char text[1024];
    for (int received = 1; received != 0;) {
        std::memset(text, 0, sizeof(text));
        received = recv(s, text, 1023, 0);
        if (received > 0) {
            WriteToCircularBuffer(ring, reinterpret_cast<const BYTE*>(text),
                                  static_cast<DWORD>(received));
        } else if (received < 0) {
            Sleep(10);
        }
        while (ReadLinesFromCircularBuffer(ring, text, sizeof(text)) && text[0] != '\0') {
            for (const std::string& line : SplitLines(text)) {
                lines.push_back(line);
            }
        }
    }
    closesocket(s);
    return lines;
}

// With the address in the answer the stream is reached directly; without it the driver falls
// back to 192.168.1.1:10110, which the map sends to socat.
TEST(ThirdPartyServers, DiscoveryAtBusyBoxHttpdThenTheDriveFromSocat) {
    const std::string busybox = zntr::test::FindProgram("busybox");
    const std::string socat = zntr::test::FindProgram("socat");
    if (busybox.empty() || socat.empty()) {
        GTEST_SKIP() << "busybox or socat is not installed (scripts/install-deps installs both)";
    }
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    const std::string drive = ZNTR_SOURCE_DIR "/data/sample-drive.nmea";
    for (const bool announced : {true, false}) {
        const zntr::test::TemporaryFolder folder;
        const int streamPort = zntr::test::FreeLoopbackPort();
        const int httpPort = zntr::test::FreeLoopbackPort();
        std::filesystem::create_directory(folder.path() / "www");
        std::ofstream(folder.path() / "www/getGPSStatus.cgi")
            << "GPSEnable=1\x1b" +
                (announced ? "WwIpaddr=127.0.0.1\x1bWwPort=" + std::to_string(streamPort) + "\x1b"
                           : std::string());
        // -U: from the second address to the first; each connection opens the drive afresh.
        const auto stream = ChildProcess::Start(
            {socat, "-U",
             "TCP-LISTEN:" + std::to_string(streamPort) + ",bind=127.0.0.1,reuseaddr,fork",
             "OPEN:" + drive});
        const auto httpd = ChildProcess::Start({busybox, "httpd", "-f", "-p",
                                                "127.0.0.1:" + std::to_string(httpPort), "-h",
                                                (folder.path() / "www").string()});
        ASSERT_TRUE(stream && httpd);
        ASSERT_TRUE(zntr::test::WaitForLoopbackListener(httpPort, 30s));
        ASSERT_TRUE(zntr::test::WaitForLoopbackListener(streamPort, 30s));
        zntr::platform::ScopedNetworkSettings network(
            {"gps-hotspot.internal=127.0.0.1;127.0.0.1:80=127.0.0.1:" + std::to_string(httpPort) +
                 ";192.168.1.1:10110=127.0.0.1:" + std::to_string(streamPort),
             false});
        char address[PORT_QUERY_ADDRESS_SIZE] = {};
        int port = 10110;
        ASSERT_EQ(QueryGpsPortInfo(address, &port, nullptr), 1);
        EXPECT_STREQ(address, announced ? "127.0.0.1" : "192.168.1.1");
        EXPECT_EQ(port, announced ? streamPort : 10110);
        EXPECT_EQ(ReadStream(address, port), SplitLines(zntr::test::ReadTextFile(drive)))
            << "every sentence once, whole and in order";
    }
    WSACleanup();
}

}  // namespace
