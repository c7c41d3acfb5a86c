// The Windows side of the stand-in's own COM classes: on Windows the Portable Devices values
// and collections come from PortableDeviceTypes.dll, which Wine does not have. A program that
// needs them there builds the stand-in's implementations (platform/src/portable_device_*.cpp)
// into itself; each adds its creator to the table below from a static initialiser, and
// RegisterPlatformClassObjects hands every one to CoRegisterClassObject, so that
// CoCreateInstance in any thread of the process (a driver's included) finds them.
#include "platform_class_objects.h"

#include <mutex>
#include <new>
#include <vector>

#include "com_internal.h"
#include "standin/com_helpers.h"

namespace zntr::platform {
namespace detail {
namespace {

struct PlatformClass {
    CLSID clsid;
    ClassCreator create;
};

std::vector<PlatformClass>& Classes() {
    static std::vector<PlatformClass> classes;
    return classes;
}

}  // namespace

bool RegisterPlatformClass(REFCLSID rclsid, ClassCreator create) {
    Classes().push_back({rclsid, create});
    return true;
}

// No test controls on Windows: a collection method never fails by request.
HRESULT InjectedMethodFailure(const char*) {
    return S_OK;
}

}  // namespace detail

namespace {

class PlatformClassFactory final : public ComObject<IClassFactory> {
  public:
    explicit PlatformClassFactory(detail::ClassCreator create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        return create_(pUnkOuter, riid, ppvObject);
    }
    // The registration lasts as long as the program; there is no module to keep loaded.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }

  private:
    const detail::ClassCreator create_;
};

}  // namespace

HRESULT RegisterPlatformClassObjects(std::vector<DWORD>* cookies) {
    if (cookies == nullptr) {
        return E_POINTER;
    }
    for (const detail::PlatformClass& entry : detail::Classes()) {
        Microsoft::WRL::ComPtr<IClassFactory> factory;
        factory.Attach(new (std::nothrow) PlatformClassFactory(entry.create));
        if (!factory) {
            RevokePlatformClassObjects(cookies);
            return E_OUTOFMEMORY;
        }
        DWORD cookie = 0;
        const HRESULT hr = CoRegisterClassObject(entry.clsid, factory.Get(), CLSCTX_INPROC_SERVER,
                                                 REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(hr)) {
            RevokePlatformClassObjects(cookies);
            return hr;
        }
        cookies->push_back(cookie);
    }
    return S_OK;
}

HRESULT RevokePlatformClassObjects(std::vector<DWORD>* cookies) {
    HRESULT result = S_OK;
    for (const DWORD cookie : *cookies) {
        const HRESULT hr = CoRevokeClassObject(cookie);
        if (FAILED(hr)) {
            result = hr;
        }
    }
    cookies->clear();
    return result;
}

std::size_t PlatformClassCount() {
    return detail::Classes().size();
}

}  // namespace zntr::platform
