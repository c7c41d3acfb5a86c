// cQueue: the callback object of the device's default I/O queue. It answers file creation,
// reads and device-control requests. A program that opens the device and reads from it gets the
// hotspot's raw NMEA byte stream, through a stream connection, a receive thread and a circular
// buffer of the queue's own, separate from the sensor's; reads that find the buffer empty wait
// in a list of at most 32. The sensor platform's device-control requests go to the sensor class
// extension.
//
// Locks: mQueueLock guards the buffer, the pending list and the empty-receive count; it is never
// held together with mSensorLock or the parser's mLock.
#pragma once

#include <atomic>

#include "circular_buffer.h"
#include "com_base.h"
#include "driver_platform.h"
#include "gps_port_info.h"
#include "heap_object.h"

class cMainDevice;

// One waiting read, allocated zero-filled from the process heap. The request is not counted:
// the framework keeps a request alive until it is completed, and every entry is completed
// before it is freed.
struct PendingRead {
    IWDFIoRequest* mpRequest;
    ULONG mBytesToRead;  // the requested length, at most 1024
    ULONG mPosition;     // 1-based, counted from the oldest entry; the newest's is the length
    PendingRead* mpOlder;
    PendingRead* mpNewer;
};

// At most this many reads wait, and one read delivers at most this many bytes.
constexpr ULONG MAX_PENDING_READS = 32;
constexpr ULONG MAX_READ_SIZE = 1024;

class cQueue
    : public cComBase<IQueueCallbackCreate, IQueueCallbackDeviceIoControl, IQueueCallbackRead>,
      public cPortQueryQueue,
      public cHeapObject {
  public:
    // Makes the queue object for a device and has the framework create the device's default
    // queue with it (parallel dispatch, not power-managed, zero-length requests allowed).
    // E_INVALIDARG for a null device; otherwise the status of the framework queue's creation or
    // of the step that failed before it. The framework keeps the queue.
    static HRESULT CreateInstance(IWDFDevice* pWdfDevice, cMainDevice* pMainDevice,
                                  HANDLE hStopEvent);

    // Answers IUnknown and the three queue callback interfaces.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;

    // A new file may be opened only while no stream runs; otherwise its creation is completed
    // with STG_E_ACCESSDENIED.
    void STDMETHODCALLTYPE OnCreateFile(IWDFIoQueue* pWdfQueue, IWDFIoRequest* pWdfRequest,
                                        IWDFFile* pWdfFileObject) override;
    // The first read after an open starts the stream and is completed with no data after a
    // second; later reads are served from the buffer or wait for the next receive.
    void STDMETHODCALLTYPE OnRead(IWDFIoQueue* pWdfQueue, IWDFIoRequest* pWdfRequest,
                                  SIZE_T NumOfBytesToRead) override;
    // The two Portable Devices message codes go to the class extension, which completes them;
    // any other code is completed with HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED).
    void STDMETHODCALLTYPE OnDeviceIoControl(IWDFIoQueue* pWdfQueue, IWDFIoRequest* pWdfRequest,
                                             ULONG ControlCode, SIZE_T InputBufferSizeInBytes,
                                             SIZE_T OutputBufferSizeInBytes) override;

    // The pending list; the caller holds mQueueLock. PushToQueue returns 1 when the read was
    // queued, 0 when it was refused (32 waiting, or no memory). PopFromQueue takes the oldest
    // entry out (a null request and 0 when the list is empty).
    int PushToQueue(IWDFIoRequest* pRequest, ULONG bytesToRead);
    void PopFromQueue(IWDFIoRequest** ppRequest, ULONG* pBytesToRead);
    // Completes every waiting read with no data, newest first, and empties the list; returns 1.
    // Takes mQueueLock (it is recursive), so the discovery may call it as it is.
    int FreeList() override;
    // The device's queue stop event, for the discovery.
    HANDLE GetStopEvent() override;

    // The stream connection: 1 when mSocket holds a connected socket (at once when it already
    // did), 0 when none could be made; the discovery completes waiting reads on each attempt and
    // ends when the stop event is set.
    int SocketCreateAndConnect();
    // The receive thread; its parameter is the queue. Exit code 0.
    static DWORD WINAPI GpsRecvThreadProc(LPVOID pParameter);

    // Members, in the order the queue's description gives them.

    // The stream socket; 0 means none. Written by the receive thread, closed by whoever ends it.
    std::atomic<SOCKET> mSocket;
    // The receive thread; null means none runs. Set and cleared under mQueueLock; OnCreateFile
    // reads it without the lock. Whoever takes the handle out closes it.
    std::atomic<HANDLE> mhRecvThread;
    // The device's auto-reset queue stop event; may be null. Not owned.
    HANDLE mhStopEvent;
    // Receives in a row that brought no data. The receive thread's own.
    ULONG mEmptyRecvCount;
    // 3072 bytes of stream data, allocated when the receive thread is started.
    CircularBuffer mRecvBuffer;
    // The newest waiting read; null when none waits.
    PendingRead* mpPendingReads;
    CRITICAL_SECTION mQueueLock;
    // The owning device: one reference, held until the queue is destroyed.
    Microsoft::WRL::ComPtr<cMainDevice> mpDevice;

  private:
    cQueue();
    ~cQueue() override;

    // Under mQueueLock: allocates the buffer storage and starts the receive thread. False when
    // no thread could be created.
    bool StartReceiving();
    // The receive thread's loop, after the thread procedure has checked its parameter.
    DWORD ReceiveLoop();
    // One receive that brought data: into the buffer, and the oldest waiting read served.
    void ServeReceivedData(const BYTE* pData, DWORD count);
    // The thread's way out, under mQueueLock: its handle closed, the storage released, the
    // waiting reads completed and the socket closed.
    void EndReceiving();
};
