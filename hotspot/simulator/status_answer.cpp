#include "simulator/status_answer.h"

#include <random>

namespace zntr::hotspot {
namespace {

std::string Headers(std::size_t contentLength, std::string_view status) {
    return "HTTP/1.1 " + std::string(status) +
           "\r\n"
           "Content-Type: text/plain\r\n"
           "Content-Length: " +
           std::to_string(contentLength) +
           "\r\n"
           "Cache-Control: no-cache\r\n"
           "Connection: close\r\n"
           "\r\n";
}

// Lines of dots, each ended by a line feed, `size` bytes in all.
std::string Filler(std::size_t size) {
    std::string filler(size, '.');
    for (std::size_t at = 79; at < size; at += 80) {
        filler[at] = '\n';
    }
    return filler;
}

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(byte(random));
    }
    return bytes;
}

}  // namespace

std::string StatusBody(const StatusAnswerOptions& options, const std::string& streamAddress,
                       int streamPort) {
    const std::string end = options.esc ? std::string(1, '\x1b') : std::string("\n");
    std::string body = Filler(options.filler_bytes) + RandomBytes(options.binary_bytes);
    body += "GPSEnable=" + options.gps_enable + end;
    if (!options.omit_address) {
        body += "WwIpaddr=" + (options.address.empty() ? streamAddress : options.address) + end;
    }
    if (!options.omit_port) {
        body += "WwPort=" + std::to_string(options.port < 0 ? streamPort : options.port) + end;
    }
    return body;
}

std::vector<std::string> StatusAnswerSegments(const StatusAnswerOptions& options,
                                              const std::string& streamAddress, int streamPort) {
    const std::string body = StatusBody(options, streamAddress, streamPort);
    std::string headers = Headers(body.size(), "200 OK");
    if (options.split_headers) {
        return {std::move(headers), body};
    }
    return {headers + body};
}

std::string NotFoundAnswer() {
    const std::string body = "not found\n";
    return Headers(body.size(), "404 Not Found") + body;
}

bool IsStatusRequest(std::string_view request) {
    const std::string_view line = request.substr(0, request.find("\r\n"));
    constexpr std::string_view kPrefix = "GET /getGPSStatus.cgi";
    if (!line.starts_with(kPrefix)) {
        return false;
    }
    const char next = line.size() > kPrefix.size() ? line[kPrefix.size()] : '\0';
    return next == '?' || next == ' ';
}

}  // namespace zntr::hotspot
