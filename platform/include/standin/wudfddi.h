// The User-Mode Driver Framework 1.9 interfaces, declared as the framework declares them (same
// slot order and signatures). The interfaces the sensor needs so far are declared in full up to
// the methods it calls; the framework objects the host provides declare the rest in the same
// order as they are built.
#pragma once

#include "standin/propidl.h"
#include "standin/unknwn.h"
#include "standin/windef.h"
#include "standin/winerror.h"

// {64275C66-2E71-4060-B5F4-3A76DF96ED3C}
inline constexpr IID IID_IWDFObject = {
    0x64275C66, 0x2E71, 0x4060, {0xB5, 0xF4, 0x3A, 0x76, 0xDF, 0x96, 0xED, 0x3C}};
// {D657FE45-460A-49C3-8219-766AE8032A80}
inline constexpr IID IID_IWDFDevice = {
    0xD657FE45, 0x460A, 0x49C3, {0x82, 0x19, 0x76, 0x6A, 0xE8, 0x03, 0x2A, 0x80}};
// {394B48C9-BCA0-498F-8E2C-01225464A932}
inline constexpr IID IID_IWDFNamedPropertyStore = {
    0x394B48C9, 0xBCA0, 0x498F, {0x8E, 0x2C, 0x01, 0x22, 0x54, 0x64, 0xA9, 0x32}};
// {CC8FE04B-FE8B-4245-AFD6-C31BC830C791}
inline constexpr IID IID_IWDFFile = {
    0xCC8FE04B, 0xFE8B, 0x4245, {0xAF, 0xD6, 0xC3, 0x1B, 0xC8, 0x30, 0xC7, 0x91}};
// {896DF312-22B4-4A9D-95DD-A364AAF59769}
inline constexpr IID IID_IWDFIoRequest = {
    0x896DF312, 0x22B4, 0x4A9D, {0x95, 0xDD, 0xA3, 0x64, 0xAA, 0xF5, 0x97, 0x69}};

// Framework objects that the declarations below name but whose methods come with the host.
struct IObjectCleanup;
struct IWDFFile;
struct IWDFIoRequest;

typedef enum _WDF_PROPERTY_STORE_RETRIEVE_FLAGS {
    WdfPropertyStoreNormal = 0,
    WdfPropertyStoreCreateIfMissing = 1,
    WdfPropertyStoreCreateVolatile = 2,
} WDF_PROPERTY_STORE_RETRIEVE_FLAGS;

typedef enum _WDF_PROPERTY_STORE_DISPOSITION {
    CreatedNewStore = 1,
    OpenedExistingStore = 2,
} WDF_PROPERTY_STORE_DISPOSITION;

// A store of named values that persists with the device: text (VT_LPWSTR) and 32-bit numbers
// (VT_UI4). A value read out is a copy that the caller clears with PropVariantClear.
struct IWDFNamedPropertyStore : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetNamedValue(LPCWSTR pszName, PROPVARIANT* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNamedValue(LPCWSTR pszName, const PROPVARIANT* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNameCount(DWORD* pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNameAt(DWORD index, PWSTR* pName) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFNamedPropertyStore)
};

struct IWDFObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DeleteWdfObject() = 0;
    virtual HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup* pCleanupCallback,
                                                    void* ContextData) = 0;
    virtual HRESULT STDMETHODCALLTYPE RetrieveContext(void** ppvContextData) = 0;
    virtual void STDMETHODCALLTYPE AcquireLock() = 0;
    virtual void STDMETHODCALLTYPE ReleaseLock() = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFObject)
};

// The framework device. Its further methods (GetDriver, RetrieveDeviceInstanceId, ...,
// CreateSymbolicLink) follow RetrieveDevicePropertyStore in the framework's order.
struct IWDFDevice : public IWDFObject {
    virtual HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
        IWDFNamedPropertyStore** ppPropStore, WDF_PROPERTY_STORE_DISPOSITION* pDisposition) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IWDFDevice)
};
