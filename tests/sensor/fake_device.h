// A framework device and property store of the tests' own, whose answers a test sets: for the
// failure paths of the unique ID.
#pragma once

#include <string>

#include "standin/com_helpers.h"
#include "standin/shlwapi.h"
#include "standin/wudfddi.h"
#include "wdf_device_stub.h"

namespace zntr::test {

class FakePropertyStore final : public zntr::platform::ComObject<IWDFNamedPropertyStore> {
  public:
    // What GetNamedValue gives: its status, and on success a VT_LPWSTR text or a VT_UI4 number.
    HRESULT getResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    VARTYPE storedType = VT_LPWSTR;
    std::wstring storedText;
    // What SetNamedValue returns, and what it was given.
    HRESULT setResult = S_OK;
    int sets = 0;
    std::wstring setName;
    std::wstring setText;

    HRESULT STDMETHODCALLTYPE GetNamedValue(LPCWSTR, PROPVARIANT* pv) override {
        PropVariantInit(pv);
        if (FAILED(getResult)) {
            return getResult;
        }
        if (storedType == VT_UI4) {
            pv->vt = VT_UI4;
            pv->ulVal = 7;
            return S_OK;
        }
        pv->vt = VT_LPWSTR;
        return SHStrDupW(storedText.c_str(), &pv->pwszVal);
    }
    HRESULT STDMETHODCALLTYPE SetNamedValue(LPCWSTR pszName, const PROPVARIANT* pv) override {
        ++sets;
        setName = pszName;
        setText = pv->vt == VT_LPWSTR ? pv->pwszVal : L"";
        return setResult;
    }
    HRESULT STDMETHODCALLTYPE GetNameCount(DWORD* pdwCount) override {
        *pdwCount = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNameAt(DWORD, PWSTR*) override {
        return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
    }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFNamedPropertyStore);
    }
};

class FakeDevice final : public WdfDeviceStub {
  public:
    explicit FakeDevice(FakePropertyStore* store) : store_(store) {}

    // What RetrieveDevicePropertyStore returns, and how it was asked.
    HRESULT retrieveResult = S_OK;
    bool askedForService = false;
    WDF_PROPERTY_STORE_RETRIEVE_FLAGS askedFlags = WdfPropertyStoreNormal;

    HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
        IWDFNamedPropertyStore** ppPropStore, WDF_PROPERTY_STORE_DISPOSITION*) override {
        askedForService = pcwszServiceName != nullptr;
        askedFlags = Flags;
        *ppPropStore = nullptr;
        if (FAILED(retrieveResult)) {
            return retrieveResult;
        }
        store_->AddRef();
        *ppPropStore = store_;
        return S_OK;
    }

  private:
    FakePropertyStore* store_;  // not owned
};

}  // namespace zntr::test
