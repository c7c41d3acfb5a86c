#include "framework_queue.h"

#include <string>
#include <utility>

#include "framework_device.h"
#include "host_report.h"
#include "host_status.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

ComPtr<FrameworkQueue> FrameworkQueue::Create(FrameworkDevice* device, IUnknown* callbackObject) {
    ComPtr<FrameworkQueue> queue;
    queue.Attach(new FrameworkQueue());
    queue->device_ = device;
    queue->callbackObject_ = callbackObject;
    // The framework learns which callbacks to make from the interfaces the object answers.
    if (callbackObject != nullptr) {
        callbackObject->QueryInterface(IID_IQueueCallbackCreate,
                                       reinterpret_cast<void**>(queue->onCreate_.GetAddressOf()));
        callbackObject->QueryInterface(IID_IQueueCallbackRead,
                                       reinterpret_cast<void**>(queue->onRead_.GetAddressOf()));
        callbackObject->QueryInterface(
            IID_IQueueCallbackDeviceIoControl,
            reinterpret_cast<void**>(queue->onDeviceIoControl_.GetAddressOf()));
    }
    return queue;
}

void FrameworkQueue::Unsupported(const char* method) {
    ReportHostError(std::string("IWDFIoQueue::") + method +
                    " is not supported by this host; the queue is unchanged");
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

void FrameworkQueue::Submit(ComPtr<FrameworkRequest> request) {
    FrameworkDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device = device_;
    }
    if (device == nullptr) {  // shut down
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), 0);
        return;
    }
    // Counted before the worker runs, so that a cleanup of the file that comes after this
    // request waits for its callback.
    if (request->File() != nullptr) {
        request->File()->DispatchStarted();
    }
    ComPtr<FrameworkQueue> self(this);
    device->Workers().Post([self, request] { self->Dispatch(request); });
}

void FrameworkQueue::Shutdown() {
    ComPtr<IUnknown> callbackObject;
    ComPtr<IQueueCallbackCreate> onCreate;
    ComPtr<IQueueCallbackRead> onRead;
    ComPtr<IQueueCallbackDeviceIoControl> onDeviceIoControl;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device_ = nullptr;
        callbackObject.Swap(callbackObject_);
        onCreate.Swap(onCreate_);
        onRead.Swap(onRead_);
        onDeviceIoControl.Swap(onDeviceIoControl_);
    }
    // The callback object's references go here, outside the queue's lock: its destruction may
    // run driver code (a queue object that completes the requests it still holds).
}

void FrameworkQueue::Dispatch(const ComPtr<FrameworkRequest>& request) {
    ComPtr<IQueueCallbackCreate> onCreate;
    ComPtr<IQueueCallbackRead> onRead;
    ComPtr<IQueueCallbackDeviceIoControl> onDeviceIoControl;
    bool shutDown = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        onCreate = onCreate_;
        onRead = onRead_;
        onDeviceIoControl = onDeviceIoControl_;
        shutDown = device_ == nullptr;
    }
    const HRESULT notSupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    if (shutDown) {
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), 0);
    } else if (request->GetType() == WdfRequestCreate) {
        if (onCreate) {
            onCreate->OnCreateFile(this, request.Get(), request->File());
        } else {
            request->CompleteWithInformation(S_OK, 0);
        }
    } else if (request->GetType() == WdfRequestRead && onRead) {
        SIZE_T length = 0;
        request->GetReadParameters(&length, nullptr, nullptr);
        onRead->OnRead(this, request.Get(), length);
    } else if (request->GetType() == WdfRequestDeviceIoControl && onDeviceIoControl) {
        ULONG code = 0;
        SIZE_T in = 0;
        SIZE_T out = 0;
        request->GetDeviceIoControlParameters(&code, &in, &out);
        onDeviceIoControl->OnDeviceIoControl(this, request.Get(), code, in, out);
    } else {
        request->CompleteWithInformation(notSupported, 0);
    }
    if (request->File() != nullptr) {
        request->File()->DispatchEnded();
    }
}

}  // namespace zntr::host
