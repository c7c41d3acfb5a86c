// The raw read queue's life and its three framework callbacks.
#include "queue.h"

#include "critical_section_lock.h"
#include "debug_log.h"
#include "main_device.h"
#include "module_lock.h"
#include "sensor_receive_loop.h"

using Microsoft::WRL::ComPtr;

namespace {

// A read that delivered more than this many bytes is followed by a pause before its callback
// returns, and the first read waits for the stream to start.
constexpr SIZE_T READ_PAUSE_THRESHOLD = 10;
constexpr DWORD READ_PAUSE_MS = 100;
constexpr DWORD STREAM_START_PAUSE_MS = 1000;

}  // namespace

cQueue::cQueue()
    : mSocket(0),
      mhRecvThread(nullptr),
      mhStopEvent(nullptr),
      mEmptyRecvCount(0),
      mRecvBuffer{nullptr, 0, 0, 0},
      mpPendingReads(nullptr) {
    InitializeCriticalSectionAndSpinCount(&mQueueLock, 0x80000400);
    // A failed start is only logged: the queue still answers, and the stream fails later when
    // its socket is made.
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 0), &wsaData) != 0) {
        DebugLog("WSAStartup Failed\n");
    }
    LockModule();
}

// The receive thread is ended while this thread holds mQueueLock: it touches the buffer only
// under the lock, so it cannot be inside a buffer operation, and the storage is released only
// once it no longer runs. Its socket is closed after that, so that the thread never receives on
// a handle that was closed (and perhaps reused) under it.
cQueue::~cQueue() {
    mpDevice = nullptr;
    DebugLog("Queue Destructor\n");
    {
        cCriticalSectionLock lock(mQueueLock);
        const HANDLE hRecvThread = mhRecvThread.exchange(nullptr);
        if (hRecvThread != nullptr) {
            TerminateThread(hRecvThread, 0);
            CloseHandle(hRecvThread);
        }
        ReleaseRecvBufferStorage(mRecvBuffer);
        FreeList();
    }
    const SOCKET streamSocket = mSocket.exchange(0);
    if (streamSocket != 0) {
        closesocket(streamSocket);
    }
    DeleteCriticalSection(&mQueueLock);
    WSACleanup();
    UnlockModule();
}

HRESULT cQueue::CreateInstance(IWDFDevice* pWdfDevice, cMainDevice* pMainDevice,
                               HANDLE hStopEvent) {
    if (pWdfDevice == nullptr || pMainDevice == nullptr) {
        DebugLog("cQueue: CreateInstance invalid parameters");
        return E_INVALIDARG;
    }
    cQueue* pNewQueue = new (std::nothrow) cQueue();
    if (pNewQueue == nullptr) {
        const HRESULT hr = E_OUTOFMEMORY;
        DebugLog("cQueue: failed to create cQueue, %!hresult!", hr);
        return hr;
    }
    // This call's reference: the framework queue takes its own on the callback object.
    const ComPtr<cQueue> queue(pNewQueue);
    queue->mpDevice = pMainDevice;
    queue->mhStopEvent = hStopEvent;

    ComPtr<IUnknown> callbacks;
    HRESULT hr =
        queue->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(callbacks.GetAddressOf()));
    if (FAILED(hr)) {
        DebugLog("cQueue: QueryInterface failed, %!hresult!", hr);
        return hr;
    }
    ComPtr<IWDFIoQueue> ioQueue;
    hr = pWdfDevice->CreateIoQueue(callbacks.Get(), TRUE, WdfIoQueueDispatchParallel, FALSE, TRUE,
                                   ioQueue.GetAddressOf());
    DebugLog("cQueue: created IO Queue, %!hresult!", hr);
    return hr;
}

HRESULT cQueue::QueryInterface(REFIID riid, void** ppvObject) {
    return AnswerQueryInterface(
        riid, ppvObject,
        {{IID_IQueueCallbackCreate, static_cast<IQueueCallbackCreate*>(this)},
         {IID_IQueueCallbackDeviceIoControl, static_cast<IQueueCallbackDeviceIoControl*>(this)},
         {IID_IQueueCallbackRead, static_cast<IQueueCallbackRead*>(this)}});
}

HANDLE cQueue::GetStopEvent() {
    return mhStopEvent;
}

void cQueue::OnCreateFile(IWDFIoQueue* /*pWdfQueue*/, IWDFIoRequest* pWdfRequest,
                          IWDFFile* /*pWdfFileObject*/) {
    DebugLog("cQueue::OnCreateFile\n");
    if (mhRecvThread.load() != nullptr) {
        DebugLog("cQueue::OnCreateFile returning S_FALSE\n");
        pWdfRequest->Complete(STG_E_ACCESSDENIED);
        return;
    }
    pWdfRequest->Complete(S_OK);
}

// The decision (start the stream, serve from the buffer, or wait) is made under one hold of
// mQueueLock, so that two reads on different framework threads never both start a thread and a
// read is never queued after the data it waits for has arrived. A read the list refuses is
// completed at once with no data.
void cQueue::OnRead(IWDFIoQueue* /*pWdfQueue*/, IWDFIoRequest* pWdfRequest,
                    SIZE_T NumOfBytesToRead) {
    BYTE transfer[MAX_READ_SIZE];
    std::memset(transfer, 0, sizeof(transfer));
    if (mhStopEvent != nullptr) {
        ResetEvent(mhStopEvent);
    }
    ComPtr<IWDFMemory> memory;
    pWdfRequest->GetOutputMemory(memory.GetAddressOf());
    if (!memory) {
        pWdfRequest->CompleteWithInformation(S_OK, 0);
        return;
    }
    const ULONG count = static_cast<ULONG>(std::min<SIZE_T>(NumOfBytesToRead, MAX_READ_SIZE));

    enum class Outcome { Started, ThreadFailed, Served, Queued, Refused };
    Outcome outcome = Outcome::Queued;
    SIZE_T copied = 0;
    {
        cCriticalSectionLock lock(mQueueLock);
        if (mhRecvThread.load() == nullptr) {
            outcome = StartReceiving() ? Outcome::Started : Outcome::ThreadFailed;
        } else if (GetCircularBufferUnreadCount(mRecvBuffer) > 0) {
            SIZE_T memorySize = 0;
            void* pData = memory->GetDataBuffer(&memorySize);
            // Only what the request's memory takes leaves the buffer: the rest stays for the
            // next read.
            const DWORD wanted = static_cast<DWORD>(std::min<SIZE_T>(count, memorySize));
            const DWORD available = std::min(wanted, GetCircularBufferUnreadCount(mRecvBuffer));
            ReadFromCircularBuffer(mRecvBuffer, transfer, available);
            if (pData != nullptr) {
                std::memcpy(pData, transfer, available);
                copied = available;
            }
            outcome = Outcome::Served;
        } else {
            DebugLog("OnRead:: Queued\n");
            outcome = PushToQueue(pWdfRequest, count) != 0 ? Outcome::Queued : Outcome::Refused;
        }
    }

    switch (outcome) {
        case Outcome::Started: {
            Sleep(STREAM_START_PAUSE_MS);
            cCriticalSectionLock lock(mQueueLock);
            pWdfRequest->CompleteWithInformation(S_OK, 0);
            break;
        }
        case Outcome::ThreadFailed:
        case Outcome::Refused:
            pWdfRequest->CompleteWithInformation(S_OK, 0);
            break;
        case Outcome::Served:
            pWdfRequest->CompleteWithInformation(S_OK, copied);
            if (copied > READ_PAUSE_THRESHOLD) {
                Sleep(READ_PAUSE_MS);
            }
            break;
        case Outcome::Queued:
            break;
    }
}

bool cQueue::StartReceiving() {
    FreeList();
    // Storage left by a thread that ended is gone already; this is only the rule made sure.
    ReleaseRecvBufferStorage(mRecvBuffer);
    mRecvBuffer.mpData =
        static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, CIRCULAR_BUFFER_SIZE));
    if (mRecvBuffer.mpData == nullptr) {
        // The thread still runs; reads wait and are completed empty by each empty receive.
        DebugLog("OnRead:: Failed in initialize the buffer\n");
    }
    mRecvBuffer.mSize = CIRCULAR_BUFFER_SIZE;
    mRecvBuffer.mReadIndex = 0;
    mRecvBuffer.mWriteIndex = 0;
    mEmptyRecvCount = 0;

    const HANDLE hRecvThread = CreateThread(nullptr, 0, GpsRecvThreadProc, this, 0, nullptr);
    if (hRecvThread == nullptr) {
        DebugLog("OnRead:: Failed in Creating the thread\n");
        ReleaseRecvBufferStorage(mRecvBuffer);
        return false;
    }
    mhRecvThread = hRecvThread;
    return true;
}

void cQueue::OnDeviceIoControl(IWDFIoQueue* /*pWdfQueue*/, IWDFIoRequest* pWdfRequest,
                               ULONG ControlCode, SIZE_T /*InputBufferSizeInBytes*/,
                               SIZE_T /*OutputBufferSizeInBytes*/) {
    if (IS_WPD_IOCTL(ControlCode) && mpDevice) {
        const ComPtr<ISensorClassExtension> classExtension = mpDevice->GetSensorClassExtension();
        if (classExtension) {
            // The class extension completes the request.
            classExtension->ProcessIoControl(pWdfRequest);
            return;
        }
    }
    pWdfRequest->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), 0);
}
