// The queue's stream: its connection to the hotspot and the receive thread that fills the buffer
// and serves waiting reads.
//
// The thread polls: each pass waits up to 100 ms on the device's queue stop event (holding
// mQueueLock, so a read may wait that long for the lock), then receives without blocking. A
// receive that brought nothing completes every waiting read with no data, and the sixth such
// receive in a row, and every one after it, clears the whole buffer. A receive with data serves
// at most one waiting read, the oldest.
#include "critical_section_lock.h"
#include "debug_log.h"
#include "hotspot_device.h"
#include "queue.h"
#include "sensor_receive_loop.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr size_t RECEIVE_BUFFER_SIZE = 1024;
constexpr int RECEIVE_SIZE = static_cast<int>(RECEIVE_BUFFER_SIZE) - 1;
constexpr DWORD STOP_EVENT_WAIT_MS = 100;
constexpr DWORD EMPTY_RECEIVE_PAUSE_MS = 200;
// The count's value taken on the sixth empty receive in a row.
constexpr ULONG CLEAR_AFTER_EMPTY_RECEIVES = 5;

}  // namespace

// As the sensor's connection, but with the queue passed to the discovery, so that it completes
// waiting reads on each attempt and stops when the stop event is set. The socket belongs to the
// queue from the moment it is stored in mSocket.
int cQueue::SocketCreateAndConnect() {
    DebugLog("cQueue::SocketCreateAndConnect\n");
    char ipAddress[PORT_QUERY_ADDRESS_SIZE];
    std::memset(ipAddress, 0, sizeof(ipAddress));
    if (mSocket.load() != 0) {
        DebugLog("cQueue::SocketCreateAndConnect returns\n");
        return 1;
    }
    const SOCKET streamSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (streamSocket == INVALID_SOCKET) {
        return 0;
    }
    mSocket = streamSocket;
    DebugLog("Sending HTTP Request\n");
    int port = HOTSPOT_DEFAULT_STREAM_PORT;
    if (QueryGpsPortInfo(ipAddress, &port, this) != 0) {
        sockaddr_in address;
        std::memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(ipAddress);
        address.sin_port = htons(static_cast<u_short>(port));
        DebugLog("Before Connect\n");
        if (connect(streamSocket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
            0) {
            DebugLog("Before returning from Connect\n");
            return 1;
        }
    }
    const SOCKET owned = mSocket.exchange(0);
    if (owned != 0) {
        closesocket(owned);
    }
    return 0;
}

DWORD WINAPI cQueue::GpsRecvThreadProc(LPVOID pParameter) {
    cQueue* pQueue = static_cast<cQueue*>(pParameter);
    if (pQueue == nullptr) {
        DebugLog("GpsRecvThreadProc: invalid cQueue pointer");
        return 0;
    }
    return pQueue->ReceiveLoop();
}

DWORD cQueue::ReceiveLoop() {
    if (SocketCreateAndConnect() == 0) {
        DebugLog("GpsRecvThreadProc: Failed to create and connect to the socket");
        cCriticalSectionLock lock(mQueueLock);
        EndReceiving();
        return 0;
    }
    // Polled from here on; the result is of no consequence, a blocking socket works too.
    u_long nonBlocking = 1;
    ioctlsocket(mSocket.load(), FIONBIO, &nonBlocking);
    DebugLog("Before Sending receive\n");

    char received[RECEIVE_BUFFER_SIZE];
    for (;;) {
        {
            cCriticalSectionLock lock(mQueueLock);
            if (mhStopEvent != nullptr &&
                WaitForSingleObject(mhStopEvent, STOP_EVENT_WAIT_MS) == WAIT_OBJECT_0) {
                DebugLog("Inside Terminating the thread\n");
                EndReceiving();
                break;
            }
        }
        std::memset(received, 0, sizeof(received));
        const int count = recv(mSocket.load(), received, RECEIVE_SIZE, 0);
        if (count <= 0) {
            Sleep(EMPTY_RECEIVE_PAUSE_MS);
            cCriticalSectionLock lock(mQueueLock);
            FreeList();
            if (mEmptyRecvCount++ >= CLEAR_AFTER_EMPTY_RECEIVES) {
                if (mRecvBuffer.mpData != nullptr) {
                    std::memset(mRecvBuffer.mpData, 0, mRecvBuffer.mSize);
                }
                mRecvBuffer.mReadIndex = 0;
                mRecvBuffer.mWriteIndex = 0;
                DebugLog("Clr buff\n");
            }
            continue;
        }
        mEmptyRecvCount = 0;
        ServeReceivedData(reinterpret_cast<const BYTE*>(received), static_cast<DWORD>(count));
    }
    DebugLog("Before returning from thread funtion\n");
    return 0;
}

// The bytes go into the buffer and the oldest waiting read takes its share under one hold of the
// lock; the request is completed after the lock is left.
void cQueue::ServeReceivedData(const BYTE* pData, DWORD count) {
    BYTE transfer[MAX_READ_SIZE];
    ComPtr<IWDFMemory> memory;
    IWDFIoRequest* pRequest = nullptr;
    SIZE_T copied = 0;
    {
        cCriticalSectionLock lock(mQueueLock);
        // A write the ring refuses loses those bytes.
        if (mRecvBuffer.mpData != nullptr) {
            WriteToCircularBuffer(mRecvBuffer, pData, count);
        }
        if (mpPendingReads == nullptr || GetCircularBufferUnreadCount(mRecvBuffer) == 0) {
            return;
        }
        ULONG bytesToRead = 0;
        PopFromQueue(&pRequest, &bytesToRead);
        if (pRequest == nullptr) {
            return;
        }
        pRequest->GetOutputMemory(memory.GetAddressOf());
        if (memory) {
            std::memset(transfer, 0, sizeof(transfer));
            SIZE_T memorySize = 0;
            void* pOutput = memory->GetDataBuffer(&memorySize);
            const DWORD wanted = static_cast<DWORD>(std::min<SIZE_T>(bytesToRead, memorySize));
            const DWORD available = std::min(wanted, GetCircularBufferUnreadCount(mRecvBuffer));
            ReadFromCircularBuffer(mRecvBuffer, transfer, available);
            if (pOutput != nullptr) {
                std::memcpy(pOutput, transfer, available);
                copied = available;
            }
        }
    }
    pRequest->CompleteWithInformation(S_OK, copied);
    DebugLog("Completed RR\n");
}

// Whoever takes the handle out of mhRecvThread owns it: here the thread closes its own, unless
// the queue's destruction took it first to end the thread.
void cQueue::EndReceiving() {
    const HANDLE hRecvThread = mhRecvThread.exchange(nullptr);
    if (hRecvThread != nullptr) {
        CloseHandle(hRecvThread);
    }
    ReleaseRecvBufferStorage(mRecvBuffer);
    FreeList();
    const SOCKET streamSocket = mSocket.exchange(0);
    if (streamSocket != 0) {
        closesocket(streamSocket);
    }
}
