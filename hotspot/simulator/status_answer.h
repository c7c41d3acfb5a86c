#pragma once

// The hotspot's HTTP status endpoint: what `GET /getGPSStatus.cgi?dataType=TEXT` answers. The
// answer carries "GPSEnable=", "WwIpaddr=" and "WwPort=", each value ended by ESC (0x1B).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zntr::hotspot {

struct StatusAnswerOptions {
    std::string gps_enable = "1";  // "0" disables the stream
    std::string address;           // WwIpaddr value; empty: the stream server's address
    int port = -1;                 // WwPort value; negative: the stream server's port
    bool omit_address = false;
    bool omit_port = false;
    bool esc = true;  // false: values end at a line feed instead of ESC
    // The status line and headers in one TCP segment, the keys in a second one.
    bool split_headers = false;
    // Bytes put in the body ahead of the keys (Content-Length counts them): printable filler
    // lines (megabytes make an answer no reader takes in one receive), then random bytes of
    // every value, NUL and ESC included, the same on every answer.
    std::size_t filler_bytes = 0;
    std::size_t binary_bytes = 0;
};

// The answer's body: the filler and binary bytes when asked for, then the three keys, in the
// order GPSEnable, WwIpaddr, WwPort.
std::string StatusBody(const StatusAnswerOptions& options, const std::string& streamAddress,
                       int streamPort);

// The whole HTTP answer, cut into the segments to send one after the other.
std::vector<std::string> StatusAnswerSegments(const StatusAnswerOptions& options,
                                              const std::string& streamAddress, int streamPort);

// A 404 answer for any other request.
std::string NotFoundAnswer();

// Whether a request's first line asks for the status page (GET, path /getGPSStatus.cgi, any
// query, any HTTP version).
bool IsStatusRequest(std::string_view request);

}  // namespace zntr::hotspot
