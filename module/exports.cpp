// The module's exports: the COM in-process server functions and the framework version it is
// built for. These five names are all the module exports (see ZntrLocation.map).
#include "class_factory.h"
#include "module_lock.h"
#include "module_state.h"

#if defined(_WIN32)
// On Windows the module definition file, ZntrLocation.def, names the exports.
#define ZNTR_MODULE_EXPORT
#else
#define ZNTR_MODULE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// The framework version the driver is built for: UMDF 1.9.0.
ZNTR_MODULE_EXPORT UMDF_VERSION_DATA Microsoft_WDF_UMDF_Version = {1, 9, 0};

ZNTR_MODULE_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                            LPVOID* ppv) {
    if (!gModule.IsInitialized()) {
        return E_UNEXPECTED;
    }
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    cClassEntry* pEntry = FindClassEntry(rclsid);
    if (pEntry == nullptr) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    cClassFactory* pFactory = nullptr;
    HRESULT hr = GetClassFactory(*pEntry, &pFactory);
    if (FAILED(hr)) {
        return hr;
    }
    hr = pFactory->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr) && *ppv == nullptr) {
        hr = CLASS_E_CLASSNOTAVAILABLE;
    }
    return hr;
}

// S_OK when no driver, device or queue object lives and no LockServer lock is outstanding.
ZNTR_MODULE_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow(void) {
    return GetModuleLockCount() == 0 ? S_OK : S_FALSE;
}

// The driver class has no registry script: there is nothing to register.
ZNTR_MODULE_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer(void) {
    return S_OK;
}

ZNTR_MODULE_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
    return S_OK;
}

}  // extern "C"
