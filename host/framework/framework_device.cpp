#include "framework_device.h"

#include <utility>

#include "device_property_store.h"
#include "host_status.h"
#include "size_rules.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

ComPtr<FrameworkDevice> FrameworkDevice::Create(std::wstring instanceId,
                                                std::shared_ptr<DeviceState> state,
                                                IWDFDriver* driver, IUnknown* callbackObject) {
    ComPtr<FrameworkDevice> device;
    device.Attach(new FrameworkDevice());
    device->instanceId_ = std::move(instanceId);
    device->state_ = std::move(state);
    device->workers_ = std::make_unique<WorkerPool>();
    device->driver_ = driver;
    // The framework learns which callbacks to make from the interfaces the callback object
    // answers, once, when the device is made.
    DeviceCallbacks& callbacks = device->callbacks_;
    callbacks.object = callbackObject;
    if (callbackObject != nullptr) {
        callbackObject->QueryInterface(IID_IPnpCallbackHardware,
                                       reinterpret_cast<void**>(callbacks.hardware.GetAddressOf()));
        callbackObject->QueryInterface(IID_IPnpCallback,
                                       reinterpret_cast<void**>(callbacks.pnp.GetAddressOf()));
        callbackObject->QueryInterface(IID_IFileCallbackCleanup,
                                       reinterpret_cast<void**>(callbacks.cleanup.GetAddressOf()));
    }
    return device;
}

HRESULT FrameworkDevice::RetrieveDevicePropertyStore(PCWSTR pcwszServiceName,
                                                     WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
                                                     IWDFNamedPropertyStore** ppPropStore,
                                                     WDF_PROPERTY_STORE_DISPOSITION* pDisposition) {
    return zntr::host::RetrieveDevicePropertyStore(state_, pcwszServiceName, Flags, ppPropStore,
                                                   pDisposition);
}

void FrameworkDevice::GetDriver(IWDFDriver** ppWdfDriver) {
    if (ppWdfDriver == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *ppWdfDriver = driver_.Get();
    if (driver_) {
        driver_->AddRef();
    }
}

HRESULT FrameworkDevice::RetrieveDeviceInstanceId(PWSTR Buffer, DWORD* pdwSizeInChars) {
    return RetrieveText(instanceId_, Buffer, pdwSizeInChars);
}

void FrameworkDevice::GetDefaultIoTarget(IWDFIoTarget** ppWdfIoTarget) {
    if (ppWdfIoTarget != nullptr) {
        *ppWdfIoTarget = nullptr;
    }
}

void FrameworkDevice::GetDefaultIoQueue(IWDFIoQueue** ppWdfIoQueue) {
    if (ppWdfIoQueue == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *ppWdfIoQueue = defaultQueue_.Get();
    if (defaultQueue_) {
        defaultQueue_->AddRef();
    }
}

HRESULT FrameworkDevice::CreateIoQueue(IUnknown* pCallbackInterface, BOOL bDefaultQueue,
                                       WDF_IO_QUEUE_DISPATCH_TYPE DispatchType, BOOL bPowerManaged,
                                       BOOL bAllowZeroLengthRequests, IWDFIoQueue** ppIoQueue) {
    if (ppIoQueue != nullptr) {
        *ppIoQueue = nullptr;
    }
    if (!bDefaultQueue || DispatchType != WdfIoQueueDispatchParallel || bPowerManaged ||
        !bAllowZeroLengthRequests) {
        return E_NOTIMPL;
    }
    ComPtr<FrameworkQueue> queue = FrameworkQueue::Create(this, pCallbackInterface);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (deleted_) {
            return E_UNEXPECTED;
        }
        if (defaultQueue_) {
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
        defaultQueue_ = queue;
    }
    if (ppIoQueue != nullptr) {
        *ppIoQueue = queue.Detach();
    }
    return S_OK;
}

POWER_ACTION FrameworkDevice::GetSystemPowerAction() {
    return powerAction_.load();
}

DeviceCallbacks FrameworkDevice::Callbacks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callbacks_;
}

void FrameworkDevice::SetSystemPowerAction(POWER_ACTION action) {
    powerAction_.store(action);
}

void FrameworkDevice::SetRemoved(bool removed) {
    removed_.store(removed);
}

void FrameworkDevice::Submit(ComPtr<FrameworkRequest> request) {
    const WDF_REQUEST_TYPE type = request->GetType();
    if (type == WdfRequestCreate && removed_.load()) {
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED), 0);
        return;
    }
    ComPtr<FrameworkQueue> queue;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!deleted_) {
            queue = defaultQueue_;
            outstanding_[request->Serial()] = request;
        }
    }
    ComPtr<FrameworkDevice> self(this);
    const std::uint64_t serial = request->Serial();
    request->AddCompletionObserver([self, serial] {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->outstanding_.erase(serial);
    });
    if (queue) {
        queue->Submit(std::move(request));
    } else if (type == WdfRequestCreate) {
        request->CompleteWithInformation(S_OK, 0);
    } else {
        request->CompleteWithInformation(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), 0);
    }
}

void FrameworkDevice::CleanupFile(ComPtr<FrameworkFile> file, std::function<void()> done) {
    ComPtr<FrameworkDevice> self(this);
    workers_->Post([self, file, done = std::move(done)]() mutable {
        file->WaitUntilNoDispatch();
        const ComPtr<IFileCallbackCleanup> cleanup = self->Callbacks().cleanup;
        if (cleanup) {
            cleanup->OnCleanupFile(file.Get());
        }
        file = nullptr;  // the framework's reference on the file goes with the cleanup
        if (done) {
            done();
        }
    });
}

std::size_t FrameworkDevice::OutstandingRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_.size();
}

std::size_t FrameworkDevice::Delete() {
    ComPtr<FrameworkQueue> queue;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deleted_ = true;
        queue.Swap(defaultQueue_);
    }
    // Callbacks under way finish first; the queue then drops its callback object, which may
    // complete requests the driver still held (a queue object that ends its reads).
    workers_->Drain();
    if (queue) {
        queue->Shutdown();
        queue = nullptr;
    }
    workers_->Stop();
    DeviceCallbacks callbacks;
    ComPtr<IWDFDriver> driver;
    std::map<std::uint64_t, ComPtr<FrameworkRequest>> outstanding;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(callbacks, callbacks_);
        driver.Swap(driver_);
        outstanding.swap(outstanding_);
    }
    callbacks = DeviceCallbacks();
    for (const auto& [serial, request] : outstanding) {
        request->Abandon();
    }
    return outstanding.size();
}

HRESULT CreateFrameworkDevice(const std::wstring& deviceInstanceId,
                              const std::filesystem::path& stateFolder, IWDFDevice** ppDevice) {
    if (ppDevice == nullptr) {
        return E_POINTER;
    }
    *ppDevice = nullptr;
    std::shared_ptr<DeviceState> state;
    const HRESULT hr = DeviceState::Open(deviceInstanceId, stateFolder, state);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<FrameworkDevice> device =
        FrameworkDevice::Create(deviceInstanceId, std::move(state), nullptr, nullptr);
    *ppDevice = device.Detach();
    return S_OK;
}

}  // namespace zntr::host
