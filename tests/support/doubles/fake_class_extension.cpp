#include "fake_class_extension.h"

#include <string>

#include "standin/com_helpers.h"

namespace zntr::test {

namespace {

using Microsoft::WRL::ComPtr;

class ClassExtension final : public zntr::platform::ComObject<ISensorClassExtension> {
  public:
    explicit ClassExtension(FakeClassExtension& fake) : fake_(fake) {}

    HRESULT STDMETHODCALLTYPE Initialize(IUnknown*, IUnknown* sensor) override {
        const HRESULT hr = fake_.Record("Initialize");
        ComPtr<ISensorDriver> driver;
        if (SUCCEEDED(hr) && sensor != nullptr) {
            sensor->QueryInterface(IID_ISensorDriver,
                                   reinterpret_cast<void**>(driver.GetAddressOf()));
            fake_.SetSensor(driver);
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Uninitialize() override {
        fake_.SetSensor(nullptr);
        return fake_.Record("Uninitialize");
    }
    HRESULT STDMETHODCALLTYPE ProcessIoControl(IWDFIoRequest* request) override {
        const HRESULT hr = fake_.Record("ProcessIoControl");
        request->CompleteWithInformation(hr, 0);
        return hr;
    }
    // The event parameters are the event thread's own, cleared for its next event: a copy.
    HRESULT STDMETHODCALLTYPE PostEvent(LPWSTR, IPortableDeviceValuesCollection* events) override {
        ComPtr<IPortableDeviceValues> element;
        ComPtr<IPortableDeviceValues> copy;
        DWORD count = 0;
        CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceValues, reinterpret_cast<void**>(copy.GetAddressOf()));
        if (SUCCEEDED(events->GetCount(&count)) && count == 1 &&
            SUCCEEDED(events->GetAt(0, element.GetAddressOf())) &&
            SUCCEEDED(element->GetCount(&count))) {
            for (DWORD i = 0; i < count; ++i) {
                PROPERTYKEY key;
                zntr::platform::PropVariant value;
                element->GetAt(i, &key, &value);
                copy->SetValue(key, &value);
            }
        }
        fake_.AddEvent(copy);
        return fake_.Record("PostEvent");
    }
    HRESULT STDMETHODCALLTYPE PostStateChange(LPWSTR, SensorState state) override {
        return fake_.Record("PostStateChange(" + std::to_string(state) + ")");
    }
    HRESULT STDMETHODCALLTYPE CleanupFile(IWDFFile*) override {
        return fake_.Record("CleanupFile");
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_ISensorClassExtension); }

  private:
    FakeClassExtension& fake_;
};

class Factory final : public zntr::platform::ComObject<IClassFactory> {
  public:
    explicit Factory(FakeClassExtension& fake) : fake_(fake) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return outer != nullptr ? CLASS_E_NOAGGREGATION
                                : zntr::platform::CreateComObject<ClassExtension>(riid, ppv, fake_);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }

  private:
    FakeClassExtension& fake_;
};

}  // namespace

FakeClassExtension::FakeClassExtension() {
    factory_.Attach(new Factory(*this));
    CoRegisterClassObject(CLSID_SensorClassExtension, factory_.Get(), CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookie_);
}

FakeClassExtension::~FakeClassExtension() {
    CoRevokeClassObject(cookie_);
}

ComPtr<ISensorDriver> FakeClassExtension::Sensor() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sensor_;
}

std::vector<ComPtr<IPortableDeviceValues>> FakeClassExtension::Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

void FakeClassExtension::SetSensor(ComPtr<ISensorDriver> sensor) {
    std::lock_guard<std::mutex> lock(mutex_);
    sensor_ = std::move(sensor);
}

void FakeClassExtension::AddEvent(ComPtr<IPortableDeviceValues> event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
}

}  // namespace zntr::test
