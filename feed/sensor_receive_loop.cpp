// The sensor's receive loop: connecting to the hotspot's stream, then polling the non-blocking
// socket for ever, four lines per pass at most, with a 1000 ms pause whenever nothing came.
//
// The loop has no stop signal. The last client's disconnection terminates the thread, which on
// this platform takes effect at the thread's next blocking call: the receive, the pause, a wait
// of the discovery, or the wait for mSensorLock inside SetDataFieldValue. No lock is held across
// any of them, and between a change of the sensor's feed members and the statement that makes it
// consistent (the storage freed and its pointer cleared) there is none.
#include "sensor_receive_loop.h"

#include "debug_log.h"
#include "gps_port_info.h"
#include "hotspot_device.h"
#include "nmea_line_sink.h"
#include "prop_variant.h"
#include "sensor_ddi.h"

ULONG gRecvPassCount = 0;

namespace {

// One pass's buffers: a receive asks for one byte less than its buffer, so the text stays
// terminated; the same buffer then takes the lines out of the ring.
constexpr size_t RECEIVE_BUFFER_SIZE = 1024;
constexpr int RECEIVE_SIZE = static_cast<int>(RECEIVE_BUFFER_SIZE) - 1;
constexpr size_t LINE_BUFFER_SIZE = 1024;

constexpr DWORD NO_DATA_PAUSE_MS = 1000;

// The counter's value taken on every sixth pass that took lines.
constexpr ULONG DUMMY_PASS = 5;

// What a pass that received nothing sets to VT_R8 0.0, in this order. The timestamp, the fix
// quality and the satellite count get the same double, not their usual types.
const PROPERTYKEY kNoDataFields[] = {
    SENSOR_DATA_TYPE_ERROR_RADIUS_METERS,
    SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS,
    SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS,
    SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION,
    SENSOR_DATA_TYPE_LATITUDE_DEGREES,
    SENSOR_DATA_TYPE_LONGITUDE_DEGREES,
    SENSOR_DATA_TYPE_SATELLITES_USED_COUNT,
    SENSOR_DATA_TYPE_FIX_QUALITY,
    SENSOR_DATA_TYPE_TIMESTAMP,
    SENSOR_DATA_TYPE_SPEED_KNOTS,
};

void SetDataFieldToZero(cSensorDDI& sensor, REFPROPERTYKEY key) {
    cPropVariant value;
    value.vt = VT_R8;
    value.dblVal = 0.0;
    sensor.SetDataFieldValue(key, &value);
}

// The way out when the thread cannot connect. Whoever takes mhRecvThread out first owns the
// handle: here the thread closes its own; if a disconnection took it first, that one is ending
// the thread and closes it once the thread no longer runs. The storage is released before the
// handle is given up, so a disconnection that finds no handle finds no storage of this thread
// either, and a thread started after it never meets this one's.
void GiveUp(cSensorDDI& sensor) {
    DebugLog("GpsRecvThreadProc: Failed to create and connect to the socket");
    ReleaseRecvBufferStorage(sensor.mRecvBuffer);
    const HANDLE hRecvThread = sensor.mhRecvThread.exchange(nullptr);
    if (hRecvThread != nullptr) {
        CloseHandle(hRecvThread);
    }
}

// Hands each line of the text (as strtok splits it at line feeds: runs of line feeds are one
// separator, no piece is empty) to the line sink with its line feed put back.
void PassLines(char* text, char* line) {
    for (char* piece = strtok(text, "\n"); piece != nullptr; piece = strtok(nullptr, "\n")) {
        // The text came out of a buffer of the same size, so a piece and its line feed fit.
        const size_t length = std::min(std::strlen(piece), LINE_BUFFER_SIZE - 2);
        std::memset(line, 0, LINE_BUFFER_SIZE);
        std::memcpy(line, piece, length);
        line[length] = '\n';
        ProcessNMEALine(line);
    }
}

}  // namespace

void ReleaseRecvBufferStorage(CircularBuffer& buffer) {
    if (buffer.mpData != nullptr) {
        HeapFree(GetProcessHeap(), 0, buffer.mpData);
    }
    buffer.mpData = nullptr;
    buffer.mReadIndex = 0;
    buffer.mWriteIndex = 0;
}

// The socket belongs to the sensor from the moment it is stored in mSocket: a thread terminated
// during the discovery or the connect leaves it there for the disconnection to close.
int SocketCreateAndConnect(cSensorDDI* pSensorDDI) {
    char ipAddress[PORT_QUERY_ADDRESS_SIZE];
    std::memset(ipAddress, 0, sizeof(ipAddress));
    if (pSensorDDI->mSocket != 0) {
        DebugLog("SocketCreateAndConnect returns\n");
        return 1;
    }
    DebugLog("Before Create Sock\n");
    const SOCKET streamSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (streamSocket == INVALID_SOCKET) {
        return 0;
    }
    pSensorDDI->mSocket = streamSocket;
    DebugLog("Before HTTP Request Sock\n");
    // An answer that enables the stream and names an address but no port keeps this start
    // value: the hotspot's default stream port.
    int port = HOTSPOT_DEFAULT_STREAM_PORT;
    if (QueryGpsPortInfo(ipAddress, &port, nullptr) != 0) {
        sockaddr_in address;
        std::memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(ipAddress);
        address.sin_port = htons(static_cast<u_short>(port));
        static_assert(sizeof(address) == 16, "connect is given a 16-byte address");
        DebugLog("Before Connect\n");
        if (connect(streamSocket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
            0) {
            DebugLog("Before returning from Connect\n");
            return 1;
        }
    }
    closesocket(streamSocket);
    pSensorDDI->mSocket = 0;
    return 0;
}

DWORD WINAPI GpsRecvThreadProc(LPVOID pParameter) {
    cSensorDDI* pSensorDDI = static_cast<cSensorDDI*>(pParameter);
    if (pSensorDDI == nullptr) {
        DebugLog("GpsRecvThreadProc: invalid cQueue pointer\n");
        return 0;
    }
    CircularBuffer& buffer = pSensorDDI->mRecvBuffer;
    buffer.mpData =
        static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, CIRCULAR_BUFFER_SIZE));
    if (buffer.mpData == nullptr) {
        // The handle stays set: the last client's disconnection closes it.
        DebugLog("GpsRecvThreadProc: Failed to intialize the circular buffer\n");
        return 0;
    }
    buffer.mWriteIndex = 0;
    buffer.mReadIndex = 0;
    buffer.mSize = CIRCULAR_BUFFER_SIZE;

    if (SocketCreateAndConnect(pSensorDDI) == 0) {
        GiveUp(*pSensorDDI);
        return 0;
    }
    // Polled from here on; the result is of no consequence, a blocking socket works too.
    u_long nonBlocking = 1;
    ioctlsocket(pSensorDDI->mSocket, FIONBIO, &nonBlocking);

    char received[RECEIVE_BUFFER_SIZE];
    char line[LINE_BUFFER_SIZE];
    for (;;) {
        std::memset(received, 0, sizeof(received));
        std::memset(line, 0, sizeof(line));
        // Would-block, a closed stream and errors alike: pause, then report no data.
        const int count = recv(pSensorDDI->mSocket, received, RECEIVE_SIZE, 0);
        if (count <= 0) {
            Sleep(NO_DATA_PAUSE_MS);
            for (const PROPERTYKEY& key : kNoDataFields) {
                SetDataFieldToZero(*pSensorDDI, key);
            }
            continue;
        }
        // A write the ring refuses loses those bytes.
        if (buffer.mpData != nullptr) {
            WriteToCircularBuffer(buffer, reinterpret_cast<const BYTE*>(received),
                                  static_cast<DWORD>(count));
        }
        if (GetCircularBufferUnreadCount(buffer) == 0) {
            continue;
        }
        std::memset(received, 0, sizeof(received));
        ReadLinesFromCircularBuffer(buffer, received, sizeof(received));
        PassLines(received, line);

        const ULONG pass = gRecvPassCount++;
        if (pass == DUMMY_PASS) {
            ProcessNMEALine("Dummy");
            SetDataFieldToZero(*pSensorDDI, SENSOR_DATA_TYPE_ERROR_RADIUS_METERS);
            gRecvPassCount = 0;
        }
    }
}
