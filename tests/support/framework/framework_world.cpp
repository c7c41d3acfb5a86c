#include "framework_world.h"

#include "wait_until.h"

namespace zntr::test {

void FaultyDevice::Fail(const std::string& call, HRESULT status) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[call] = status;
}

void FaultyDevice::Heal() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

HRESULT FaultyDevice::Fault(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = faults_.find(call);
    return found == faults_.end() ? S_OK : found->second;
}

ComPtr<IUnknown> FaultyDevice::QueueCallbacks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queueCallbacks_;
}

void FaultyDevice::Delete() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queueCallbacks_ = nullptr;
    }
    real_->Delete();
}

HRESULT FaultyDevice::QueryInterface(REFIID riid, void** ppv) {
    const HRESULT fault = IsEqualIID(riid, IID_IWDFDevice2) ? Fault("IWDFDevice2") : S_OK;
    if (FAILED(fault)) {
        *ppv = nullptr;
        return fault;
    }
    return ComObject::QueryInterface(riid, ppv);
}

HRESULT FaultyDevice::RetrieveDevicePropertyStore(PCWSTR service,
                                                  WDF_PROPERTY_STORE_RETRIEVE_FLAGS flags,
                                                  IWDFNamedPropertyStore** store,
                                                  WDF_PROPERTY_STORE_DISPOSITION* how) {
    const HRESULT fault = Fault("RetrieveDevicePropertyStore");
    if (FAILED(fault)) {
        *store = nullptr;
        return fault;
    }
    return real_->RetrieveDevicePropertyStore(service, flags, store, how);
}

HRESULT FaultyDevice::CreateIoQueue(IUnknown* callbacks, BOOL isDefault,
                                    WDF_IO_QUEUE_DISPATCH_TYPE dispatch, BOOL powerManaged,
                                    BOOL zeroLength, IWDFIoQueue** queue) {
    HRESULT hr = Fault("CreateIoQueue");
    if (SUCCEEDED(hr)) {
        hr = real_->CreateIoQueue(callbacks, isDefault, dispatch, powerManaged, zeroLength, queue);
    }
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::mutex> lock(mutex_);
        queueCallbacks_ = callbacks;
    } else if (queue != nullptr) {
        *queue = nullptr;
    }
    return hr;
}

HRESULT AddedDevice::Add(IDriverEntry* entry, const std::wstring& instanceId) {
    std::shared_ptr<host::DeviceState> state;
    host::DeviceState::Open(instanceId, {}, state);
    init = host::DeviceInitialize::Create(instanceId, state);
    const HRESULT hr = entry->OnDeviceAdd(driver.Get(), init.Get());
    for (const ComPtr<host::FrameworkDevice>& made : driver->TakeDevices()) {
        device.Attach(new FaultyDevice(made));
        const host::DeviceCallbacks callbacks = made->Callbacks();
        hardware = callbacks.hardware;
        pnp = callbacks.pnp;
        cleanup = callbacks.cleanup;
    }
    return hr;
}

void AddedDevice::Remove() {
    hardware = nullptr;
    pnp = nullptr;
    cleanup = nullptr;
    if (device) {
        device->Delete();
    }
}

Requests::Requests(IWDFDevice* device) : file_(host::FrameworkFile::Create(device)) {}

host::FrameworkRequest::CompletionHandler Requests::Handler(std::function<void()> atCompletion) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int request = ++made_;
    return [this, request, atCompletion](const host::RequestResult& result) {
        {
            std::lock_guard<std::mutex> done(mutex_);
            completions_.push_back({request, result.status, result.information,
                                    std::string(result.data.begin(), result.data.end())});
        }
        if (atCompletion) {
            atCompletion();
        }
    };
}

ComPtr<host::FrameworkRequest> Requests::Read(std::size_t length,
                                              std::function<void()> atCompletion) {
    return host::FrameworkRequest::ReadRequest(file_, length, Handler(std::move(atCompletion)));
}

ComPtr<host::FrameworkRequest> Requests::Create() {
    return host::FrameworkRequest::CreateFileRequest(file_, Handler({}));
}

ComPtr<host::FrameworkRequest> Requests::IoControl(ULONG code) {
    return host::FrameworkRequest::DeviceIoControlRequest(file_, code, {}, 64, Handler({}));
}

std::vector<Requests::Completion> Requests::Completions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return completions_;
}

bool Requests::WaitFor(int request, Completion* completion) {
    return WaitUntil(
        [&] {
            for (const Completion& done : Completions()) {
                if (done.request == request) {
                    if (completion != nullptr) {
                        *completion = done;
                    }
                    return true;
                }
            }
            return false;
        },
        std::chrono::seconds(30), std::chrono::milliseconds(2));
}

}  // namespace zntr::test
