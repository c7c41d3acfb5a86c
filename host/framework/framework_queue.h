// An I/O queue of a device (IWDFIoQueue). Requests reach it from the device's routing and are
// handed to the queue's callback object: OnCreateFile, OnRead and OnDeviceIoControl, on the
// framework's worker threads.
//
// Dispatch types: a parallel queue hands every request over as it comes, so callbacks run at
// once on several threads; a sequential queue hands over the next request only when the driver
// has completed the one before; a manual queue keeps its requests until the driver takes them
// with RetrieveNextRequest. A request type the callback object has no interface for is completed
// by the framework: a create with S_OK (the device can be opened without a create callback), a
// read or device I/O control request with HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED).
//
// A power-managed queue holds its requests while the device is out of D0 and hands them over
// when it is back. With the device's locking constraint at WdfDeviceLevel, each callback is made
// holding the device's object lock, so callbacks of the device's queues and its file cleanup run
// one at a time.
#pragma once

#include <deque>
#include <mutex>

#include "framework_object.h"
#include "framework_request.h"

namespace zntr::host {

class FrameworkDevice;

class FrameworkQueue final : public FrameworkObject<IWDFIoQueue> {
  public:
    // HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION) for a dispatching queue whose callback object
    // supports none of the queue callback interfaces, or a manual queue whose callback object
    // supports one; E_INVALIDARG for an unknown dispatch type.
    static HRESULT Create(FrameworkDevice* device, IUnknown* callbackObject,
                          WDF_IO_QUEUE_DISPATCH_TYPE dispatchType, bool powerManaged,
                          bool allowZeroLengthRequests,
                          Microsoft::WRL::ComPtr<FrameworkQueue>& queue);

    void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppWdfDevice) override;
    HRESULT STDMETHODCALLTYPE ConfigureRequestDispatching(WDF_REQUEST_TYPE RequestType,
                                                          BOOL Forward) override;
    WDF_IO_QUEUE_STATE STDMETHODCALLTYPE GetState(ULONG* pulNumOfRequestsInQueue,
                                                  ULONG* pulNumOfRequestsInDriver) override;
    // Manual queues only: the oldest waiting request, or HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)
    // with null when none waits. A dispatching queue answers
    // HRESULT_FROM_NT(STATUS_INVALID_DEVICE_STATE).
    HRESULT STDMETHODCALLTYPE RetrieveNextRequest(IWDFIoRequest** ppRequest) override;
    HRESULT STDMETHODCALLTYPE RetrieveNextRequestByFileObject(IWDFFile* pFile,
                                                              IWDFIoRequest** ppRequest) override;
    // Start and the synchronous stop resume and hold the handing over of requests. The
    // asynchronous forms, draining and purging call back through interfaces this framework does
    // not carry; they are reported as host errors and leave the queue as it is.
    void STDMETHODCALLTYPE Start() override;
    void STDMETHODCALLTYPE Stop(IQueueCallbackStateChange* pStopComplete) override;
    void STDMETHODCALLTYPE StopSynchronously() override;
    void STDMETHODCALLTYPE Drain(IQueueCallbackStateChange* pDrainComplete) override;
    void STDMETHODCALLTYPE DrainSynchronously() override;
    void STDMETHODCALLTYPE Purge(IQueueCallbackStateChange* pPurgeComplete) override;
    void STDMETHODCALLTYPE PurgeSynchronously() override;

    // For the framework.
    void Submit(Microsoft::WRL::ComPtr<FrameworkRequest> request);
    void SetPowerHeld(bool held);
    // The device is going: the queue lets go of its callback object and completes the
    // requests it still holds with HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED).
    void Shutdown();
    bool PowerManaged() const { return powerManaged_; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFIoQueue) || FrameworkObject::Answers(riid);
    }

  private:
    FrameworkQueue() = default;
    ~FrameworkQueue() override = default;

    // Hands over what may be handed over now; takes the lock itself.
    void Pump();
    void Dispatch(const Microsoft::WRL::ComPtr<FrameworkRequest>& request);
    void OnCompleted();

    WDF_IO_QUEUE_DISPATCH_TYPE dispatchType_ = WdfIoQueueDispatchParallel;
    bool powerManaged_ = false;
    bool allowZeroLength_ = true;

    mutable std::mutex mutex_;
    // Not owned: the device owns its queues and shuts them down before it goes.
    FrameworkDevice* device_ = nullptr;
    // Strong references: the framework keeps the callback object while the queue lives.
    Microsoft::WRL::ComPtr<IUnknown> callbackObject_;
    Microsoft::WRL::ComPtr<IQueueCallbackCreate> onCreate_;
    Microsoft::WRL::ComPtr<IQueueCallbackRead> onRead_;
    Microsoft::WRL::ComPtr<IQueueCallbackDeviceIoControl> onDeviceIoControl_;
    std::deque<Microsoft::WRL::ComPtr<FrameworkRequest>> waiting_;
    ULONG inDriver_ = 0;  // handed over, not yet completed
    bool started_ = true;
    bool powerHeld_ = false;
    bool shutDown_ = false;
};

}  // namespace zntr::host
