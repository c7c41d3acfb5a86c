// Hotspot GPS port discovery: one HTTP exchange with the hotspot's web interface, retried until
// the interface accepts the connection.
#include "gps_port_info.h"

#include "debug_log.h"
#include "hotspot_device.h"

namespace {

// The two request texts differ only in their Host line: the host name when it resolved, else the
// hotspot's fixed address.
#define GPS_STATUS_REQUEST(host)                       \
    "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\n" \
    "Accept: */*\r\n"                                  \
    "Accept-Language: en-us\r\n"                       \
    "Accept-Encoding: gzip, deflate\r\n"               \
    "Host: " host                                      \
    "\r\n"                                             \
    "Connection: Keep-Alive\r\n"                       \
    "\r\n"

constexpr char NAME_REQUEST[] = GPS_STATUS_REQUEST(HOTSPOT_WEB_API_HOST_NAME);
constexpr char ADDRESS_REQUEST[] = GPS_STATUS_REQUEST(HOTSPOT_DEFAULT_ADDRESS);
static_assert(sizeof(ADDRESS_REQUEST) - 1 == 160, "the address request is 160 bytes");

constexpr size_t REQUEST_SIZE = 1024;
constexpr size_t ANSWER_SIZE = 1024;
constexpr int ANSWER_RECEIVE_SIZE = 1023;
constexpr size_t VALUE_SIZE = 100;

constexpr char ESC = 0x1B;

// Pauses after a failed connect: longer when the name resolved (a reachable network with a slow
// device), shorter when falling back to the fixed address.
constexpr DWORD NAME_RETRY_PAUSE_MS = 1000;
constexpr DWORD ADDRESS_RETRY_PAUSE_MS = 500;
constexpr DWORD STOP_EVENT_WAIT_MS = 100;

// The discovery's log messages, byte for byte, in one table; a message's index is its entry in
// PortQueryMessage.
enum PortQueryMessage {
    LOG_SOCKET_FAILED,
    LOG_RESOLVED,
    LOG_RESOLVE_FAILED,
    LOG_USING_DEFAULT_ADDRESS,
    LOG_CONNECTED_BY_NAME,
    LOG_CONNECTED_BY_ADDRESS,
    LOG_CONNECT_FAILED,
    LOG_SEND_FAILED,
    LOG_RECEIVE_FAILED,
    LOG_SECOND_RECEIVE_FAILED,
    LOG_RESPONSE,
    LOG_NOT_ENABLED,
    LOG_SETTING_DEFAULTS,
    LOG_RESULT,
};
constexpr const char* PORT_QUERY_LOG[] = {
    "Failed to create the socket\n",
    "getaddrinfo returns %d,\n",
    "Failed to resolve the IP address from the dns name Error : %d\n",
    "Using default value 192.168.1.1\n",
    "connected to dns\n",
    "connected to the port\n",
    "Failed to connect to the http port\n",
    "Failed to send with error %d\n",
    "Failed to receive response with error %d\n",
    "Failed to receive 2 response with error %d\n",
    "HTTP Response :%s\n",
    "Gps Port is not Enabled on the device\n",
    "Setting default IP and Port Value\n",
    "IP: %s, Port: %d\n",
};
static_assert(std::size(PORT_QUERY_LOG) == LOG_RESULT + 1, "one message per entry");

// Closes the HTTP socket on every way out, including the unwinding of a terminated thread.
class cSocketHolder {
  public:
    explicit cSocketHolder(SOCKET socket) : mSocket(socket) {}
    ~cSocketHolder() {
        if (mSocket != INVALID_SOCKET) {
            closesocket(mSocket);
        }
    }
    cSocketHolder(const cSocketHolder&) = delete;
    cSocketHolder& operator=(const cSocketHolder&) = delete;
    SOCKET Get() const { return mSocket; }

  private:
    SOCKET mSocket;
};

class cAddrInfoHolder {
  public:
    cAddrInfoHolder() = default;
    ~cAddrInfoHolder() {
        if (mpList != nullptr) {
            freeaddrinfo(mpList);
        }
    }
    cAddrInfoHolder(const cAddrInfoHolder&) = delete;
    cAddrInfoHolder& operator=(const cAddrInfoHolder&) = delete;
    PADDRINFOA* Out() { return &mpList; }
    const ADDRINFOA* Get() const { return mpList; }

  private:
    PADDRINFOA mpList = nullptr;
};

// The first IPv4 entry of a resolution: the HTTP socket is IPv4 and could never connect to
// another family's address.
const ADDRINFOA* FirstIpv4Entry(const ADDRINFOA* list) {
    for (const ADDRINFOA* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
            return entry;
        }
    }
    return list;
}

// Copies the value behind a key into a buffer of `size` bytes. The value ends at its ESC, at the
// end of the received text, or after size - 1 characters, whichever comes first.
void CopyValue(char* destination, size_t size, const char* value) {
    size_t length = 0;
    while (length < size - 1 && value[length] != '\0' && value[length] != ESC) {
        destination[length] = value[length];
        ++length;
    }
    destination[length] = '\0';
}

// The exchange on a connected socket. Returns 1 (with the defaults applied when no address was
// found) or 0 when the device offers no stream.
int ExchangeStatus(SOCKET httpSocket, const char* request, char* pIpAddress, int* pPort) {
    char answer[ANSWER_SIZE];
    char portText[VALUE_SIZE];
    char enableText[VALUE_SIZE];
    std::memset(answer, 0, sizeof(answer));

    bool enabled = false;
    if (send(httpSocket, request, static_cast<int>(std::strlen(request)), 0) <= 0) {
        DebugLog(PORT_QUERY_LOG[LOG_SEND_FAILED], WSAGetLastError());
        enabled = true;
    } else if (recv(httpSocket, answer, ANSWER_RECEIVE_SIZE, 0) <= 0) {
        DebugLog(PORT_QUERY_LOG[LOG_RECEIVE_FAILED], WSAGetLastError());
        enabled = true;
    } else {
        std::memset(portText, 0, sizeof(portText));
        std::memset(enableText, 0, sizeof(enableText));
        bool answered = true;
        // Only the status line and headers came first: the keys follow in a second receive,
        // whose bytes replace the first.
        if (answer[0] != '\0' && std::strstr(answer, "WwPort=") == nullptr) {
            std::memset(answer, 0, sizeof(answer));
            if (recv(httpSocket, answer, ANSWER_RECEIVE_SIZE, 0) <= 0) {
                DebugLog(PORT_QUERY_LOG[LOG_SECOND_RECEIVE_FAILED], WSAGetLastError());
                enabled = true;
                answered = false;
            }
        }
        if (answered && answer[0] != '\0') {
            DebugLog(PORT_QUERY_LOG[LOG_RESPONSE], answer);
            if (const char* port = std::strstr(answer, "WwPort=")) {
                CopyValue(portText, sizeof(portText), port + std::strlen("WwPort="));
                *pPort = atoi(portText);
            }
            if (const char* address = std::strstr(answer, "WwIpaddr=")) {
                CopyValue(pIpAddress, PORT_QUERY_ADDRESS_SIZE, address + std::strlen("WwIpaddr="));
            }
            if (const char* enable = std::strstr(answer, "GPSEnable=")) {
                CopyValue(enableText, sizeof(enableText), enable + std::strlen("GPSEnable="));
                enabled = atoi(enableText) != 0;
            }
        }
    }
    if (!enabled) {
        DebugLog(PORT_QUERY_LOG[LOG_NOT_ENABLED]);
        return 0;
    }
    // An interface that accepted the connection but gave no usable answer, or an answer without
    // an address, leaves the driver to the hotspot's default stream endpoint.
    if (pIpAddress[0] == '\0') {
        DebugLog(PORT_QUERY_LOG[LOG_SETTING_DEFAULTS]);
        std::strcpy(pIpAddress, HOTSPOT_DEFAULT_ADDRESS);
        *pPort = HOTSPOT_DEFAULT_STREAM_PORT;
    }
    DebugLog(PORT_QUERY_LOG[LOG_RESULT], pIpAddress, *pPort);
    return 1;
}

}  // namespace

int QueryGpsPortInfo(char* pIpAddress, int* pPort, cPortQueryQueue* pQueue) {
    cSocketHolder httpSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (httpSocket.Get() == INVALID_SOCKET) {
        DebugLog(PORT_QUERY_LOG[LOG_SOCKET_FAILED]);
        return 0;
    }

    char request[REQUEST_SIZE];
    for (;;) {
        std::memset(request, 0, sizeof(request));
        cAddrInfoHolder resolved;
        sockaddr_in fallback;
        const sockaddr* target = nullptr;
        int targetLength = 0;
        DWORD retryPause = 0;
        bool byName = false;

        const int result =
            getaddrinfo(HOTSPOT_WEB_API_HOST_NAME, HOTSPOT_HTTP_SERVICE, nullptr, resolved.Out());
        if (result == 0) {
            DebugLog(PORT_QUERY_LOG[LOG_RESOLVED], result);
            std::strcpy(request, NAME_REQUEST);
            const ADDRINFOA* entry = FirstIpv4Entry(resolved.Get());
            target = entry->ai_addr;
            targetLength = static_cast<int>(entry->ai_addrlen);
            retryPause = NAME_RETRY_PAUSE_MS;
            byName = true;
        } else {
            DebugLog(PORT_QUERY_LOG[LOG_RESOLVE_FAILED], result);
            DebugLog(PORT_QUERY_LOG[LOG_USING_DEFAULT_ADDRESS]);
            std::strcpy(request, ADDRESS_REQUEST);
            std::memset(&fallback, 0, sizeof(fallback));
            fallback.sin_family = AF_INET;
            fallback.sin_port = htons(HOTSPOT_HTTP_PORT);
            fallback.sin_addr.s_addr = inet_addr(HOTSPOT_DEFAULT_ADDRESS);
            target = reinterpret_cast<const sockaddr*>(&fallback);
            targetLength = sizeof(fallback);
            retryPause = ADDRESS_RETRY_PAUSE_MS;
        }

        // The queue's reader may have gone: its waiting reads are completed, and a signalled
        // stop event ends the discovery.
        if (pQueue != nullptr && pQueue->GetStopEvent() != nullptr) {
            pQueue->FreeList();
            if (WaitForSingleObject(pQueue->GetStopEvent(), STOP_EVENT_WAIT_MS) == WAIT_OBJECT_0) {
                return 0;
            }
        }

        if (connect(httpSocket.Get(), target, targetLength) == 0) {
            DebugLog(PORT_QUERY_LOG[byName ? LOG_CONNECTED_BY_NAME : LOG_CONNECTED_BY_ADDRESS]);
            break;
        }
        DebugLog(PORT_QUERY_LOG[LOG_CONNECT_FAILED]);
        if (pQueue != nullptr) {
            pQueue->FreeList();
        }
        Sleep(retryPause);
    }
    return ExchangeStatus(httpSocket.Get(), request, pIpAddress, pPort);
}
