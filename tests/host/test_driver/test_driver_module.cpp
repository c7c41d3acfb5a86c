// The test driver's module: its entry routine (the module's entry point, not exported), the
// class factory of its one class, and the five exports of a driver module. The version it
// claims and whether its entry routine accepts the process attach are chosen when it is built,
// so that one source makes the modules the loader's tests need.
#include <atomic>

#include "standin/debugapi.h"
#include "standin/libloaderapi.h"
#include "standin/winerror.h"
#include "standin/wudfddi_types.h"
#include "test_driver.h"
#include "test_driver_codes.h"

#ifndef ZNTR_TEST_DRIVER_MAJOR
#define ZNTR_TEST_DRIVER_MAJOR 1
#endif
#ifndef ZNTR_TEST_DRIVER_MINOR
#define ZNTR_TEST_DRIVER_MINOR 9
#endif
#ifndef ZNTR_TEST_DRIVER_ATTACH
#define ZNTR_TEST_DRIVER_ATTACH TRUE
#endif

#define ZNTR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using zntr::test_driver::gObjects;

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // The one factory lives as long as the module; a reference on it counts as a lock.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++gObjects); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--gObjects); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return zntr::test_driver::CreateDriver(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++gObjects : --gObjects;
        return S_OK;
    }
};

ClassFactory gFactory;

}  // namespace

ZNTR_EXPORT const UMDF_VERSION_DATA Microsoft_WDF_UMDF_Version = {ZNTR_TEST_DRIVER_MAJOR,
                                                                  ZNTR_TEST_DRIVER_MINOR, 0};

ZNTR_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, zntr::test_driver::kDriverClass)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return gFactory.QueryInterface(riid, ppv);
}

ZNTR_EXPORT HRESULT DllCanUnloadNow() {
    return gObjects.load() == 0 ? S_OK : S_FALSE;
}

ZNTR_EXPORT HRESULT DllRegisterServer() {
    return S_OK;
}

ZNTR_EXPORT HRESULT DllUnregisterServer() {
    return S_OK;
}

// The entry point: not exported, named to the linker with -e.
extern "C" BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        zntr::test_driver::ResetLog();
        zntr::test_driver::Log("DllMain attach");
        DisableThreadLibraryCalls(module);
        return ZNTR_TEST_DRIVER_ATTACH;
    }
    if (reason == DLL_PROCESS_DETACH) {
        zntr::test_driver::Log("DllMain detach");
    }
    return TRUE;
}
