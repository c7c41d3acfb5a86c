// The parsed network map and the settings in force. Internal to the platform library.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bsd_socket.h"

namespace zntr::platform::detail {

struct NetworkRules {
    // Lower-case name, and its addresses in the order getaddrinfo answers them: IPv4 dotted
    // quads or the IPv6 loopback "::1".
    std::vector<std::pair<std::string, std::vector<std::string>>> names;
    std::vector<std::pair<Ipv4Endpoint, Ipv4Endpoint>> endpoints;
    bool allowLan = false;

    // The addresses a name maps to, if the map has it.
    const std::vector<std::string>* MapName(std::string_view name) const;
    // Where a connect to the endpoint goes.
    Ipv4Endpoint MapEndpoint(const Ipv4Endpoint& endpoint) const;
};

// Parses a map; entries that do not parse are skipped and the first one's reason goes to
// *error (std::nullopt for a map with any bad entry when `strict`).
std::optional<NetworkRules> ParseNetworkRules(std::string_view map, bool strict,
                                              std::string* error);

// The settings in force: the program's, else the environment's of this moment.
NetworkRules CurrentNetworkRules();

// Whether a network-order IPv4 address is in 127.0.0.0/8.
bool IsLoopback(std::uint32_t address);

// Strict dotted-quad IPv4 text to a network-order address.
std::optional<std::uint32_t> ParseDottedQuad(std::string_view text);

struct Counters {
    std::atomic<std::uint64_t> systemLookups{0};
    std::atomic<std::uint64_t> systemConnects{0};
    std::atomic<std::uint64_t> guardRefusals{0};
};
Counters& NetworkCountersStorage();

}  // namespace zntr::platform::detail
