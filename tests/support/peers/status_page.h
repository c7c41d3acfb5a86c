// The hotspot's status page as the port discovery's tests and its fuzz target serve it. An input
// (a file of tests/data/discovery/answers) is the route, then the answer: its first byte is even
// for the route by the web interface's host name, odd for the fallback to 192.168.1.1 (the name
// does not resolve); the rest is the answer, and a record separator (0x1E) in it ends the first
// receive: the bytes after it are the second receive, served only once the first was taken.
// Also the request the discovery must send on each route, as the hotspot expects it.
#pragma once

#include <string>

#include "scripted_peer.h"

namespace zntr::test {

struct StatusPageInput {
    bool byName = true;
    PeerScript script;
};

inline StatusPageInput ParseStatusPageInput(const std::string& bytes) {
    StatusPageInput input;
    input.byName = bytes.empty() || (static_cast<unsigned char>(bytes[0]) & 1) == 0;
    const std::string answer = bytes.empty() ? "" : bytes.substr(1);
    const std::size_t split = answer.find('\x1e');
    // An empty first receive is no answer at all: the connection closes without one.
    if (split != 0 && !answer.empty()) {
        input.script.parts.push_back(answer.substr(0, split));
        if (split != std::string::npos) {
            input.script.parts.push_back(answer.substr(split + 1));
        }
    }
    return input;
}

// The network map that leads the route to a status page on 127.0.0.1.
inline std::string StatusPageMap(bool byName, int port) {
    return (byName ? std::string("gps-hotspot.internal=127.0.0.1;127.0.0.1:80=127.0.0.1:")
                   : std::string("192.168.1.1:80=127.0.0.1:")) +
           std::to_string(port);
}

inline std::string StatusRequest(bool byName) {
    return std::string("GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\nAccept: */*\r\n") +
           "Accept-Language: en-us\r\nAccept-Encoding: gzip, deflate\r\nHost: " +
           (byName ? "gps-hotspot.internal" : "192.168.1.1") + "\r\nConnection: Keep-Alive\r\n\r\n";
}

}  // namespace zntr::test
