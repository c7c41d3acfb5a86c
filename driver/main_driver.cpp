#include "main_driver.h"

#include "debug_log.h"
#include "main_device.h"
#include "module_lock.h"

cMainDriver::cMainDriver() {
    LockModule();
}

cMainDriver::~cMainDriver() {
    UnlockModule();
}

HRESULT cMainDriver::CreateInstance(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    cMainDriver* pDriver = new (std::nothrow) cMainDriver();
    if (pDriver == nullptr) {
        return E_OUTOFMEMORY;
    }
    // The creator's reference goes when this returns: with the interface handed out the object
    // lives on, without it the object is destroyed.
    const Microsoft::WRL::ComPtr<cMainDriver> driver(pDriver);
    return driver->QueryInterface(riid, ppv);
}

HRESULT cMainDriver::QueryInterface(REFIID riid, void** ppvObject) {
    return AnswerQueryInterface(riid, ppvObject,
                                {{IID_IDriverEntry, static_cast<IDriverEntry*>(this)}});
}

HRESULT cMainDriver::OnInitialize(IWDFDriver* /*pWdfDriver*/) {
    return S_OK;
}

HRESULT cMainDriver::OnDeviceAdd(IWDFDriver* pWdfDriver, IWDFDeviceInitialize* pWdfDeviceInit) {
    const HRESULT hr = cMainDevice::CreateInstance(pWdfDriver, pWdfDeviceInit);
    DebugLog("cMainDriver: Created main device, %!hresult!", hr);
    return hr;
}

void cMainDriver::OnDeinitialize(IWDFDriver* /*pWdfDriver*/) {}
