// The network map (ZNTR_NETMAP) and the LAN guard (ZNTR_ALLOW_LAN): parsing and the settings in
// force. See standin/network_control.h for the rules.
#include "network_map.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

#include "standin/network_control.h"

namespace zntr::platform::detail {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool IsHostName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_';
    });
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    const int port = std::atoi(std::string(text).c_str());
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    // Network byte order, as the port stands in a socket address.
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(port >> 8),
                                   static_cast<std::uint8_t>(port & 0xFF)};
    std::uint16_t value = 0;
    std::memcpy(&value, bytes, 2);
    return value;
}

std::optional<Ipv4Endpoint> ParseEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto address = ParseDottedQuad(Trim(text.substr(0, colon)));
    const auto port = ParsePort(Trim(text.substr(colon + 1)));
    if (!address || !port) {
        return std::nullopt;
    }
    return Ipv4Endpoint{*address, *port};
}

// Adds one entry; false with the reason when it does not parse.
bool AddEntry(std::string_view entry, NetworkRules& rules, std::string* error) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos || entry.find('=', equals + 1) != std::string_view::npos) {
        *error = "entry '" + std::string(entry) + "' needs exactly one '='";
        return false;
    }
    const std::string_view left = Trim(entry.substr(0, equals));
    const std::string_view right = Trim(entry.substr(equals + 1));
    if (left.find(':') != std::string_view::npos) {
        const auto from = ParseEndpoint(left);
        const auto to = ParseEndpoint(right);
        if (!from || !to) {
            *error = "entry '" + std::string(entry) +
                     "' maps endpoints but one side is not IPv4-ADDRESS:PORT (port 1-65535)";
            return false;
        }
        rules.endpoints.emplace_back(*from, *to);
        return true;
    }
    std::vector<std::string> addresses;
    for (std::string_view list = right; !list.empty() || addresses.empty();) {
        const std::size_t comma = std::min(list.find(','), list.size());
        const std::string_view address = Trim(list.substr(0, comma));
        list.remove_prefix(std::min(comma + 1, list.size()));
        if (address != "::1" && !ParseDottedQuad(address)) {
            addresses.clear();
            break;
        }
        addresses.emplace_back(address);
    }
    if (!IsHostName(left) || addresses.empty()) {
        *error = "entry '" + std::string(entry) +
                 "' maps a name but is not NAME=ADDRESS[,ADDRESS...] (IPv4 addresses or ::1; "
                 "name of letters, digits, '.-_')";
        return false;
    }
    rules.names.emplace_back(Lower(left), std::move(addresses));
    return true;
}

struct ProgramSettings {
    std::mutex mutex;
    std::optional<NetworkSettings> settings;
};

ProgramSettings& Program() {
    static ProgramSettings program;
    return program;
}

// Warns once per distinct bad environment map, so that a typo is seen but not repeated at
// every connect.
void WarnAboutEnvironmentMap(const std::string& map, const std::string& error) {
    static std::mutex mutex;
    static std::set<std::string> warned;
    std::lock_guard<std::mutex> lock(mutex);
    if (warned.insert(map).second) {
        std::fprintf(stderr, "warning: ZNTR_NETMAP: %s; the entry is ignored\n", error.c_str());
    }
}

}  // namespace

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text) {
    std::uint8_t bytes[4] = {};
    std::size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.') {
                return std::nullopt;
            }
            ++position;
        }
        std::size_t digits = 0;
        int value = 0;
        while (position < text.size() && std::isdigit(static_cast<unsigned char>(text[position])) &&
               digits < 4) {
            value = value * 10 + (text[position] - '0');
            ++position;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        bytes[part] = static_cast<std::uint8_t>(value);
    }
    if (position != text.size()) {
        return std::nullopt;
    }
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, 4);
    return address;
}

bool IsLoopback(std::uint32_t address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, 4);
    return bytes[0] == 127;
}

const std::vector<std::string>* NetworkRules::MapName(std::string_view name) const {
    const std::string lower = Lower(name);
    for (const auto& [mapped, addresses] : names) {
        if (mapped == lower) {
            return &addresses;
        }
    }
    return nullptr;
}

Ipv4Endpoint NetworkRules::MapEndpoint(const Ipv4Endpoint& endpoint) const {
    for (const auto& [from, to] : endpoints) {
        if (from == endpoint) {
            return to;
        }
    }
    return endpoint;
}

std::optional<NetworkRules> ParseNetworkRules(std::string_view map, bool strict,
                                              std::string* error) {
    NetworkRules rules;
    std::string firstError;
    while (!map.empty()) {
        const std::size_t end = std::min(map.find(';'), map.size());
        const std::string_view entry = Trim(map.substr(0, end));
        map.remove_prefix(std::min(end + 1, map.size()));
        std::string reason;
        if (!entry.empty() && !AddEntry(entry, rules, &reason)) {
            if (firstError.empty()) {
                firstError = reason;
            }
            if (strict) {
                break;
            }
        }
    }
    if (error != nullptr) {
        *error = firstError;
    }
    if (strict && !firstError.empty()) {
        return std::nullopt;
    }
    return rules;
}

NetworkRules CurrentNetworkRules() {
    std::optional<NetworkSettings> settings;
    {
        ProgramSettings& program = Program();
        std::lock_guard<std::mutex> lock(program.mutex);
        settings = program.settings;
    }
    if (settings) {
        // Checked when it was set.
        NetworkRules rules = *ParseNetworkRules(settings->map, true, nullptr);
        rules.allowLan = settings->allowLan;
        return rules;
    }
    const char* map = std::getenv("ZNTR_NETMAP");
    const char* allowLan = std::getenv("ZNTR_ALLOW_LAN");
    std::string error;
    NetworkRules rules = *ParseNetworkRules(map == nullptr ? "" : map, false, &error);
    if (!error.empty()) {
        WarnAboutEnvironmentMap(map, error);
    }
    rules.allowLan = allowLan != nullptr && std::strcmp(allowLan, "1") == 0;
    return rules;
}

Counters& NetworkCountersStorage() {
    static Counters counters;
    return counters;
}

}  // namespace zntr::platform::detail

namespace zntr::platform {

bool SetNetworkSettings(const NetworkSettings& settings, std::string* error) {
    if (!detail::ParseNetworkRules(settings.map, true, error)) {
        return false;
    }
    detail::ProgramSettings& program = detail::Program();
    std::lock_guard<std::mutex> lock(program.mutex);
    program.settings = settings;
    return true;
}

ScopedNetworkSettings::ScopedNetworkSettings(const NetworkSettings& settings) {
    std::string error;
    if (!detail::ParseNetworkRules(settings.map, true, &error)) {
        throw std::invalid_argument("network map: " + error);
    }
    detail::ProgramSettings& program = detail::Program();
    std::lock_guard<std::mutex> lock(program.mutex);
    hadSettings_ = program.settings.has_value();
    if (hadSettings_) {
        previous_ = *program.settings;
    }
    program.settings = settings;
}

ScopedNetworkSettings::~ScopedNetworkSettings() {
    detail::ProgramSettings& program = detail::Program();
    std::lock_guard<std::mutex> lock(program.mutex);
    if (hadSettings_) {
        program.settings = previous_;
    } else {
        program.settings.reset();
    }
}

NetworkCounters GetNetworkCounters() {
    const detail::Counters& counters = detail::NetworkCountersStorage();
    return {counters.systemLookups.load(), counters.systemConnects.load(),
            counters.guardRefusals.load()};
}

}  // namespace zntr::platform
