#include "framework_device.h"

#include <utility>

#include "device_property_store.h"
#include "host_report.h"
#include "host_status.h"
#include "size_rules.h"
#include "standin/combaseapi.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

namespace {

std::wstring GuidText(LPCGUID guid) {
    if (guid == nullptr) {
        return L"{}";
    }
    wchar_t text[64] = {};
    StringFromGUID2(*guid, text, 64);
    return text;
}

bool RoutableType(WDF_REQUEST_TYPE type) {
    return type == WdfRequestCreate || type == WdfRequestRead || type == WdfRequestWrite ||
           type == WdfRequestDeviceIoControl;
}

}  // namespace

ComPtr<FrameworkDevice> FrameworkDevice::Create(std::wstring instanceId,
                                                std::shared_ptr<DeviceState> state,
                                                IWDFDriver* driver, IUnknown* callbackObject,
                                                const DeviceSettings& settings) {
    ComPtr<FrameworkDevice> device;
    device.Attach(new FrameworkDevice());
    device->instanceId_ = std::move(instanceId);
    device->state_ = std::move(state);
    device->settings_ = settings;
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
    ComPtr<FrameworkQueue> queue;
    HRESULT hr =
        FrameworkQueue::Create(this, pCallbackInterface, DispatchType, bPowerManaged != FALSE,
                               bAllowZeroLengthRequests != FALSE, queue);
    if (FAILED(hr)) {
        return hr;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (deleted_) {
            hr = E_UNEXPECTED;
        } else if (bDefaultQueue && defaultQueue_) {
            hr = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        } else {
            if (bDefaultQueue) {
                defaultQueue_ = queue;
            }
            queues_.push_back(queue);
            if (powerHeld_) {
                queue->SetPowerHeld(true);
            }
        }
    }
    if (FAILED(hr)) {
        queue->Shutdown();
        return hr;
    }
    if (ppIoQueue != nullptr) {
        *ppIoQueue = queue.Detach();
    }
    return S_OK;
}

HRESULT FrameworkDevice::CreateDeviceInterface(LPCGUID pDeviceInterfaceGuid,
                                               PCWSTR pReferenceString) {
    if (pDeviceInterfaceGuid == nullptr) {
        return E_INVALIDARG;
    }
    std::wstring name = L"interface " + GuidText(pDeviceInterfaceGuid);
    if (pReferenceString != nullptr) {
        name += L"\\";
        name += pReferenceString;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    interfaces_.push_back(std::move(name));
    return S_OK;
}

HRESULT FrameworkDevice::AssignDeviceInterfaceState(LPCGUID pDeviceInterfaceGuid,
                                                    PCWSTR /*pReferenceString*/, BOOL /*Enable*/) {
    return pDeviceInterfaceGuid == nullptr ? E_INVALIDARG : S_OK;
}

HRESULT FrameworkDevice::ConfigureRequestDispatching(IWDFIoQueue* pQueue,
                                                     WDF_REQUEST_TYPE RequestType, BOOL Forward) {
    if (pQueue == nullptr || !RoutableType(RequestType)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& queue : queues_) {
        if (static_cast<IWDFIoQueue*>(queue.Get()) == pQueue) {
            if (Forward) {
                routes_[RequestType] = queue.Get();
            } else if (routes_.count(RequestType) != 0 && routes_[RequestType] == queue.Get()) {
                routes_.erase(RequestType);
            }
            return S_OK;
        }
    }
    return E_INVALIDARG;  // not a queue of this device
}

void FrameworkDevice::SetPnpState(WDF_PNP_STATE State, WDF_TRI_STATE Value) {
    std::lock_guard<std::mutex> lock(mutex_);
    pnpState_[State] = Value;
}

WDF_TRI_STATE FrameworkDevice::GetPnpState(WDF_PNP_STATE State) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = pnpState_.find(State);
    return it == pnpState_.end() ? WdfUseDefault : it->second;
}

HRESULT FrameworkDevice::CreateRequest(IUnknown*, IWDFObject*, IWDFIoRequest** ppRequest) {
    // Driver-made requests go to an I/O target, and this device has none.
    if (ppRequest != nullptr) {
        *ppRequest = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT FrameworkDevice::CreateSymbolicLink(PCWSTR pSymbolicLink) {
    return CreateSymbolicLinkWithReferenceString(pSymbolicLink, nullptr);
}

HRESULT FrameworkDevice::CreateSymbolicLinkWithReferenceString(PCWSTR pSymbolicLink,
                                                               PCWSTR pReferenceString) {
    if (pSymbolicLink == nullptr) {
        return E_INVALIDARG;
    }
    std::wstring name = std::wstring(L"link ") + pSymbolicLink;
    if (pReferenceString != nullptr) {
        name += L"\\";
        name += pReferenceString;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    interfaces_.push_back(std::move(name));
    return S_OK;
}

void FrameworkDevice::GetDeviceStackIoTypePreference(WDF_DEVICE_IO_BUFFER_RETRIEVAL* RetrievalMode,
                                                     WDF_DEVICE_IO_TYPE* ReadWritePreference,
                                                     WDF_DEVICE_IO_TYPE* IoControlPreference) {
    // Every buffer is the framework's own copy: buffered I/O, available at once.
    if (RetrievalMode != nullptr) {
        *RetrievalMode = WdfDeviceIoBufferRetrievalDeferred;
    }
    if (ReadWritePreference != nullptr) {
        *ReadWritePreference = WdfDeviceIoBuffered;
    }
    if (IoControlPreference != nullptr) {
        *IoControlPreference = WdfDeviceIoBuffered;
    }
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

void FrameworkDevice::SetPowerHeld(bool held) {
    std::vector<ComPtr<FrameworkQueue>> queues;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        powerHeld_ = held;
        queues = queues_;
    }
    for (const auto& queue : queues) {
        queue->SetPowerHeld(held);
    }
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
            const auto route = routes_.find(type);
            queue = route != routes_.end() ? route->second : defaultQueue_.Get();
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
            const bool serialized = self->SerializesCallbacks();
            if (serialized) {
                self->AcquireLock();
            }
            cleanup->OnCleanupFile(file.Get());
            if (serialized) {
                self->ReleaseLock();
            }
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

std::vector<std::wstring> FrameworkDevice::Interfaces() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return interfaces_;
}

std::size_t FrameworkDevice::Delete() {
    std::vector<ComPtr<FrameworkQueue>> queues;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deleted_ = true;
        queues.swap(queues_);
        defaultQueue_ = nullptr;
        routes_.clear();
    }
    // Callbacks under way finish first; the queues then drop their callback objects, which
    // may complete requests the driver still held (a queue object that ends its reads).
    workers_->Drain();
    for (const auto& queue : queues) {
        queue->Shutdown();
    }
    queues.clear();
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
        FrameworkDevice::Create(deviceInstanceId, std::move(state), nullptr, nullptr, {});
    *ppDevice = device.Detach();
    return S_OK;
}

}  // namespace zntr::host
