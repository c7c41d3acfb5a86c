// In-process fakes of the framework objects the driver calls: a request with input and output
// memory that records its completions, a file, a queue that holds its callback object as the
// framework does, a device with a default queue, CreateIoQueue and a power action the test sets,
// a device-initialisation object that records the driver's settings, and a driver whose
// CreateDevice makes the device. Each behaves as the framework does where the driver relies on
// it: a request completed twice is counted as such, CreateIoQueue refuses a callback object with
// no queue callback interface, RetrieveDeviceInstanceId reports the size it needs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standin/com_helpers.h"
#include "standin/propidl.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"
#include "wdf_device_stub.h"

namespace zntr::test {

using Microsoft::WRL::ComPtr;

// An object made with new whose creator's reference the holder takes over.
template <typename T, typename... Arguments>
ComPtr<T> MakeFake(Arguments&&... arguments) {
    ComPtr<T> object;
    object.Attach(new T(static_cast<Arguments&&>(arguments)...));
    return object;
}

// What every framework object offers, answered as an object with no context and no lock.
template <typename Interface>
class FakeWdfObject : public zntr::platform::ComObject<Interface> {
  public:
    HRESULT STDMETHODCALLTYPE DeleteWdfObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup*, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RetrieveContext(void** ppv) override {
        *ppv = nullptr;
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE AcquireLock() override {}
    void STDMETHODCALLTYPE ReleaseLock() override {}
};

class FakeMemory final : public FakeWdfObject<IWDFMemory> {
  public:
    explicit FakeMemory(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}

    HRESULT STDMETHODCALLTYPE CopyFromMemory(IWDFMemory*, PWDFMEMORY_OFFSET) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyToBuffer(SIZE_T offset, void* destination,
                                           SIZE_T count) override {
        if (offset + count > bytes_.size()) {
            return E_INVALIDARG;
        }
        std::memcpy(destination, bytes_.data() + offset, count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyFromBuffer(SIZE_T offset, void* source, SIZE_T count) override {
        if (offset + count > bytes_.size()) {
            return E_INVALIDARG;
        }
        std::memcpy(bytes_.data() + offset, source, count);
        return S_OK;
    }
    SIZE_T STDMETHODCALLTYPE GetSize() override { return bytes_.size(); }
    void* STDMETHODCALLTYPE GetDataBuffer(SIZE_T* size) override {
        if (size != nullptr) {
            *size = bytes_.size();
        }
        return bytes_.data();
    }
    void STDMETHODCALLTYPE SetBuffer(void*, SIZE_T) override {}

    const std::vector<BYTE>& Bytes() const { return bytes_; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFMemory);
    }

  private:
    std::vector<BYTE> bytes_;
};

class FakeFile final : public FakeWdfObject<IWDFFile> {
  public:
    HRESULT STDMETHODCALLTYPE RetrieveFileName(PWSTR, DWORD*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppDevice) override { *ppDevice = nullptr; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFFile);
    }
};

struct Completion {
    HRESULT status = S_OK;
    SIZE_T information = 0;
    // Counts every completion of every request in the process, so tests can order them.
    int sequence = 0;
};

inline std::atomic<int> gCompletionSequence{0};

// A client's request. Completions are recorded (every one, so that a second completion shows)
// and may come from any thread; a test waits for them.
class FakeRequest final : public FakeWdfObject<IWDFIoRequest> {
  public:
    // A read with an output buffer of the given size.
    static ComPtr<FakeRequest> Read(size_t outputSize) {
        return MakeFake<FakeRequest>(WdfRequestRead, 0, std::vector<BYTE>{},
                                     std::optional<size_t>(outputSize));
    }
    // A read (or other request) that has no output buffer at all.
    static ComPtr<FakeRequest> WithoutOutput(WDF_REQUEST_TYPE type = WdfRequestRead) {
        return MakeFake<FakeRequest>(type, 0, std::vector<BYTE>{}, std::nullopt);
    }
    static ComPtr<FakeRequest> Create() { return WithoutOutput(WdfRequestCreate); }
    static ComPtr<FakeRequest> IoControl(ULONG code, std::vector<BYTE> input = {},
                                         size_t outputSize = 64) {
        return MakeFake<FakeRequest>(WdfRequestDeviceIoControl, code, std::move(input),
                                     std::optional<size_t>(outputSize));
    }

    FakeRequest(WDF_REQUEST_TYPE type, ULONG controlCode, std::vector<BYTE> input,
                std::optional<size_t> outputSize)
        : type_(type), controlCode_(controlCode) {
        input_ = MakeFake<FakeMemory>(std::move(input));
        if (outputSize) {
            output_ = MakeFake<FakeMemory>(std::vector<BYTE>(*outputSize, 0));
        }
    }

    void STDMETHODCALLTYPE CompleteWithInformation(HRESULT status, SIZE_T information) override {
        std::lock_guard<std::mutex> lock(mutex_);
        completions_.push_back({status, information, ++gCompletionSequence});
        completed_.notify_all();
    }
    void STDMETHODCALLTYPE SetInformation(SIZE_T) override {}
    void STDMETHODCALLTYPE Complete(HRESULT status) override { CompleteWithInformation(status, 0); }
    void STDMETHODCALLTYPE SetCompletionCallback(IRequestCallbackRequestCompletion*,
                                                 void*) override {}
    WDF_REQUEST_TYPE STDMETHODCALLTYPE GetType() override { return type_; }
    void STDMETHODCALLTYPE GetCreateParameters(ULONG*, USHORT*, USHORT*) override {}
    void STDMETHODCALLTYPE GetReadParameters(SIZE_T* size, LONGLONG*, ULONG*) override {
        if (size != nullptr) {
            *size = output_ ? output_->GetSize() : 0;
        }
    }
    void STDMETHODCALLTYPE GetWriteParameters(SIZE_T*, LONGLONG*, ULONG*) override {}
    void STDMETHODCALLTYPE GetDeviceIoControlParameters(ULONG* code, SIZE_T* in,
                                                        SIZE_T* out) override {
        *code = controlCode_;
        *in = input_->GetSize();
        *out = output_ ? output_->GetSize() : 0;
    }
    void STDMETHODCALLTYPE GetOutputMemory(IWDFMemory** ppMemory) override {
        *ppMemory = output_.Get();
        if (*ppMemory != nullptr) {
            (*ppMemory)->AddRef();
        }
    }
    void STDMETHODCALLTYPE GetInputMemory(IWDFMemory** ppMemory) override {
        *ppMemory = input_.Get();
        (*ppMemory)->AddRef();
    }
    void STDMETHODCALLTYPE MarkCancelable(IRequestCallbackCancel*) override {}
    HRESULT STDMETHODCALLTYPE UnmarkCancelable() override { return S_OK; }
    BOOL STDMETHODCALLTYPE CancelSentRequest() override { return FALSE; }
    HRESULT STDMETHODCALLTYPE ForwardToIoQueue(IWDFIoQueue*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Send(IWDFIoTarget*, DWORD, LONGLONG) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetFileObject(IWDFFile** ppFile) override { *ppFile = nullptr; }
    void STDMETHODCALLTYPE FormatUsingCurrentType() override {}
    ULONG STDMETHODCALLTYPE GetRequestorProcessId() override { return 0; }
    void STDMETHODCALLTYPE GetIoQueue(IWDFIoQueue** ppQueue) override { *ppQueue = nullptr; }
    HRESULT STDMETHODCALLTYPE Impersonate(SECURITY_IMPERSONATION_LEVEL, IImpersonateCallback*,
                                          void*) override {
        return E_NOTIMPL;
    }
    BOOL STDMETHODCALLTYPE IsFrom32BitProcess() override { return FALSE; }
    void STDMETHODCALLTYPE GetCompletionParams(IWDFRequestCompletionParams** pp) override {
        *pp = nullptr;
    }

    // The completions so far, in order.
    std::vector<Completion> Completions() {
        std::lock_guard<std::mutex> lock(mutex_);
        return completions_;
    }
    size_t CompletionCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return completions_.size();
    }
    // Waits for the first completion; std::nullopt when none came within the timeout.
    std::optional<Completion> WaitForCompletion(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!completed_.wait_for(lock, timeout, [&] { return !completions_.empty(); })) {
            return std::nullopt;
        }
        return completions_.front();
    }
    // The first `count` bytes of the output buffer.
    std::string Output(size_t count) const {
        const std::vector<BYTE>& bytes = output_->Bytes();
        return std::string(bytes.begin(), bytes.begin() + std::min(count, bytes.size()));
    }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFIoRequest);
    }

  private:
    WDF_REQUEST_TYPE type_;
    ULONG controlCode_;
    ComPtr<FakeMemory> input_;
    ComPtr<FakeMemory> output_;
    std::mutex mutex_;
    std::condition_variable completed_;
    std::vector<Completion> completions_;
};

// A framework queue: it holds its callback object, as the framework does, until it is deleted.
class FakeIoQueue final : public FakeWdfObject<IWDFIoQueue> {
  public:
    explicit FakeIoQueue(IUnknown* callbacks) : callbacks_(callbacks) {}

    void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppDevice) override { *ppDevice = nullptr; }
    HRESULT STDMETHODCALLTYPE ConfigureRequestDispatching(WDF_REQUEST_TYPE, BOOL) override {
        return E_NOTIMPL;
    }
    WDF_IO_QUEUE_STATE STDMETHODCALLTYPE GetState(ULONG*, ULONG*) override {
        return WdfIoQueueAcceptRequests;
    }
    HRESULT STDMETHODCALLTYPE RetrieveNextRequest(IWDFIoRequest** pp) override {
        *pp = nullptr;
        return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
    }
    HRESULT STDMETHODCALLTYPE RetrieveNextRequestByFileObject(IWDFFile*,
                                                              IWDFIoRequest** pp) override {
        *pp = nullptr;
        return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
    }
    void STDMETHODCALLTYPE Start() override {}
    void STDMETHODCALLTYPE Stop(IQueueCallbackStateChange*) override {}
    void STDMETHODCALLTYPE StopSynchronously() override {}
    void STDMETHODCALLTYPE Drain(IQueueCallbackStateChange*) override {}
    void STDMETHODCALLTYPE DrainSynchronously() override {}
    void STDMETHODCALLTYPE Purge(IQueueCallbackStateChange*) override {}
    void STDMETHODCALLTYPE PurgeSynchronously() override {}

    IUnknown* Callbacks() const { return callbacks_.Get(); }
    // The queue deleted with its device: the callback object goes.
    void Delete() { callbacks_ = nullptr; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFIoQueue);
    }

  private:
    ComPtr<IUnknown> callbacks_;
};

// Named values kept in memory: what the sensor stores its unique ID in.
class FakeNamedPropertyStore final : public zntr::platform::ComObject<IWDFNamedPropertyStore> {
  public:
    ~FakeNamedPropertyStore() override {
        for (auto& entry : values_) {
            PropVariantClear(&entry.second);
        }
    }
    HRESULT STDMETHODCALLTYPE GetNamedValue(LPCWSTR name, PROPVARIANT* pv) override {
        PropVariantInit(pv);
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = values_.find(name);
        if (found == values_.end()) {
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
        return PropVariantCopy(pv, &found->second);
    }
    HRESULT STDMETHODCALLTYPE SetNamedValue(LPCWSTR name, const PROPVARIANT* pv) override {
        std::lock_guard<std::mutex> lock(mutex_);
        PROPVARIANT& stored = values_[name];
        PropVariantClear(&stored);
        return PropVariantCopy(&stored, pv);
    }
    HRESULT STDMETHODCALLTYPE GetNameCount(DWORD* count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        *count = static_cast<DWORD>(values_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNameAt(DWORD, PWSTR*) override { return E_NOTIMPL; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFNamedPropertyStore);
    }

  private:
    std::mutex mutex_;
    std::map<std::wstring, PROPVARIANT> values_;
};

// The framework device. Its default queue is made by CreateIoQueue and kept until DeleteQueue
// (the framework deletes it with the device).
class FakeWdfDevice final : public WdfDeviceStub {
  public:
    // What the test sets: CreateIoQueue's failure, the power action, and whether the device
    // answers IWDFDevice2.
    HRESULT createQueueFailure = S_OK;
    POWER_ACTION powerAction = PowerActionNone;
    bool offersDevice2 = true;

    // What CreateIoQueue was asked.
    struct QueueCreation {
        bool defaultQueue = false;
        WDF_IO_QUEUE_DISPATCH_TYPE dispatch = WdfIoQueueDispatchSequential;
        bool powerManaged = true;
        bool zeroLengthAllowed = false;
    };
    std::vector<QueueCreation> queueCreations;

    FakeWdfDevice() : store_(MakeFake<FakeNamedPropertyStore>()) {}

    HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR, WDF_PROPERTY_STORE_RETRIEVE_FLAGS, IWDFNamedPropertyStore** ppStore,
        WDF_PROPERTY_STORE_DISPOSITION* pDisposition) override {
        if (pDisposition != nullptr) {
            *pDisposition = OpenedExistingStore;
        }
        *ppStore = store_.Get();
        (*ppStore)->AddRef();
        return S_OK;
    }
    void STDMETHODCALLTYPE GetDefaultIoQueue(IWDFIoQueue** ppQueue) override {
        std::lock_guard<std::mutex> lock(mutex_);
        *ppQueue = defaultQueue_.Get();
        if (*ppQueue != nullptr) {
            (*ppQueue)->AddRef();
        }
    }
    HRESULT STDMETHODCALLTYPE CreateIoQueue(IUnknown* callbacks, BOOL defaultQueue,
                                            WDF_IO_QUEUE_DISPATCH_TYPE dispatch, BOOL powerManaged,
                                            BOOL zeroLengthAllowed,
                                            IWDFIoQueue** ppQueue) override {
        *ppQueue = nullptr;
        queueCreations.push_back(
            {defaultQueue != FALSE, dispatch, powerManaged != FALSE, zeroLengthAllowed != FALSE});
        if (FAILED(createQueueFailure)) {
            return createQueueFailure;
        }
        if (dispatch != WdfIoQueueDispatchManual && !OffersQueueCallbacks(callbacks)) {
            return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
        }
        ComPtr<FakeIoQueue> queue = MakeFake<FakeIoQueue>(callbacks);
        if (defaultQueue) {
            std::lock_guard<std::mutex> lock(mutex_);
            defaultQueue_ = queue;
        }
        *ppQueue = queue.Detach();
        return S_OK;
    }
    POWER_ACTION STDMETHODCALLTYPE GetSystemPowerAction() override { return powerAction; }

    ComPtr<FakeIoQueue> DefaultQueue() {
        std::lock_guard<std::mutex> lock(mutex_);
        return defaultQueue_;
    }
    // The device removed: its queue, and with it the queue's callback object, goes.
    void DeleteQueue() {
        ComPtr<FakeIoQueue> queue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue.Swap(defaultQueue_);
        }
        if (queue) {
            queue->Delete();
        }
    }

  protected:
    bool OffersDevice2() const override { return offersDevice2; }

  private:
    static bool OffersQueueCallbacks(IUnknown* callbacks) {
        for (const IID* iid : {&IID_IQueueCallbackCreate, &IID_IQueueCallbackRead,
                               &IID_IQueueCallbackDeviceIoControl}) {
            ComPtr<IUnknown> answer;
            if (SUCCEEDED(callbacks->QueryInterface(
                    *iid, reinterpret_cast<void**>(answer.GetAddressOf())))) {
                return true;
            }
        }
        return false;
    }

    ComPtr<FakeNamedPropertyStore> store_;
    std::mutex mutex_;
    ComPtr<FakeIoQueue> defaultQueue_;
};

// The device being added. Records the settings the driver gives it, in order.
class FakeDeviceInitialize final : public zntr::platform::ComObject<IWDFDeviceInitialize> {
  public:
    explicit FakeDeviceInitialize(std::wstring instanceId) : instanceId_(std::move(instanceId)) {}

    HRESULT retrieveFailure = S_OK;
    std::vector<std::string> settings;

    void STDMETHODCALLTYPE SetFilter() override { settings.push_back("SetFilter"); }
    void STDMETHODCALLTYPE SetLockingConstraint(WDF_CALLBACK_CONSTRAINT type) override {
        settings.push_back("SetLockingConstraint(" + std::to_string(type) + ")");
    }
    HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR, WDF_PROPERTY_STORE_RETRIEVE_FLAGS, IWDFNamedPropertyStore** pp,
        WDF_PROPERTY_STORE_DISPOSITION*) override {
        *pp = nullptr;
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE SetPowerPolicyOwnership(BOOL owner) override {
        settings.push_back("SetPowerPolicyOwnership(" + std::to_string(owner) + ")");
    }
    void STDMETHODCALLTYPE AutoForwardCreateCleanupClose(WDF_TRI_STATE state) override {
        settings.push_back("AutoForwardCreateCleanupClose(" + std::to_string(state) + ")");
    }
    // As the framework answers: the size needed (terminator included) for a size query or a
    // buffer that is too small.
    HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR buffer, DWORD* size) override {
        if (FAILED(retrieveFailure)) {
            return retrieveFailure;
        }
        const DWORD needed = static_cast<DWORD>(instanceId_.size() + 1);
        if (buffer == nullptr && *size == 0) {
            *size = needed;
            return S_OK;
        }
        if (*size < needed) {
            *size = needed;
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, instanceId_.c_str(), needed * sizeof(WCHAR));
        return S_OK;
    }
    void STDMETHODCALLTYPE SetPnpCapability(WDF_PNP_CAPABILITY, WDF_TRI_STATE) override {}
    WDF_TRI_STATE STDMETHODCALLTYPE GetPnpCapability(WDF_PNP_CAPABILITY) override {
        return WdfUseDefault;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IWDFDeviceInitialize); }

  private:
    std::wstring instanceId_;
};

// The framework driver: CreateDevice keeps the callback object, as the framework does, and makes
// the framework device.
class FakeWdfDriver final : public FakeWdfObject<IWDFDriver> {
  public:
    HRESULT createDeviceFailure = S_OK;
    int createDeviceCalls = 0;
    ComPtr<IUnknown> callbacks;
    ComPtr<FakeWdfDevice> device;

    HRESULT STDMETHODCALLTYPE CreateDevice(IWDFDeviceInitialize*, IUnknown* pCallbacks,
                                           IWDFDevice** ppDevice) override {
        ++createDeviceCalls;
        *ppDevice = nullptr;
        if (FAILED(createDeviceFailure)) {
            return createDeviceFailure;
        }
        callbacks = pCallbacks;
        device = MakeFake<FakeWdfDevice>();
        *ppDevice = device.Get();
        (*ppDevice)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateWdfObject(IUnknown*, IWDFObject*, IWDFObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreatePreallocatedWdfMemory(BYTE*, SIZE_T, IUnknown*, IWDFObject*,
                                                          IWDFMemory**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateWdfMemory(SIZE_T, IUnknown*, IWDFObject*,
                                              IWDFMemory**) override {
        return E_NOTIMPL;
    }
    BOOL STDMETHODCALLTYPE IsVersionAvailable(UMDF_VERSION_DATA*) override { return TRUE; }
    HRESULT STDMETHODCALLTYPE RetrieveVersionString(PWSTR, DWORD*) override { return E_NOTIMPL; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFDriver);
    }
};

}  // namespace zntr::test
