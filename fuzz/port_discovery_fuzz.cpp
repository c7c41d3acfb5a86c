// The port discovery's handling of the web interface's answer: QueryGpsPortInfo against a status
// page on 127.0.0.1 that serves the input (the format of status_page.h: the route, then the
// answer, a record separator ending the first receive), reached through the network map as the
// driver reaches the hotspot. The guard stays closed: nothing can leave the machine. The seed
// corpus is tests/data/discovery/answers, whose table pins what each of its inputs gives.
//
// Beyond not crashing or leaking, it checks that the request is the route's, byte for byte, and
// that the result, address and port are those the answer rules give: the first receive, or the
// second when the first is text without "WwPort="; values behind their keys up to ESC, the end
// of the text or their buffer; no usable answer means the default endpoint, an answer without
// "GPSEnable=" or with 0 means no stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "standin/network_control.h"
#include "status_page.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "gps_port_info.h"
#include "hotspot_device.h"

namespace {

struct Outcome {
    int result = 0;
    std::string address;
    int port = HOTSPOT_DEFAULT_STREAM_PORT;
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

// What the discovery makes of the parts its receives return (at most 1023 bytes each).
Outcome Expected(const std::vector<std::string>& parts) {
    const auto text = [](const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); };
    const Outcome defaults{1, HOTSPOT_DEFAULT_ADDRESS, HOTSPOT_DEFAULT_STREAM_PORT};
    const std::string first = parts.empty() ? "" : parts[0];
    if (first.empty()) {
        return defaults;  // no answer at all
    }
    std::string answer = first.substr(0, 1023);
    if (!text(answer).empty() && text(answer).find("WwPort=") == std::string::npos) {
        // The rest of a long first part comes before the second part.
        answer = first.size() > 1023 ? first.substr(1023, 1023)
                 : parts.size() > 1  ? parts[1].substr(0, 1023)
                                     : "";
        if (answer.empty()) {
            return defaults;  // the second receive saw the end
        }
    }
    answer = text(answer);
    Outcome outcome{0, "", HOTSPOT_DEFAULT_STREAM_PORT};
    if (const std::size_t key = answer.find("WwPort="); key != std::string::npos) {
        outcome.port = atoi(ValueAfter(answer, key + 7, 100).c_str());
    }
    if (const std::size_t key = answer.find("WwIpaddr="); key != std::string::npos) {
        outcome.address = ValueAfter(answer, key + 9, PORT_QUERY_ADDRESS_SIZE);
    }
    const std::size_t enable = answer.find("GPSEnable=");
    if (enable == std::string::npos || atoi(ValueAfter(answer, enable + 10, 100).c_str()) == 0) {
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

    const zntr::test::StatusPageInput input =
        zntr::test::ParseStatusPageInput(std::string(reinterpret_cast<const char*>(data), size));
    zntr::test::ScriptedPeer page(input.script);
    zntr::platform::ScopedNetworkSettings network(
        {zntr::test::StatusPageMap(input.byName, page.Port()), false});
    char address[PORT_QUERY_ADDRESS_SIZE];
    std::memset(address, 0, sizeof(address));
    int port = HOTSPOT_DEFAULT_STREAM_PORT;
    const int result = QueryGpsPortInfo(address, &port, nullptr);

    FUZZ_CHECK(page.Received().size() == 1 &&
                   page.Received()[0] == zntr::test::StatusRequest(input.byName),
               "the request of the route");
    FUZZ_CHECK(std::memchr(address, '\0', sizeof(address)) != nullptr, "address terminated");
    const Outcome actual{result, result == 1 ? address : "", port};
    FUZZ_CHECK(actual == Expected(input.script.parts), "the outcome the answer rules give");
    return 0;
}
