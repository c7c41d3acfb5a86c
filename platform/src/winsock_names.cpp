// Winsock name and address functions: getaddrinfo with the network map and the guard, and
// inet_addr with the Windows grammar.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bsd_socket.h"
#include "network_map.h"
#include "standin/winsock2.h"
#include "standin/ws2tcpip.h"
#include "thread_object.h"
#include "winsock_state.h"

using namespace zntr::platform::detail;

namespace {

// One result entry with its address in the same allocation, so freeaddrinfo releases both.
struct AddressEntry {
    ADDRINFOA info;
    union {
        sockaddr_in v4;
        sockaddr_in6 v6;
    } address;
};
static_assert(offsetof(AddressEntry, info) == 0);

int Fail(int error) {
    WSASetLastError(error);
    return error;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

AddressEntry* MakeEntry(const ResolvedAddress& resolved, int flags) {
    auto* entry = new AddressEntry{};
    entry->info.ai_flags = flags;
    entry->info.ai_family = resolved.family;
    entry->info.ai_socktype = resolved.socketType;
    entry->info.ai_protocol = resolved.protocol;
    if (resolved.family == AF_INET) {
        entry->address.v4.sin_family = AF_INET;
        entry->address.v4.sin_port = resolved.port;
        std::memcpy(&entry->address.v4.sin_addr, resolved.address.data(), 4);
        entry->info.ai_addrlen = sizeof(sockaddr_in);
    } else {
        entry->address.v6.sin6_family = AF_INET6;
        entry->address.v6.sin6_port = resolved.port;
        std::memcpy(&entry->address.v6.sin6_addr, resolved.address.data(), 16);
        entry->address.v6.sin6_scope_id = resolved.scopeId;
        entry->info.ai_addrlen = sizeof(sockaddr_in6);
    }
    entry->info.ai_addr = reinterpret_cast<sockaddr*>(&entry->address);
    return entry;
}

// One part of an inet_addr text: decimal, octal after a leading 0, hex after 0x. False when
// the part is empty, holds a bad digit or exceeds 32 bits.
bool ParseInetPart(const char*& cursor, std::uint64_t& value) {
    int base = 10;
    if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
        base = 16;
        cursor += 2;
    } else if (cursor[0] == '0') {
        base = 8;
    }
    const char* start = cursor;
    value = 0;
    for (;; ++cursor) {
        const unsigned char c = static_cast<unsigned char>(*cursor);
        int digit = -1;
        if (std::isdigit(c)) {
            digit = c - '0';
        } else if (base == 16 && std::isxdigit(c)) {
            digit = std::tolower(c) - 'a' + 10;
        }
        if (digit < 0) {
            break;
        }
        if (digit >= base) {
            return false;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) {
            return false;
        }
    }
    return cursor != start || base == 8;
}

}  // namespace

// Which names resolve, and whether a query may be sent, is the network map's and the guard's
// decision (standin/network_control.h). A request without a socket type gets one entry per
// address with ai_socktype and ai_protocol 0, as Windows answers it.
int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints,
                PADDRINFOA* ppResult) {
    ThrowIfTerminationRequested();
    if (ppResult == nullptr) {
        return Fail(WSAEINVAL);
    }
    *ppResult = nullptr;
    if (!WinsockStarted()) {
        return Fail(WSANOTINITIALISED);
    }
    if (pNodeName == nullptr && pServiceName == nullptr) {
        return Fail(WSAHOST_NOT_FOUND);
    }
    ResolveRequest request;
    if (pHints != nullptr) {
        request.flags = pHints->ai_flags;
        request.windowsFamily = pHints->ai_family;
        request.socketType = pHints->ai_socktype;
        request.protocol = pHints->ai_protocol;
    }
    if (request.windowsFamily != AF_UNSPEC && request.windowsFamily != AF_INET &&
        request.windowsFamily != AF_INET6) {
        return Fail(WSAEAFNOSUPPORT);
    }
    if (request.socketType != 0 && request.socketType != SOCK_STREAM &&
        request.socketType != SOCK_DGRAM) {
        return Fail(WSAESOCKTNOSUPPORT);
    }
    // The nodes to resolve, in order: the name's addresses when the map has it (one entry each,
    // as a resolver answers a name's AAAA and A records), else the name itself.
    std::vector<std::string> nodes;
    // A name the map (or the guard's localhost) answered is its own canonical name, as a hosts
    // file entry is.
    bool canonicalFromMap = false;
    if (pNodeName != nullptr) {
        const NetworkRules rules = CurrentNetworkRules();
        if (const std::vector<std::string>* mapped = rules.MapName(pNodeName)) {
            nodes = *mapped;
            request.numericOnly = true;
            canonicalFromMap = true;
        } else if (IsAddressLiteral(pNodeName)) {
            nodes = {pNodeName};
            request.numericOnly = true;
        } else if (!rules.allowLan && EqualsIgnoringCase(pNodeName, "localhost")) {
            nodes = {"127.0.0.1"};
            request.numericOnly = true;
            canonicalFromMap = true;
        } else if (!rules.allowLan || (request.flags & AI_NUMERICHOST) != 0) {
            return Fail(WSAHOST_NOT_FOUND);
        } else {
            nodes = {pNodeName};
            NetworkCountersStorage().systemLookups.fetch_add(1);
        }
    }
    request.service = pServiceName;

    // A mapped address of a family the hints leave out gives no entry; the name fails only when
    // none is left.
    std::vector<ResolvedAddress> results;
    std::string canonicalName;
    int status = 0;
    for (std::size_t index = 0; index < std::max<std::size_t>(nodes.size(), 1); ++index) {
        request.node = nodes.empty() ? nullptr : nodes[index].c_str();
        std::vector<ResolvedAddress> found;
        const int nodeStatus = BsdResolve(request, &found, &canonicalName);
        results.insert(results.end(), found.begin(), found.end());
        if (status == 0) {
            status = nodeStatus;
        }
    }
    if (results.empty()) {
        return Fail(status != 0 ? status : WSAHOST_NOT_FOUND);
    }
    if ((request.flags & AI_CANONNAME) != 0 && pNodeName != nullptr &&
        (canonicalName.empty() || canonicalFromMap)) {
        canonicalName = pNodeName;
    }
    ADDRINFOA* head = nullptr;
    ADDRINFOA** link = &head;
    for (const ResolvedAddress& resolved : results) {
        AddressEntry* entry = MakeEntry(resolved, request.flags);
        *link = &entry->info;
        link = &entry->info.ai_next;
    }
    if ((request.flags & AI_CANONNAME) != 0) {
        head->ai_canonname = new char[canonicalName.size() + 1];
        std::memcpy(head->ai_canonname, canonicalName.c_str(), canonicalName.size() + 1);
    }
    *ppResult = head;
    return 0;
}

void freeaddrinfo(PADDRINFOA pAddrInfo) {
    while (pAddrInfo != nullptr) {
        ADDRINFOA* next = pAddrInfo->ai_next;
        delete[] pAddrInfo->ai_canonname;
        delete reinterpret_cast<AddressEntry*>(pAddrInfo);
        pAddrInfo = next;
    }
}

// "a.b.c.d", "a.b.c" (c fills 16 bits), "a.b" (b fills 24 bits) and "a" (32 bits), each part
// decimal, octal (leading 0) or hex (0x). The text ends at its terminator or at the first blank,
// whatever follows the blank. Anything else, the empty text and NULL give INADDR_NONE, which is
// also the value of the valid "255.255.255.255".
ULONG inet_addr(const char* cp) {
    if (cp == nullptr || *cp == '\0') {
        return INADDR_NONE;
    }
    std::uint64_t parts[4] = {};
    int count = 0;
    const char* cursor = cp;
    for (;;) {
        if (count == 4 || !ParseInetPart(cursor, parts[count])) {
            return INADDR_NONE;
        }
        ++count;
        if (*cursor == '.') {
            ++cursor;
            continue;
        }
        if (*cursor != '\0' && !std::isspace(static_cast<unsigned char>(*cursor))) {
            return INADDR_NONE;
        }
        break;
    }
    std::uint64_t host = 0;
    const std::uint64_t lastLimit[] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) {
            return INADDR_NONE;
        }
        host |= parts[i] << (24 - 8 * i);
    }
    if (parts[count - 1] > lastLimit[count - 1]) {
        return INADDR_NONE;
    }
    host |= parts[count - 1];
    return htonl(static_cast<ULONG>(host));
}
