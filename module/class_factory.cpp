#include "class_factory.h"

#include "critical_section_lock.h"
#include "driver_class.h"
#include "main_driver.h"
#include "module_lock.h"
#include "module_state.h"

namespace {

cClassEntry gClassTable[] = {
    {&CLSID_ZntrLocationDriver, &cMainDriver::CreateInstance},
};

// The module's clean-up callback for a row whose factory was made.
void ReleaseClassFactory(void* pContext) {
    cClassEntry* pEntry = static_cast<cClassEntry*>(pContext);
    cClassFactory* pFactory = pEntry->mpFactory.exchange(nullptr);
    if (pFactory != nullptr) {
        pFactory->Release();
    }
}

}  // namespace

HRESULT cClassFactory::CreateInstance(ObjectCreator pCreator, cClassFactory** ppFactory) {
    *ppFactory = nullptr;
    cClassFactory* pFactory = new (std::nothrow) cClassFactory(pCreator);
    if (pFactory == nullptr) {
        return E_OUTOFMEMORY;
    }
    pFactory->AddRef();
    *ppFactory = pFactory;
    return S_OK;
}

HRESULT cClassFactory::QueryInterface(REFIID riid, void** ppvObject) {
    return AnswerQueryInterface(riid, ppvObject,
                                {{IID_IClassFactory, static_cast<IClassFactory*>(this)}});
}

HRESULT cClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    return mpCreator(riid, ppvObject);
}

HRESULT cClassFactory::LockServer(BOOL fLock) {
    if (fLock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

cClassEntry* FindClassEntry(REFCLSID rclsid) {
    for (cClassEntry& entry : gClassTable) {
        if (IsEqualCLSID(*entry.mpClsid, rclsid)) {
            return &entry;
        }
    }
    return nullptr;
}

HRESULT GetClassFactory(cClassEntry& entry, cClassFactory** ppFactory) {
    *ppFactory = entry.mpFactory.load(std::memory_order_acquire);
    if (*ppFactory != nullptr) {
        return S_OK;
    }
    cCriticalSectionLock lock(gModule.Lock());
    *ppFactory = entry.mpFactory.load(std::memory_order_acquire);
    if (*ppFactory != nullptr) {
        return S_OK;
    }
    cClassFactory* pFactory = nullptr;
    const HRESULT hr = cClassFactory::CreateInstance(entry.mpCreator, &pFactory);
    if (FAILED(hr)) {
        return hr;
    }
    if (!gModule.AddTermFunction(ReleaseClassFactory, &entry)) {
        pFactory->Release();
        return E_UNEXPECTED;
    }
    entry.mpFactory.store(pFactory, std::memory_order_release);
    *ppFactory = pFactory;
    return S_OK;
}
