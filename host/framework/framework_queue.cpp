#include "framework_queue.h"

#include <utility>
#include <vector>

#include "framework_device.h"
#include "host_report.h"
#include "host_status.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

HRESULT FrameworkQueue::Create(FrameworkDevice* device, IUnknown* callbackObject,
                               WDF_IO_QUEUE_DISPATCH_TYPE dispatchType, bool powerManaged,
                               bool allowZeroLengthRequests, ComPtr<FrameworkQueue>& queue) {
    if (dispatchType != WdfIoQueueDispatchSequential &&
        dispatchType != WdfIoQueueDispatchParallel && dispatchType != WdfIoQueueDispatchManual) {
        return E_INVALIDARG;
    }
    ComPtr<IQueueCallbackCreate> onCreate;
    ComPtr<IQueueCallbackRead> onRead;
    ComPtr<IQueueCallbackDeviceIoControl> onDeviceIoControl;
    if (callbackObject != nullptr) {
        callbackObject->QueryInterface(IID_IQueueCallbackCreate,
                                       reinterpret_cast<void**>(onCreate.GetAddressOf()));
        callbackObject->QueryInterface(IID_IQueueCallbackRead,
                                       reinterpret_cast<void**>(onRead.GetAddressOf()));
        callbackObject->QueryInterface(IID_IQueueCallbackDeviceIoControl,
                                       reinterpret_cast<void**>(onDeviceIoControl.GetAddressOf()));
    }
    const bool hasCallback = onCreate || onRead || onDeviceIoControl;
    // A queue that dispatches must have somewhere to dispatch to, and a manual queue, whose
    // requests the driver takes itself, must not have a callback that would never be called.
    if (hasCallback == (dispatchType == WdfIoQueueDispatchManual)) {
        return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
    }
    ComPtr<FrameworkQueue> created;
    created.Attach(new FrameworkQueue());
    created->dispatchType_ = dispatchType;
    created->powerManaged_ = powerManaged;
    created->allowZeroLength_ = allowZeroLengthRequests;
    created->device_ = device;
    created->callbackObject_ = callbackObject;
    created->onCreate_ = std::move(onCreate);
    created->onRead_ = std::move(onRead);
    created->onDeviceIoControl_ = std::move(onDeviceIoControl);
    queue = std::move(created);
    return S_OK;
}

void FrameworkQueue::GetDevice(IWDFDevice** ppWdfDevice) {
    if (ppWdfDevice == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *ppWdfDevice = device_;
    if (device_ != nullptr) {
        device_->AddRef();
    }
}

HRESULT FrameworkQueue::ConfigureRequestDispatching(WDF_REQUEST_TYPE RequestType, BOOL Forward) {
    FrameworkDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device = device_;
    }
    return device == nullptr ? E_UNEXPECTED
                             : device->ConfigureRequestDispatching(this, RequestType, Forward);
}

WDF_IO_QUEUE_STATE FrameworkQueue::GetState(ULONG* pulNumOfRequestsInQueue,
                                            ULONG* pulNumOfRequestsInDriver) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pulNumOfRequestsInQueue != nullptr) {
        *pulNumOfRequestsInQueue = static_cast<ULONG>(waiting_.size());
    }
    if (pulNumOfRequestsInDriver != nullptr) {
        *pulNumOfRequestsInDriver = inDriver_;
    }
    int state = 0;
    if (!shutDown_) {
        state |= WdfIoQueueAcceptRequests;
    }
    if (!shutDown_ && started_ && !powerHeld_) {
        state |= WdfIoQueueDispatchRequests;
    }
    if (waiting_.empty() && inDriver_ == 0) {
        state |= WdfIoQueueNoRequests;
    }
    if (inDriver_ == 0) {
        state |= WdfIoQueueDriverNoRequests;
    }
    if (powerHeld_) {
        state |= WdfIoQueuePnpHeld;
    }
    return static_cast<WDF_IO_QUEUE_STATE>(state);
}

HRESULT FrameworkQueue::RetrieveNextRequest(IWDFIoRequest** ppRequest) {
    return RetrieveNextRequestByFileObject(nullptr, ppRequest);
}

HRESULT FrameworkQueue::RetrieveNextRequestByFileObject(IWDFFile* pFile,
                                                        IWDFIoRequest** ppRequest) {
    if (ppRequest == nullptr) {
        return E_POINTER;
    }
    *ppRequest = nullptr;
    ComPtr<FrameworkRequest> request;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (dispatchType_ != WdfIoQueueDispatchManual) {
            return HostStatusFromNt(kStatusInvalidDeviceState);
        }
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
            if (pFile == nullptr || static_cast<IWDFFile*>((*it)->File()) == pFile) {
                request = std::move(*it);
                waiting_.erase(it);
                break;
            }
        }
        if (!request) {
            return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
        }
        ++inDriver_;
    }
    request->SetIoQueue(this);
    ComPtr<FrameworkQueue> self(this);
    request->AddCompletionObserver([self] { self->OnCompleted(); });
    *ppRequest = request.Detach();
    return S_OK;
}

void FrameworkQueue::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = true;
    }
    Pump();
}

void FrameworkQueue::Stop(IQueueCallbackStateChange* pStopComplete) {
    if (pStopComplete != nullptr) {
        ReportHostError(
            "IWDFIoQueue::Stop with a completion callback is not supported; the "
            "queue is left running");
        return;
    }
    StopSynchronously();
}

void FrameworkQueue::StopSynchronously() {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
}

void FrameworkQueue::Drain(IQueueCallbackStateChange*) {
    ReportHostError("IWDFIoQueue::Drain is not supported by this host; the queue is unchanged");
}

void FrameworkQueue::DrainSynchronously() {
    ReportHostError(
        "IWDFIoQueue::DrainSynchronously is not supported by this host; the queue is unchanged");
}

void FrameworkQueue::Purge(IQueueCallbackStateChange*) {
    ReportHostError("IWDFIoQueue::Purge is not supported by this host; the queue is unchanged");
}

void FrameworkQueue::PurgeSynchronously() {
    ReportHostError(
        "IWDFIoQueue::PurgeSynchronously is not supported by this host; the queue is unchanged");
}

void FrameworkQueue::Submit(ComPtr<FrameworkRequest> request) {
    if (request->GetType() == WdfRequestRead && !allowZeroLength_) {
        SIZE_T length = 0;
        request->GetReadParameters(&length, nullptr, nullptr);
        // A queue that does not take zero-length reads has the framework complete them.
        if (length == 0) {
            request->CompleteWithInformation(S_OK, 0);
            return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!shutDown_) {
            waiting_.push_back(std::move(request));
        }
    }
    if (request) {  // not taken: the queue is gone
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), 0);
        return;
    }
    Pump();
}

void FrameworkQueue::SetPowerHeld(bool held) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!powerManaged_) {
            return;
        }
        powerHeld_ = held;
    }
    Pump();
}

void FrameworkQueue::Shutdown() {
    std::deque<ComPtr<FrameworkRequest>> waiting;
    ComPtr<IUnknown> callbackObject;
    ComPtr<IQueueCallbackCreate> onCreate;
    ComPtr<IQueueCallbackRead> onRead;
    ComPtr<IQueueCallbackDeviceIoControl> onDeviceIoControl;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutDown_ = true;
        device_ = nullptr;
        waiting.swap(waiting_);
        callbackObject.Swap(callbackObject_);
        onCreate.Swap(onCreate_);
        onRead.Swap(onRead_);
        onDeviceIoControl.Swap(onDeviceIoControl_);
    }
    for (const auto& request : waiting) {
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), 0);
    }
    // The callback object's references go here, outside the queue's lock: its destruction may
    // run driver code.
}

void FrameworkQueue::Pump() {
    std::vector<ComPtr<FrameworkRequest>> handOver;
    FrameworkDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutDown_ || !started_ || powerHeld_ || dispatchType_ == WdfIoQueueDispatchManual) {
            return;
        }
        while (!waiting_.empty()) {
            if (dispatchType_ == WdfIoQueueDispatchSequential && inDriver_ > 0) {
                break;
            }
            handOver.push_back(std::move(waiting_.front()));
            waiting_.pop_front();
            ++inDriver_;
        }
        device = device_;
    }
    ComPtr<FrameworkQueue> self(this);
    for (auto& request : handOver) {
        request->AddCompletionObserver([self] { self->OnCompleted(); });
        // Counted before the worker runs, so that a cleanup of the file that comes after this
        // request waits for its callback.
        if (request->File() != nullptr) {
            request->File()->DispatchStarted();
        }
        device->Workers().Post([self, request] { self->Dispatch(request); });
    }
}

void FrameworkQueue::Dispatch(const ComPtr<FrameworkRequest>& request) {
    ComPtr<IQueueCallbackCreate> onCreate;
    ComPtr<IQueueCallbackRead> onRead;
    ComPtr<IQueueCallbackDeviceIoControl> onDeviceIoControl;
    ComPtr<FrameworkDevice> device;
    bool shutDown = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        onCreate = onCreate_;
        onRead = onRead_;
        onDeviceIoControl = onDeviceIoControl_;
        device = device_;
        shutDown = shutDown_;
    }
    request->SetIoQueue(this);
    if (shutDown) {
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), 0);
    } else {
        const bool serialized = device->SerializesCallbacks();
        if (serialized) {
            device->AcquireLock();
        }
        switch (request->GetType()) {
            case WdfRequestCreate:
                if (onCreate) {
                    onCreate->OnCreateFile(this, request.Get(), request->File());
                } else {
                    request->CompleteWithInformation(S_OK, 0);
                }
                break;
            case WdfRequestRead:
                if (onRead) {
                    SIZE_T length = 0;
                    request->GetReadParameters(&length, nullptr, nullptr);
                    onRead->OnRead(this, request.Get(), length);
                } else {
                    request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), 0);
                }
                break;
            case WdfRequestDeviceIoControl:
                if (onDeviceIoControl) {
                    ULONG code = 0;
                    SIZE_T in = 0;
                    SIZE_T out = 0;
                    request->GetDeviceIoControlParameters(&code, &in, &out);
                    onDeviceIoControl->OnDeviceIoControl(this, request.Get(), code, in, out);
                } else {
                    request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), 0);
                }
                break;
            default:
                request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), 0);
                break;
        }
        if (serialized) {
            device->ReleaseLock();
        }
    }
    if (request->File() != nullptr) {
        request->File()->DispatchEnded();
    }
}

void FrameworkQueue::OnCompleted() {
    bool pump = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (inDriver_ > 0) {
            --inDriver_;
        }
        pump = dispatchType_ == WdfIoQueueDispatchSequential;
    }
    if (pump) {
        Pump();
    }
}

}  // namespace zntr::host
