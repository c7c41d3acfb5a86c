// A sensor class extension of the tests' own, registered with CoRegisterClassObject under the
// platform's class identifier so that the driver's CoCreateInstance finds it. It records what the
// driver asks of it (Initialize, Uninitialize, ProcessIoControl, PostEvent with a copy of every
// posted value, PostStateChange, CleanupFile), completes the requests handed to it, and keeps the
// sensor it was initialised with so that a test can call the sensor's client callbacks as the
// platform would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework_fakes.h"
#include "standin/combaseapi.h"
#include "standin/sensorsclassextension.h"

namespace zntr::test {

// One value of a posted event: its key, its type and, for the number types, the number.
struct PostedValue {
    PROPERTYKEY key;
    VARTYPE vt = VT_EMPTY;
    double number = 0;
    GUID guid = GUID_NULL;
};

struct PostedEvent {
    std::wstring sensorId;
    std::vector<std::vector<PostedValue>> elements;
};

// What every class extension made under one registration did, in order.
struct ClassExtensionRecord {
    std::mutex mutex;
    std::condition_variable changed;
    // "Initialize", "Uninitialize", "ProcessIoControl", "PostEvent", "PostStateChange(N)",
    // "CleanupFile".
    std::vector<std::string> calls;
    std::vector<PostedEvent> events;
    std::vector<SensorState> states;
    std::vector<std::wstring> stateSensorIds;
    int instances = 0;
    // What Initialize answers.
    HRESULT initializeResult = S_OK;
    // Run inside Uninitialize, before it records the call: a test looks at the driver's state at
    // that moment.
    std::function<void()> onUninitialize;
    // Run at the start of PostEvent and PostStateChange, on the posting thread: a test holds the
    // event thread there.
    std::function<void()> onPost;

    void Add(std::string call) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(std::move(call));
        changed.notify_all();
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    // Waits until the condition (called under the record's lock) holds.
    template <typename Condition>
    bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return condition(); });
    }
};

class FakeClassExtension final : public zntr::platform::ComObject<ISensorClassExtension> {
  public:
    explicit FakeClassExtension(std::shared_ptr<ClassExtensionRecord> record)
        : record_(std::move(record)) {}

    HRESULT STDMETHODCALLTYPE Initialize(IUnknown* pWdfDevice, IUnknown* pSensorDriver) override {
        HRESULT result = S_OK;
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            result = record_->initializeResult;
        }
        if (pWdfDevice == nullptr || pSensorDriver == nullptr) {
            result = E_POINTER;
        } else if (SUCCEEDED(result)) {
            std::lock_guard<std::mutex> lock(mutex_);
            result = pSensorDriver->QueryInterface(
                IID_ISensorDriver, reinterpret_cast<void**>(driver_.GetAddressOf()));
        }
        record_->Add("Initialize");
        return result;
    }
    HRESULT STDMETHODCALLTYPE Uninitialize() override {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            hook = record_->onUninitialize;
        }
        if (hook) {
            hook();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            driver_ = nullptr;
        }
        record_->Add("Uninitialize");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessIoControl(IWDFIoRequest* pRequest) override {
        record_->Add("ProcessIoControl");
        pRequest->CompleteWithInformation(S_OK, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostEvent(LPWSTR pwszSensorID,
                                        IPortableDeviceValuesCollection* pEvents) override {
        RunPostHook();
        PostedEvent event;
        event.sensorId = pwszSensorID != nullptr ? pwszSensorID : L"";
        DWORD count = 0;
        pEvents->GetCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IPortableDeviceValues> element;
            pEvents->GetAt(i, element.GetAddressOf());
            event.elements.push_back(Copy(element.Get()));
        }
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            record_->events.push_back(std::move(event));
        }
        record_->Add("PostEvent");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostStateChange(LPWSTR pwszSensorID, SensorState state) override {
        RunPostHook();
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            record_->states.push_back(state);
            record_->stateSensorIds.push_back(pwszSensorID != nullptr ? pwszSensorID : L"");
        }
        record_->Add("PostStateChange(" + std::to_string(state) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CleanupFile(IWDFFile*) override {
        record_->Add("CleanupFile");
        return S_OK;
    }

    // The sensor it was initialised with, for the client callbacks; null after Uninitialize.
    ComPtr<ISensorDriver> Driver() {
        std::lock_guard<std::mutex> lock(mutex_);
        return driver_;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_ISensorClassExtension); }

  private:
    void RunPostHook() {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            hook = record_->onPost;
        }
        if (hook) {
            hook();
        }
    }

    static std::vector<PostedValue> Copy(IPortableDeviceValues* values) {
        std::vector<PostedValue> copy;
        DWORD count = 0;
        if (values == nullptr || FAILED(values->GetCount(&count))) {
            return copy;
        }
        for (DWORD i = 0; i < count; ++i) {
            zntr::platform::PropVariant value;
            PostedValue posted;
            if (FAILED(values->GetAt(i, &posted.key, &value))) {
                continue;
            }
            posted.vt = value.vt;
            switch (value.vt) {
                case VT_R8:
                    posted.number = value.dblVal;
                    break;
                case VT_R4:
                    posted.number = value.fltVal;
                    break;
                case VT_I4:
                    posted.number = value.lVal;
                    break;
                case VT_UI4:
                    posted.number = value.ulVal;
                    break;
                case VT_CLSID:
                    posted.guid = value.puuid != nullptr ? *value.puuid : GUID_NULL;
                    break;
                default:
                    break;
            }
            copy.push_back(posted);
        }
        return copy;
    }

    std::shared_ptr<ClassExtensionRecord> record_;
    std::mutex mutex_;
    ComPtr<ISensorDriver> driver_;
};

class FakeClassExtensionFactory final : public zntr::platform::ComObject<IClassFactory> {
  public:
    explicit FakeClassExtensionFactory(std::shared_ptr<ClassExtensionRecord> record)
        : record_(std::move(record)) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        ComPtr<FakeClassExtension> extension = MakeFake<FakeClassExtension>(record_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            latest_ = extension;
        }
        {
            std::lock_guard<std::mutex> lock(record_->mutex);
            ++record_->instances;
        }
        return extension->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    ComPtr<FakeClassExtension> Latest() {
        std::lock_guard<std::mutex> lock(mutex_);
        return latest_;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }

  private:
    std::shared_ptr<ClassExtensionRecord> record_;
    std::mutex mutex_;
    ComPtr<FakeClassExtension> latest_;
};

// The fake registered as the sensor class extension for as long as this object lives.
class RegisteredFakeClassExtension {
  public:
    RegisteredFakeClassExtension()
        : record_(std::make_shared<ClassExtensionRecord>()),
          factory_(MakeFake<FakeClassExtensionFactory>(record_)) {
        registered_ = CoRegisterClassObject(CLSID_SensorClassExtension, factory_.Get(),
                                            CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    }
    ~RegisteredFakeClassExtension() {
        if (SUCCEEDED(registered_)) {
            CoRevokeClassObject(cookie_);
        }
    }
    RegisteredFakeClassExtension(const RegisteredFakeClassExtension&) = delete;
    RegisteredFakeClassExtension& operator=(const RegisteredFakeClassExtension&) = delete;

    HRESULT RegistrationResult() const { return registered_; }
    ClassExtensionRecord& Record() { return *record_; }
    // The class extension made last; null before any.
    ComPtr<FakeClassExtension> Latest() { return factory_->Latest(); }

  private:
    std::shared_ptr<ClassExtensionRecord> record_;
    ComPtr<FakeClassExtensionFactory> factory_;
    DWORD cookie_ = 0;
    HRESULT registered_ = E_FAIL;
};

}  // namespace zntr::test
