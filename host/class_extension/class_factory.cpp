// The class object through which CoCreateInstance makes sensor class extensions, and its
// registration in the process's class table.
#include "class_extension.h"
#include "sensor_class_extension.h"
#include "standin/combaseapi.h"

namespace zntr::host {

namespace {

class SensorClassExtensionFactory final : public zntr::platform::ComObject<IClassFactory> {
  public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return CreateSensorClassExtension(riid, ppvObject);
    }
    // The host keeps the registration for as long as it runs; there is no module to keep loaded.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }
};

}  // namespace

HRESULT CreateSensorClassExtension(REFIID riid, void** object) {
    return zntr::platform::CreateComObject<SensorClassExtension>(riid, object);
}

HRESULT RegisterSensorClassExtension(DWORD* cookie) {
    if (cookie == nullptr) {
        return E_POINTER;
    }
    *cookie = 0;
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    factory.Attach(new (std::nothrow) SensorClassExtensionFactory());
    if (!factory) {
        return E_OUTOFMEMORY;
    }
    return CoRegisterClassObject(CLSID_SensorClassExtension, factory.Get(), CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, cookie);
}

HRESULT RevokeSensorClassExtension(DWORD cookie) {
    return CoRevokeClassObject(cookie);
}

}  // namespace zntr::host
