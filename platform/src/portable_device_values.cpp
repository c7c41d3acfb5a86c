// PortableDeviceValues: an ordered map from property keys to PROPVARIANT values, safe to use
// from several threads (one lock per object, held only while the entries are read or changed).
#include <cstring>
#include <cwchar>
#include <mutex>
#include <utility>
#include <vector>

#include "com_internal.h"
#include "standin/com_helpers.h"
#include "standin/portabledevicetypes.h"
#include "standin/shlwapi.h"

namespace zntr::platform::detail {
namespace {

// One key and the value it owns. Movable, so that entries can live in a vector; the value is
// cleared when the entry goes.
class Entry {
  public:
    Entry(REFPROPERTYKEY key, const PROPVARIANT& owned) : key_(key) {
        std::memcpy(static_cast<void*>(&value_), &owned, sizeof(value_));
    }
    Entry(Entry&& other) noexcept : key_(other.key_) {
        std::memcpy(static_cast<void*>(&value_), &other.value_, sizeof(value_));
        PropVariantInit(&other.value_);
    }
    Entry& operator=(Entry&& other) noexcept {
        if (this != &other) {
            PropVariantClear(&value_);
            key_ = other.key_;
            std::memcpy(static_cast<void*>(&value_), &other.value_, sizeof(value_));
            PropVariantInit(&other.value_);
        }
        return *this;
    }
    ~Entry() { PropVariantClear(&value_); }

    const PROPERTYKEY& Key() const { return key_; }
    const PROPVARIANT& Value() const { return value_; }
    // Takes over owned and hands the previous value back to the caller, who clears it.
    void Replace(PROPVARIANT& owned) { std::swap(value_, owned); }

  private:
    PROPERTYKEY key_;
    PROPVARIANT value_;
};

class PortableDeviceValues final : public ComObject<IPortableDeviceValues> {
  public:
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcelt) override {
        if (pcelt == nullptr) {
            return E_POINTER;
        }
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::GetCount");
        std::lock_guard<std::mutex> lock(mutex_);
        *pcelt = static_cast<DWORD>(entries_.size());
        return S_OK;
    }

    // Both out-parameters are optional; the value is a copy for the caller.
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* pKey,
                                    PROPVARIANT* pValue) override {
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::GetAt");
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= entries_.size()) {
            return E_INVALIDARG;
        }
        const Entry& entry = entries_[index];
        if (pValue != nullptr) {
            const HRESULT hr = PropVariantCopy(pValue, &entry.Value());
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (pKey != nullptr) {
            *pKey = entry.Key();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT* pValue) override {
        if (pValue == nullptr) {
            return E_POINTER;
        }
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::SetValue");
        PROPVARIANT owned;
        const HRESULT hr = PropVariantCopy(&owned, pValue);
        if (FAILED(hr)) {
            return hr;
        }
        Store(key, owned);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* pValue) override {
        if (pValue == nullptr) {
            return E_POINTER;
        }
        PropVariantInit(pValue);
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::GetValue");
        std::lock_guard<std::mutex> lock(mutex_);
        const Entry* entry = Find(key);
        if (entry == nullptr) {
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        return PropVariantCopy(pValue, &entry->Value());
    }

    HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR Value) override {
        if (Value == nullptr) {
            return E_POINTER;
        }
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::SetStringValue");
        PROPVARIANT owned;
        PropVariantInit(&owned);
        const HRESULT hr = SHStrDupW(Value, &owned.pwszVal);
        if (FAILED(hr)) {
            return hr;
        }
        owned.vt = VT_LPWSTR;
        Store(key, owned);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                      const ULONG Value) override {
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::SetUnsignedIntegerValue");
        return StoreScalar(key, VT_UI4, [&](PROPVARIANT& v) { v.ulVal = Value; });
    }
    HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key, const HRESULT Value) override {
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::SetErrorValue");
        return StoreScalar(key, VT_ERROR, [&](PROPVARIANT& v) { v.scode = Value; });
    }
    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID Value) override {
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValues::SetGuidValue");
        auto* guid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        if (guid == nullptr) {
            return E_OUTOFMEMORY;
        }
        *guid = Value;
        return StoreScalar(key, VT_CLSID, [&](PROPVARIANT& v) { v.puuid = guid; });
    }

    // No program calls the methods below: each keeps its slot of the interface's table and
    // answers E_NOTIMPL.
    ZNTR_COM_NOT_IMPLEMENTED(GetStringValue, REFPROPERTYKEY, LPWSTR*)
    ZNTR_COM_NOT_IMPLEMENTED(GetUnsignedIntegerValue, REFPROPERTYKEY, ULONG*)
    ZNTR_COM_NOT_IMPLEMENTED(SetSignedIntegerValue, REFPROPERTYKEY, const LONG)
    ZNTR_COM_NOT_IMPLEMENTED(GetSignedIntegerValue, REFPROPERTYKEY, LONG*)
    ZNTR_COM_NOT_IMPLEMENTED(SetUnsignedLargeIntegerValue, REFPROPERTYKEY, const ULONGLONG)
    ZNTR_COM_NOT_IMPLEMENTED(GetUnsignedLargeIntegerValue, REFPROPERTYKEY, ULONGLONG*)
    ZNTR_COM_NOT_IMPLEMENTED(SetSignedLargeIntegerValue, REFPROPERTYKEY, const LONGLONG)
    ZNTR_COM_NOT_IMPLEMENTED(GetSignedLargeIntegerValue, REFPROPERTYKEY, LONGLONG*)
    ZNTR_COM_NOT_IMPLEMENTED(SetFloatValue, REFPROPERTYKEY, const FLOAT)
    ZNTR_COM_NOT_IMPLEMENTED(GetFloatValue, REFPROPERTYKEY, FLOAT*)
    ZNTR_COM_NOT_IMPLEMENTED(GetErrorValue, REFPROPERTYKEY, HRESULT*)
    ZNTR_COM_NOT_IMPLEMENTED(SetKeyValue, REFPROPERTYKEY, REFPROPERTYKEY)
    ZNTR_COM_NOT_IMPLEMENTED(GetKeyValue, REFPROPERTYKEY, PROPERTYKEY*)
    ZNTR_COM_NOT_IMPLEMENTED(SetBoolValue, REFPROPERTYKEY, const BOOL)
    ZNTR_COM_NOT_IMPLEMENTED(GetBoolValue, REFPROPERTYKEY, BOOL*)
    ZNTR_COM_NOT_IMPLEMENTED(SetIUnknownValue, REFPROPERTYKEY, IUnknown*)
    ZNTR_COM_NOT_IMPLEMENTED(GetIUnknownValue, REFPROPERTYKEY, IUnknown**)
    ZNTR_COM_NOT_IMPLEMENTED(GetGuidValue, REFPROPERTYKEY, GUID*)
    ZNTR_COM_NOT_IMPLEMENTED(SetBufferValue, REFPROPERTYKEY, BYTE*, DWORD)
    ZNTR_COM_NOT_IMPLEMENTED(GetBufferValue, REFPROPERTYKEY, BYTE**, DWORD*)
    ZNTR_COM_NOT_IMPLEMENTED(SetIPortableDeviceValuesValue, REFPROPERTYKEY, IPortableDeviceValues*)
    ZNTR_COM_NOT_IMPLEMENTED(GetIPortableDeviceValuesValue, REFPROPERTYKEY, IPortableDeviceValues**)
    ZNTR_COM_NOT_IMPLEMENTED(SetIPortableDevicePropVariantCollectionValue, REFPROPERTYKEY,
                             IPortableDevicePropVariantCollection*)
    ZNTR_COM_NOT_IMPLEMENTED(GetIPortableDevicePropVariantCollectionValue, REFPROPERTYKEY,
                             IPortableDevicePropVariantCollection**)
    ZNTR_COM_NOT_IMPLEMENTED(SetIPortableDeviceKeyCollectionValue, REFPROPERTYKEY,
                             IPortableDeviceKeyCollection*)
    ZNTR_COM_NOT_IMPLEMENTED(GetIPortableDeviceKeyCollectionValue, REFPROPERTYKEY,
                             IPortableDeviceKeyCollection**)
    ZNTR_COM_NOT_IMPLEMENTED(SetIPortableDeviceValuesCollectionValue, REFPROPERTYKEY,
                             IPortableDeviceValuesCollection*)
    ZNTR_COM_NOT_IMPLEMENTED(GetIPortableDeviceValuesCollectionValue, REFPROPERTYKEY,
                             IPortableDeviceValuesCollection**)
    ZNTR_COM_NOT_IMPLEMENTED(RemoveValue, REFPROPERTYKEY)
    ZNTR_COM_NOT_IMPLEMENTED(CopyValuesFromPropertyStore, IPropertyStore*)
    ZNTR_COM_NOT_IMPLEMENTED(CopyValuesToPropertyStore, IPropertyStore*)

    HRESULT STDMETHODCALLTYPE Clear() override {
        std::vector<Entry> removed;  // cleared after the lock is left
        std::lock_guard<std::mutex> lock(mutex_);
        removed.swap(entries_);
        return S_OK;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IPortableDeviceValues); }

  private:
    ~PortableDeviceValues() override = default;

    Entry* Find(REFPROPERTYKEY key) {
        for (Entry& entry : entries_) {
            if (IsEqualPropertyKey(entry.Key(), key)) {
                return &entry;
            }
        }
        return nullptr;
    }

    // Takes over owned: replaces the key's value where it stands, or appends the key. The value
    // it replaces is cleared after the lock is left, since releasing an interface it holds may
    // run any code.
    void Store(REFPROPERTYKEY key, PROPVARIANT& owned) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (Entry* entry = Find(key)) {
                entry->Replace(owned);
            } else {
                entries_.emplace_back(key, owned);
                PropVariantInit(&owned);
            }
        }
        PropVariantClear(&owned);
    }

    template <typename Fill>
    HRESULT StoreScalar(REFPROPERTYKEY key, VARTYPE vt, Fill fill) {
        PROPVARIANT owned;
        PropVariantInit(&owned);
        owned.vt = vt;
        fill(owned);
        Store(key, owned);
        return S_OK;
    }

    std::mutex mutex_;
    std::vector<Entry> entries_;
};

HRESULT CreatePortableDeviceValues(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (pUnkOuter != nullptr) {
        if (ppv != nullptr) {
            *ppv = nullptr;
        }
        return CLASS_E_NOAGGREGATION;
    }
    return CreateComObject<PortableDeviceValues>(riid, ppv);
}

const bool kRegistered =
    RegisterPlatformClass(CLSID_PortableDeviceValues, &CreatePortableDeviceValues);

}  // namespace
}  // namespace zntr::platform::detail
