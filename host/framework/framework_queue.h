// The device's default I/O queue (IWDFIoQueue), dispatching in parallel: each request is handed
// to the queue's callback object as it comes, on one of the framework's worker threads, so
// callbacks run at once on several threads. A request type the callback object has no interface
// for is completed by the framework: a create with S_OK (the device can be opened without a
// create callback), a read or device I/O control request with
// HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED).
//
// This is the one kind of queue the drivers this host serves make (a parallel default queue that
// is not power-managed and takes zero-length requests); the methods for other kinds, for
// retrieving requests by hand and for stopping, draining or purging answer E_NOTIMPL or report
// the call as a host error.
#pragma once

#include <mutex>

#include "framework_object.h"
#include "framework_request.h"

namespace zntr::host {

class FrameworkDevice;

class FrameworkQueue final : public FrameworkObject<IWDFIoQueue> {
  public:
    static Microsoft::WRL::ComPtr<FrameworkQueue> Create(FrameworkDevice* device,
                                                         IUnknown* callbackObject);

    void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppWdfDevice) override;
    HRESULT STDMETHODCALLTYPE ConfigureRequestDispatching(WDF_REQUEST_TYPE, BOOL) override {
        return E_NOTIMPL;
    }
    WDF_IO_QUEUE_STATE STDMETHODCALLTYPE GetState(ULONG*, ULONG*) override {
        return static_cast<WDF_IO_QUEUE_STATE>(0);  // not kept: no driver asks
    }
    HRESULT STDMETHODCALLTYPE RetrieveNextRequest(IWDFIoRequest**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RetrieveNextRequestByFileObject(IWDFFile*, IWDFIoRequest**) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE Start() override {}
    void STDMETHODCALLTYPE Stop(IQueueCallbackStateChange*) override { Unsupported("Stop"); }
    void STDMETHODCALLTYPE StopSynchronously() override { Unsupported("StopSynchronously"); }
    void STDMETHODCALLTYPE Drain(IQueueCallbackStateChange*) override { Unsupported("Drain"); }
    void STDMETHODCALLTYPE DrainSynchronously() override { Unsupported("DrainSynchronously"); }
    void STDMETHODCALLTYPE Purge(IQueueCallbackStateChange*) override { Unsupported("Purge"); }
    void STDMETHODCALLTYPE PurgeSynchronously() override { Unsupported("PurgeSynchronously"); }

    // For the framework: hands the request to a worker, or completes it with
    // HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED) once the queue is shut down.
    void Submit(Microsoft::WRL::ComPtr<FrameworkRequest> request);
    // The device is going: the queue lets go of its callback object.
    void Shutdown();

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFIoQueue) || FrameworkObject::Answers(riid);
    }

  private:
    FrameworkQueue() = default;
    ~FrameworkQueue() override = default;

    static void Unsupported(const char* method);
    void Dispatch(const Microsoft::WRL::ComPtr<FrameworkRequest>& request);

    mutable std::mutex mutex_;
    // Not owned: the device owns its queue and shuts it down before it goes.
    FrameworkDevice* device_ = nullptr;
    // Strong references: the framework keeps the callback object while the queue lives.
    Microsoft::WRL::ComPtr<IUnknown> callbackObject_;
    Microsoft::WRL::ComPtr<IQueueCallbackCreate> onCreate_;
    Microsoft::WRL::ComPtr<IQueueCallbackRead> onRead_;
    Microsoft::WRL::ComPtr<IQueueCallbackDeviceIoControl> onDeviceIoControl_;
};

}  // namespace zntr::host
