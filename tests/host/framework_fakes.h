// A driver's callback object for the framework's tests: it answers the callback interfaces it
// is told to, records each callback by name, and handles requests with a function of the test's
// choosing (complete at once with S_OK, by default). Callbacks can be made to wait at a gate, to
// see what the framework does while a callback runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "standin/wrl_client.h"
#include "standin/wudfddi.h"

namespace zntr::test {

struct Offers {
    bool create = false;
    bool read = false;
    bool deviceIoControl = false;
    bool hardware = false;
    bool pnp = false;
    bool cleanup = false;
};

class FakeCallbacks final : public IQueueCallbackCreate,
                            public IQueueCallbackRead,
                            public IQueueCallbackDeviceIoControl,
                            public IPnpCallbackHardware,
                            public IPnpCallback,
                            public IFileCallbackCleanup {
  public:
    using RequestHandler = std::function<void(IWDFIoRequest* request)>;

    static Microsoft::WRL::ComPtr<FakeCallbacks> Make(const Offers& offers) {
        Microsoft::WRL::ComPtr<FakeCallbacks> object;
        object.Attach(new FakeCallbacks(offers));
        return object;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IQueueCallbackCreate*>(this);
        } else if (offers_.create && IsEqualIID(riid, IID_IQueueCallbackCreate)) {
            *ppv = static_cast<IQueueCallbackCreate*>(this);
        } else if (offers_.read && IsEqualIID(riid, IID_IQueueCallbackRead)) {
            *ppv = static_cast<IQueueCallbackRead*>(this);
        } else if (offers_.deviceIoControl && IsEqualIID(riid, IID_IQueueCallbackDeviceIoControl)) {
            *ppv = static_cast<IQueueCallbackDeviceIoControl*>(this);
        } else if (offers_.hardware && IsEqualIID(riid, IID_IPnpCallbackHardware)) {
            *ppv = static_cast<IPnpCallbackHardware*>(this);
        } else if (offers_.pnp && IsEqualIID(riid, IID_IPnpCallback)) {
            *ppv = static_cast<IPnpCallback*>(this);
        } else if (offers_.cleanup && IsEqualIID(riid, IID_IFileCallbackCleanup)) {
            *ppv = static_cast<IFileCallbackCleanup*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    void STDMETHODCALLTYPE OnCreateFile(IWDFIoQueue*, IWDFIoRequest* request, IWDFFile*) override {
        Handle("OnCreateFile", request);
    }
    void STDMETHODCALLTYPE OnRead(IWDFIoQueue*, IWDFIoRequest* request, SIZE_T) override {
        Handle("OnRead", request);
    }
    void STDMETHODCALLTYPE OnDeviceIoControl(IWDFIoQueue*, IWDFIoRequest* request, ULONG, SIZE_T,
                                             SIZE_T) override {
        Handle("OnDeviceIoControl", request);
    }
    HRESULT STDMETHODCALLTYPE OnPrepareHardware(IWDFDevice*) override {
        Record("OnPrepareHardware");
        return prepareResult;
    }
    HRESULT STDMETHODCALLTYPE OnReleaseHardware(IWDFDevice*) override {
        Record("OnReleaseHardware");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnD0Entry(IWDFDevice* device,
                                        WDF_POWER_DEVICE_STATE previous) override {
        Record("OnD0Entry " + std::to_string(previous) + " " + ActionOf(device));
        return d0EntryResult;
    }
    HRESULT STDMETHODCALLTYPE OnD0Exit(IWDFDevice* device, WDF_POWER_DEVICE_STATE target) override {
        Record("OnD0Exit " + std::to_string(target) + " " + ActionOf(device));
        return S_OK;
    }
    void STDMETHODCALLTYPE OnSurpriseRemoval(IWDFDevice*) override { Record("OnSurpriseRemoval"); }
    HRESULT STDMETHODCALLTYPE OnQueryRemove(IWDFDevice*) override {
        Record("OnQueryRemove");
        return queryResult;
    }
    HRESULT STDMETHODCALLTYPE OnQueryStop(IWDFDevice*) override {
        Record("OnQueryStop");
        return queryResult;
    }
    void STDMETHODCALLTYPE OnCleanupFile(IWDFFile*) override { Handle("OnCleanupFile", nullptr); }

    // What the callbacks answer, for the tests to set before use.
    HRESULT prepareResult = S_OK;
    HRESULT d0EntryResult = S_OK;
    HRESULT queryResult = S_OK;
    RequestHandler onRequest = [](IWDFIoRequest* request) { request->Complete(S_OK); };

    // Callbacks wait at the gate while it is closed.
    void CloseGate() {
        std::lock_guard<std::mutex> lock(mutex_);
        gateOpen_ = false;
    }
    void OpenGate() {
        std::lock_guard<std::mutex> lock(mutex_);
        gateOpen_ = true;
        changed_.notify_all();
    }
    // Waits until `count` callbacks are waiting at the closed gate; false after 5 s.
    bool WaitForWaiting(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return waiting_ >= count; });
    }
    int Waiting() {
        std::lock_guard<std::mutex> lock(mutex_);
        return waiting_;
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // Waits until `count` calls were recorded; false after 5 s.
    bool WaitForCalls(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5),
                                 [&] { return calls_.size() >= count; });
    }

  private:
    explicit FakeCallbacks(const Offers& offers) : offers_(offers) {}
    virtual ~FakeCallbacks() = default;

    static std::string ActionOf(IWDFDevice* device) {
        Microsoft::WRL::ComPtr<IWDFDevice2> device2;
        if (FAILED(device->QueryInterface(IID_IWDFDevice2,
                                          reinterpret_cast<void**>(device2.GetAddressOf())))) {
            return "no-action";
        }
        return "action=" + std::to_string(device2->GetSystemPowerAction());
    }

    void Record(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
        changed_.notify_all();
    }

    void Handle(const std::string& call, IWDFIoRequest* request) {
        Record(call);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ++waiting_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return gateOpen_; });
            --waiting_;
        }
        if (request != nullptr) {
            onRequest(request);
        }
    }

    const Offers offers_;
    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    bool gateOpen_ = true;
    int waiting_ = 0;
};

}  // namespace zntr::test
