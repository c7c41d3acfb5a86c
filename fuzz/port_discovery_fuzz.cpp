// The port discovery's handling of the web interface's answer: QueryGpsPortInfo against a
// one-shot status page on 127.0.0.1 that serves the fuzzer's bytes, reached through the network
// map exactly as the driver reaches the hotspot (by its host name, or by 192.168.1.1:80 when the
// name does not resolve). The LAN guard stays closed: nothing can leave the machine.
//
// Input (FuzzedDataProvider): the route (by name or by address) from the last byte; then the
// first part of the answer, ended by a backslash and any other character (a doubled backslash
// stands for one); the rest is the second part, served only when the discovery receives again.
//
// Beyond not crashing or leaking, it checks:
// - the request is the one of the route, byte for byte;
// - the result, the address and the port are those the answer rules give: the first receive, or
//   a second one when the first is text without "WwPort="; values behind their keys up to ESC,
//   the end of the text or their buffer; no usable answer means the default endpoint, an answer
//   without "GPSEnable=" or with 0 means no stream. (Should the two parts ever arrive in one
//   receive, the outcome of that one answer is accepted too.)
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "standin/network_control.h"
#include "status_page_peer.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "gps_port_info.h"
#include "hotspot_device.h"

namespace {

constexpr std::size_t kReceiveSize = 1023;
constexpr int kStartPort = HOTSPOT_DEFAULT_STREAM_PORT;

#define STATUS_REQUEST(host)                                                           \
    "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\nAccept: */*\r\nAccept-Language: " \
    "en-us\r\nAccept-Encoding: gzip, deflate\r\nHost: " host                           \
    "\r\nConnection: Keep-Alive\r\n"                                                   \
    "\r\n"

struct Outcome {
    int result = 0;
    std::string address;
    int port = 0;
    bool operator==(const Outcome&) const = default;
};

// The value behind a key: up to ESC, the end of the text, or size - 1 characters.
std::string ValueAfter(const std::string& text, std::size_t at, std::size_t size) {
    std::string value;
    while (at < text.size() && value.size() < size - 1 && text[at] != '\x1b') {
        value.push_back(text[at++]);
    }
    return value;
}

// What the discovery makes of the bytes its receives return (empty: the receive saw the end).
Outcome Expected(const std::string& first, const std::string& second, bool splitApart) {
    const auto text = [](const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); };
    const Outcome defaults{1, HOTSPOT_DEFAULT_ADDRESS, HOTSPOT_DEFAULT_STREAM_PORT};
    std::string answer = splitApart ? first : (first + second).substr(0, kReceiveSize);
    if (answer.empty()) {
        return defaults;  // no answer at all
    }
    if (zntr::fuzz::ReceivesAgain(answer)) {
        if (!splitApart || second.empty()) {
            return defaults;  // the second receive saw the end
        }
        answer = second;
    }
    answer = text(answer);
    Outcome outcome{0, "", kStartPort};
    bool enabled = false;
    if (const std::size_t key = answer.find("WwPort="); key != std::string::npos) {
        outcome.port = atoi(ValueAfter(answer, key + 7, 100).c_str());
    }
    if (const std::size_t key = answer.find("WwIpaddr="); key != std::string::npos) {
        outcome.address = ValueAfter(answer, key + 9, PORT_QUERY_ADDRESS_SIZE);
    }
    if (const std::size_t key = answer.find("GPSEnable="); key != std::string::npos) {
        enabled = atoi(ValueAfter(answer, key + 10, 100).c_str()) != 0;
    }
    if (!enabled) {
        return Outcome{0, "", outcome.port};
    }
    return outcome.address.empty() ? defaults : Outcome{1, outcome.address, outcome.port};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = [] {
        zntr::fuzz::DropDebugOutput();
        gEnableLog = 1;
        WSADATA wsaData;
        return WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    }();
    FUZZ_CHECK(once, "Winsock started");

    FuzzedDataProvider provider(data, size);
    const bool byName = provider.ConsumeBool();
    const std::string first = provider.ConsumeRandomLengthString(kReceiveSize);
    const std::string second = provider.ConsumeRemainingBytesAsString().substr(0, kReceiveSize);

    zntr::fuzz::StatusPagePeer peer(first, second);
    FUZZ_CHECK(peer.Listening(), "loopback status page listening");
    const std::string target = "127.0.0.1:" + std::to_string(peer.Port());
    zntr::platform::NetworkSettings settings;
    settings.map = byName ? HOTSPOT_WEB_API_HOST_NAME "=127.0.0.1;127.0.0.1:80=" + target
                          : HOTSPOT_DEFAULT_ADDRESS ":80=" + target;
    settings.allowLan = false;
    zntr::platform::ScopedNetworkSettings network(settings);

    char address[PORT_QUERY_ADDRESS_SIZE];
    std::memset(address, 0, sizeof(address));
    int port = kStartPort;
    const int result = QueryGpsPortInfo(address, &port, nullptr);
    peer.Finish();

    FUZZ_CHECK(peer.Request() == (byName ? STATUS_REQUEST(HOTSPOT_WEB_API_HOST_NAME)
                                         : STATUS_REQUEST(HOTSPOT_DEFAULT_ADDRESS)),
               "the request of the route");
    FUZZ_CHECK(std::memchr(address, '\0', sizeof(address)) != nullptr, "address terminated");
    const Outcome actual{result, result == 1 ? address : "", port};
    FUZZ_CHECK(actual == Expected(first, second, true) || actual == Expected(first, second, false),
               "the outcome the answer rules give");
    return 0;
}
