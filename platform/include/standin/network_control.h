// The network map and the guard of the Winsock stand-in, with no Windows counterpart. The
// framework host, the tools and the tests use this; driver code never does.
//
// A map is a list of entries separated by ';' (blanks around entries and '=' are ignored):
//   NAME=ADDRESS[,ADDRESS...]   getaddrinfo resolves NAME (any letter case) to the addresses, one
//                               entry each in this order, like a hosts file, without any query;
//                               an address is IPv4 or the IPv6 loopback ::1.
//   ADDRESS:PORT=ADDRESS:PORT   connect to the first IPv4 endpoint reaches the second.
// A name maps first; the endpoint map then applies to the address a connect is given. The first
// entry for a name or an endpoint counts.
//
// Unless the LAN is allowed, nothing leaves the machine: a name that is not in the map does not
// resolve (WSAHOST_NOT_FOUND, no query is sent), except IPv4 and IPv6 address literals, which
// resolve to themselves as they always do without a query, and "localhost", which resolves to
// 127.0.0.1; and a connect to any address other than loopback (127.0.0.0/8) left after mapping
// fails at once with WSAENETUNREACH, before any packet is sent.
//
// Unless a program sets them here, the settings come from the environment, read again at every
// getaddrinfo and connect: ZNTR_NETMAP holds the map and ZNTR_ALLOW_LAN=1 allows the LAN. An
// entry of ZNTR_NETMAP that does not parse is ignored (with one warning on standard error), which
// never opens the guard.
#pragma once

#include <cstdint>
#include <string>

namespace zntr::platform {

struct NetworkSettings {
    std::string map;  // in the form of ZNTR_NETMAP
    bool allowLan = false;
};

// Replaces the environment's settings for the rest of the program; false (and nothing changed)
// when the map does not parse, with the reason of the first bad entry in *error.
bool SetNetworkSettings(const NetworkSettings& settings, std::string* error = nullptr);

// Sets the settings for as long as it lives, then puts back what was in force (for tests).
// Throws std::invalid_argument when the map does not parse.
class ScopedNetworkSettings {
  public:
    explicit ScopedNetworkSettings(const NetworkSettings& settings);
    ~ScopedNetworkSettings();
    ScopedNetworkSettings(const ScopedNetworkSettings&) = delete;
    ScopedNetworkSettings& operator=(const ScopedNetworkSettings&) = delete;

  private:
    bool hadSettings_ = false;
    NetworkSettings previous_;
};

// What the stand-in handed to the system, counted since the process started: tests compare two
// readings to prove that a call sent no query and made no connection attempt.
struct NetworkCounters {
    std::uint64_t systemLookups = 0;   // names given to the system resolver (not literals)
    std::uint64_t systemConnects = 0;  // connect() calls made on system sockets
    std::uint64_t guardRefusals = 0;   // connects refused by the guard
};
NetworkCounters GetNetworkCounters();

}  // namespace zntr::platform
