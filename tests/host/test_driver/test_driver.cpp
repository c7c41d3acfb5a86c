#include "test_driver.h"

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "standin/debugapi.h"
#include "standin/winerror.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"
#include "test_driver_codes.h"

namespace zntr::test_driver {

using Microsoft::WRL::ComPtr;

std::atomic<long> gObjects{0};

namespace {

std::mutex gLogMutex;
std::string gLog;
void* gKept = nullptr;

// Reference counting for the objects below, which each answer their own interfaces.
class Counted {
  public:
    Counted() { ++gObjects; }
    virtual ~Counted() { --gObjects; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

  protected:
    ULONG Add() { return ++references_; }
    ULONG Drop() {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  private:
    std::atomic<ULONG> references_{1};
};

std::string InstanceText(IWDFDeviceInitialize* init) {
    DWORD size = 0;
    if (FAILED(init->RetrieveDeviceInstanceId(nullptr, &size))) {
        return {};
    }
    std::wstring id(size, L'\0');
    if (FAILED(init->RetrieveDeviceInstanceId(id.data(), &size))) {
        return {};
    }
    id.resize(size > 0 ? size - 1 : 0);
    return std::string(id.begin(), id.end());  // the tests' IDs are ASCII
}

bool Has(const std::string& id, const wchar_t* word) {
    const std::wstring wide(word);
    return id.find(std::string(wide.begin(), wide.end())) != std::string::npos;
}

POWER_ACTION ActionOf(IWDFDevice* device) {
    ComPtr<IWDFDevice2> device2;
    if (FAILED(device->QueryInterface(IID_IWDFDevice2,
                                      reinterpret_cast<void**>(device2.GetAddressOf())))) {
        return static_cast<POWER_ACTION>(-1);
    }
    return device2->GetSystemPowerAction();
}

// Options the device instance ID chose.
struct Behaviour {
    bool serial = false;
    bool failPrepare = false;
    bool leak = false;
    bool keep = false;
};

class Device final : public Counted,
                     public IPnpCallbackHardware,
                     public IPnpCallback,
                     public IFileCallbackCleanup {
  public:
    explicit Device(const Behaviour& behaviour) : behaviour_(behaviour) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPnpCallbackHardware)) {
            *ppv = static_cast<IPnpCallbackHardware*>(this);
        } else if (IsEqualIID(riid, IID_IPnpCallback)) {
            *ppv = static_cast<IPnpCallback*>(this);
        } else if (IsEqualIID(riid, IID_IFileCallbackCleanup)) {
            *ppv = static_cast<IFileCallbackCleanup*>(this);
        } else {
            return E_NOINTERFACE;
        }
        Add();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    HRESULT STDMETHODCALLTYPE OnPrepareHardware(IWDFDevice* device) override;
    HRESULT STDMETHODCALLTYPE OnReleaseHardware(IWDFDevice*) override {
        Log("OnReleaseHardware");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnD0Entry(IWDFDevice* device,
                                        WDF_POWER_DEVICE_STATE previous) override {
        Log("OnD0Entry previous=" + std::to_string(previous) +
            " action=" + std::to_string(ActionOf(device)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnD0Exit(IWDFDevice* device, WDF_POWER_DEVICE_STATE target) override {
        Log("OnD0Exit target=" + std::to_string(target) +
            " action=" + std::to_string(ActionOf(device)));
        return S_OK;
    }
    void STDMETHODCALLTYPE OnSurpriseRemoval(IWDFDevice*) override { Log("OnSurpriseRemoval"); }
    HRESULT STDMETHODCALLTYPE OnQueryRemove(IWDFDevice*) override {
        Log("OnQueryRemove");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnQueryStop(IWDFDevice*) override {
        Log("OnQueryStop");
        return S_OK;
    }
    void STDMETHODCALLTYPE OnCleanupFile(IWDFFile*) override {
        Log("OnCleanupFile");
        std::lock_guard<std::mutex> lock(mutex_);
        if (openFiles_ > 0) {
            --openFiles_;
        }
    }

    // One open file at a time.
    bool TryOpen() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (openFiles_ > 0) {
            return false;
        }
        ++openFiles_;
        return true;
    }
    const Behaviour& Options() const { return behaviour_; }

  private:
    const Behaviour behaviour_;
    std::mutex mutex_;
    int openFiles_ = 0;
};

class Queue final : public Counted,
                    public IQueueCallbackCreate,
                    public IQueueCallbackRead,
                    public IQueueCallbackDeviceIoControl {
  public:
    explicit Queue(Device* device) : device_(device) {}

    // As a queue object that ends its stream does: whatever it still holds is completed when
    // it goes, unless the device was told to keep it.
    ~Queue() override {
        if (device_->Options().keep) {
            return;
        }
        for (const auto& request : reads_) {
            request->CompleteWithInformation(HRESULT_FROM_WIN32(995), 0);
        }
        for (const auto& request : held_) {
            request->CompleteWithInformation(HRESULT_FROM_WIN32(995), 0);
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IQueueCallbackCreate)) {
            *ppv = static_cast<IQueueCallbackCreate*>(this);
        } else if (IsEqualIID(riid, IID_IQueueCallbackRead)) {
            *ppv = static_cast<IQueueCallbackRead*>(this);
        } else if (IsEqualIID(riid, IID_IQueueCallbackDeviceIoControl)) {
            *ppv = static_cast<IQueueCallbackDeviceIoControl*>(this);
        } else {
            return E_NOINTERFACE;
        }
        Add();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    void STDMETHODCALLTYPE OnCreateFile(IWDFIoQueue*, IWDFIoRequest* request,
                                        IWDFFile* file) override {
        Running running(*this);
        const bool opened = file != nullptr && device_->TryOpen();
        Log(opened ? "OnCreateFile" : "OnCreateFile refused");
        request->Complete(opened ? S_OK : STG_E_ACCESSDENIED);
    }

    void STDMETHODCALLTYPE OnRead(IWDFIoQueue*, IWDFIoRequest* request, SIZE_T) override {
        Running running(*this);
        std::lock_guard<std::mutex> lock(mutex_);
        reads_.emplace_back(request);
    }

    void STDMETHODCALLTYPE OnDeviceIoControl(IWDFIoQueue*, IWDFIoRequest* request, ULONG code,
                                             SIZE_T inputSize, SIZE_T outputSize) override {
        Running running(*this);
        const std::vector<std::uint8_t> input = Input(request, inputSize);
        switch (code) {
            case kEcho:
                Answer(request, input.data(), std::min<std::size_t>(input.size(), outputSize));
                break;
            case kHold: {
                std::lock_guard<std::mutex> lock(mutex_);
                held_.emplace_back(request);
                break;
            }
            case kReleaseHeld: {
                std::deque<ComPtr<IWDFIoRequest>> held;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    held.swap(held_);
                }
                for (auto it = held.rbegin(); it != held.rend(); ++it) {
                    ComPtr<IWDFMemory> in;
                    (*it)->GetInputMemory(in.ReleaseAndGetAddressOf());
                    SIZE_T size = 0;
                    const void* data = in ? in->GetDataBuffer(&size) : nullptr;
                    Answer(it->Get(), data, size);
                }
                const auto count = static_cast<std::uint32_t>(held.size());
                Answer(request, &count, sizeof(count));
                break;
            }
            case kCompleteReads: {
                std::deque<ComPtr<IWDFIoRequest>> reads;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    reads.swap(reads_);
                }
                for (const auto& read : reads) {
                    SIZE_T length = 0;
                    read->GetReadParameters(&length, nullptr, nullptr);
                    Answer(read.Get(), input.data(), std::min<std::size_t>(input.size(), length));
                }
                request->Complete(S_OK);
                break;
            }
            case kCallbackLog: {
                std::string log;
                {
                    std::lock_guard<std::mutex> lock(gLogMutex);
                    log = gLog;
                }
                Answer(request, log.data(), std::min<std::size_t>(log.size(), outputSize));
                break;
            }
            case kSleep: {
                std::uint32_t ms = 0;
                std::memcpy(&ms, input.data(), std::min(input.size(), sizeof(ms)));
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                request->Complete(S_OK);
                break;
            }
            case kMaxConcurrency: {
                const std::uint32_t most = mostRunning_.load();
                Answer(request, &most, sizeof(most));
                break;
            }
            case kCompleteTwice:
                request->Complete(S_OK);
                request->Complete(E_FAIL);
                break;
            case kRequestor: {
                const std::uint32_t pid = request->GetRequestorProcessId();
                Answer(request, &pid, sizeof(pid));
                break;
            }
            default:
                request->Complete(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
                break;
        }
    }

  private:
    // Counts the callbacks running at once.
    class Running {
      public:
        explicit Running(Queue& queue) : queue_(queue) {
            const std::uint32_t now = ++queue_.running_;
            std::uint32_t most = queue_.mostRunning_.load();
            while (now > most && !queue_.mostRunning_.compare_exchange_weak(most, now)) {
            }
        }
        ~Running() { --queue_.running_; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

      private:
        Queue& queue_;
    };

    static std::vector<std::uint8_t> Input(IWDFIoRequest* request, SIZE_T size) {
        ComPtr<IWDFMemory> memory;
        request->GetInputMemory(memory.ReleaseAndGetAddressOf());
        std::vector<std::uint8_t> bytes(size);
        if (memory && size > 0) {
            memory->CopyToBuffer(0, bytes.data(), size);
        }
        return bytes;
    }

    static void Answer(IWDFIoRequest* request, const void* data, std::size_t size) {
        ComPtr<IWDFMemory> memory;
        request->GetOutputMemory(memory.ReleaseAndGetAddressOf());
        SIZE_T capacity = 0;
        void* buffer = memory ? memory->GetDataBuffer(&capacity) : nullptr;
        const std::size_t copied = std::min<std::size_t>(size, capacity);
        if (copied > 0) {
            std::memcpy(buffer, data, copied);
        }
        request->CompleteWithInformation(S_OK, copied);
    }

    // Strong reference: the queue uses the device's open count.
    const ComPtr<Device> device_;
    std::mutex mutex_;
    std::deque<ComPtr<IWDFIoRequest>> reads_;
    std::deque<ComPtr<IWDFIoRequest>> held_;
    std::atomic<std::uint32_t> running_{0};
    std::atomic<std::uint32_t> mostRunning_{0};
};

HRESULT Device::OnPrepareHardware(IWDFDevice* device) {
    Log("OnPrepareHardware");
    if (behaviour_.failPrepare) {
        return E_FAIL;
    }
    ComPtr<IWDFIoQueue> existing;
    device->GetDefaultIoQueue(existing.ReleaseAndGetAddressOf());
    if (existing) {
        return S_OK;
    }
    Queue* queue = new Queue(this);
    ComPtr<IWDFIoQueue> created;
    const HRESULT hr =
        device->CreateIoQueue(static_cast<IQueueCallbackCreate*>(queue), TRUE,
                              WdfIoQueueDispatchParallel, FALSE, TRUE, created.GetAddressOf());
    queue->Release();
    return hr;
}

class Driver final : public Counted, public IDriverEntry {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDriverEntry)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IDriverEntry*>(this);
        Add();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    HRESULT STDMETHODCALLTYPE OnInitialize(IWDFDriver*) override {
        Log("OnInitialize");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdd(IWDFDriver* driver, IWDFDeviceInitialize* init) override {
        const std::string id = InstanceText(init);
        Log("OnDeviceAdd " + id);
        if (Has(id, kFailAddWord)) {
            return E_OUTOFMEMORY;
        }
        if (Has(id, kNoDeviceWord)) {
            return S_OK;
        }
        Behaviour behaviour;
        behaviour.serial = Has(id, kSerialWord);
        behaviour.failPrepare = Has(id, kFailPrepareWord);
        behaviour.leak = Has(id, kLeakWord);
        behaviour.keep = Has(id, kKeepWord);
        if (behaviour.leak) {
            // A reference never released, held where the module keeps its data: the module
            // cannot be unloaded.
            gKept = this;
            AddRef();
        }
        init->SetLockingConstraint(behaviour.serial ? WdfDeviceLevel : None);
        init->SetPowerPolicyOwnership(TRUE);
        Device* device = new Device(behaviour);
        ComPtr<IWDFDevice> created;
        const HRESULT hr = driver->CreateDevice(init, static_cast<IPnpCallbackHardware*>(device),
                                                created.GetAddressOf());
        device->Release();
        return hr;
    }
    void STDMETHODCALLTYPE OnDeinitialize(IWDFDriver*) override { Log("OnDeinitialize"); }
};

}  // namespace

void Log(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(gLogMutex);
        gLog += line + "\n";
    }
    OutputDebugStringA(("test driver: " + line + "\n").c_str());
}

void ResetLog() {
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLog.clear();
}

HRESULT CreateDriver(REFIID riid, void** object) {
    Driver* driver = new Driver();
    const HRESULT hr = driver->QueryInterface(riid, object);
    driver->Release();
    return hr;
}

}  // namespace zntr::test_driver
