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
#include "standin/propvarutil.h"
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

// The value of SetKeyValue: the key travels as an interface (VT_UNKNOWN), as the collection's
// documentation gives it; GetKeyValue recognises this object and reads the key back.
class KeyValueObject final : public ComObject<IUnknown> {
  public:
    explicit KeyValueObject(REFPROPERTYKEY key) : key_(key) {}
    const PROPERTYKEY& Key() const { return key_; }

  protected:
    bool Answers(REFIID) const override { return false; }

  private:
    const PROPERTYKEY key_;
};

class PortableDeviceValues final : public ComObject<IPortableDeviceValues> {
  public:
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcelt) override {
        if (pcelt == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        *pcelt = static_cast<DWORD>(entries_.size());
        return S_OK;
    }

    // Both out-parameters are optional; the value is a copy for the caller.
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* pKey,
                                    PROPVARIANT* pValue) override {
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
    HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR* pValue) override {
        if (pValue == nullptr) {
            return E_POINTER;
        }
        *pValue = nullptr;
        PropVariant value;
        HRESULT hr = GetTyped(key, VT_LPWSTR, value);
        if (SUCCEEDED(hr)) {
            // The copy's string goes to the caller, who frees it with CoTaskMemFree.
            *pValue = value.pwszVal;
            value.vt = VT_EMPTY;
            if (*pValue == nullptr) {
                hr = SHStrDupW(L"", pValue);
            }
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                      const ULONG Value) override {
        return StoreScalar(key, VT_UI4, [&](PROPVARIANT& v) { v.ulVal = Value; });
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG* pValue) override {
        return ReadScalar(key, VT_UI4, pValue, [](const PROPVARIANT& v) { return v.ulVal; });
    }
    HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key, const LONG Value) override {
        return StoreScalar(key, VT_I4, [&](PROPVARIANT& v) { v.lVal = Value; });
    }
    HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key, LONG* pValue) override {
        return ReadScalar(key, VT_I4, pValue, [](const PROPVARIANT& v) { return v.lVal; });
    }
    HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                           const ULONGLONG Value) override {
        return StoreScalar(key, VT_UI8, [&](PROPVARIANT& v) { v.uhVal.QuadPart = Value; });
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                           ULONGLONG* pValue) override {
        return ReadScalar(key, VT_UI8, pValue,
                          [](const PROPVARIANT& v) { return v.uhVal.QuadPart; });
    }
    HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                         const LONGLONG Value) override {
        return StoreScalar(key, VT_I8, [&](PROPVARIANT& v) { v.hVal.QuadPart = Value; });
    }
    HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                         LONGLONG* pValue) override {
        return ReadScalar(key, VT_I8, pValue, [](const PROPVARIANT& v) { return v.hVal.QuadPart; });
    }
    // There is no setter for doubles: a VT_R8 value goes in through SetValue.
    HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key, const FLOAT Value) override {
        return StoreScalar(key, VT_R4, [&](PROPVARIANT& v) { v.fltVal = Value; });
    }
    HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key, FLOAT* pValue) override {
        return ReadScalar(key, VT_R4, pValue, [](const PROPVARIANT& v) { return v.fltVal; });
    }
    HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key, const HRESULT Value) override {
        return StoreScalar(key, VT_ERROR, [&](PROPVARIANT& v) { v.scode = Value; });
    }
    HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key, HRESULT* pValue) override {
        return ReadScalar(key, VT_ERROR, pValue, [](const PROPVARIANT& v) { return v.scode; });
    }
    HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key, const BOOL Value) override {
        return StoreScalar(key, VT_BOOL, [&](PROPVARIANT& v) {
            v.boolVal = Value ? VARIANT_TRUE : VARIANT_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key, BOOL* pValue) override {
        return ReadScalar(key, VT_BOOL, pValue, [](const PROPVARIANT& v) -> BOOL {
            return v.boolVal != VARIANT_FALSE ? TRUE : FALSE;
        });
    }

    HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY key, REFPROPERTYKEY Value) override {
        ComObject<IUnknown>* object = new (std::nothrow) KeyValueObject(Value);
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = SetIUnknownValue(key, object);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY key, PROPERTYKEY* pValue) override {
        if (pValue == nullptr) {
            return E_POINTER;
        }
        PropVariant value;
        HRESULT hr = GetTyped(key, VT_UNKNOWN, value);
        if (SUCCEEDED(hr)) {
            const auto* object = dynamic_cast<const KeyValueObject*>(value.punkVal);
            if (object == nullptr) {
                return DISP_E_TYPEMISMATCH;
            }
            *pValue = object->Key();
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key, IUnknown* pValue) override {
        if (pValue == nullptr) {
            return E_POINTER;
        }
        pValue->AddRef();
        return StoreScalar(key, VT_UNKNOWN, [&](PROPVARIANT& v) { v.punkVal = pValue; });
    }
    HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key, IUnknown** ppValue) override {
        return GetInterface(key, IID_IUnknown, ppValue);
    }

    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID Value) override {
        auto* guid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        if (guid == nullptr) {
            return E_OUTOFMEMORY;
        }
        *guid = Value;
        return StoreScalar(key, VT_CLSID, [&](PROPVARIANT& v) { v.puuid = guid; });
    }
    HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID* pValue) override {
        if (pValue == nullptr) {
            return E_POINTER;
        }
        PropVariant value;
        const HRESULT hr = GetTyped(key, VT_CLSID, value);
        if (SUCCEEDED(hr)) {
            *pValue = value.puuid != nullptr ? *value.puuid : GUID_NULL;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE* pValue,
                                             DWORD cbValue) override {
        if (pValue == nullptr && cbValue != 0) {
            return E_POINTER;
        }
        PROPVARIANT owned;
        const HRESULT hr = InitPropVariantFromBuffer(pValue, cbValue, &owned);
        if (FAILED(hr)) {
            return hr;
        }
        Store(key, owned);
        return S_OK;
    }
    // The bytes are a CoTaskMemAlloc block for the caller.
    HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE** ppValue,
                                             DWORD* pcbValue) override {
        if (ppValue == nullptr || pcbValue == nullptr) {
            return E_POINTER;
        }
        *ppValue = nullptr;
        *pcbValue = 0;
        PropVariant value;
        const HRESULT hr = GetTyped(key, VT_VECTOR | VT_UI1, value);
        if (SUCCEEDED(hr)) {
            *pcbValue = value.caub.cElems;
            *ppValue = value.caub.pElems;
            value.vt = VT_EMPTY;
            if (*ppValue == nullptr &&
                (*ppValue = static_cast<BYTE*>(CoTaskMemAlloc(0))) == nullptr) {
                *pcbValue = 0;
                return E_OUTOFMEMORY;
            }
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE
    SetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues* pValue) override {
        return SetIUnknownValue(key, pValue);
    }
    HRESULT STDMETHODCALLTYPE
    GetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues** ppValue) override {
        return GetInterface(key, IID_IPortableDeviceValues, ppValue);
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection* pValue) override {
        // The collection's declaration is not known here; it is an interface all the same.
        return SetIUnknownValue(key, reinterpret_cast<IUnknown*>(pValue));
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection** ppValue) override {
        return GetInterface(key, IID_IPortableDevicePropVariantCollection, ppValue);
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection* pValue) override {
        return SetIUnknownValue(key, pValue);
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection** ppValue) override {
        return GetInterface(key, IID_IPortableDeviceKeyCollection, ppValue);
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection* pValue) override {
        return SetIUnknownValue(key, pValue);
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection** ppValue) override {
        return GetInterface(key, IID_IPortableDeviceValuesCollection, ppValue);
    }

    HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override {
        std::vector<Entry> removed;  // cleared after the lock is left
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (IsEqualPropertyKey(it->Key(), key)) {
                removed.push_back(std::move(*it));
                entries_.erase(it);
                return S_OK;
            }
        }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }

    // Every key the store holds, with its value, in the store's order; stops at the first
    // failure and returns it.
    HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore* pStore) override {
        if (pStore == nullptr) {
            return E_POINTER;
        }
        DWORD count = 0;
        HRESULT hr = pStore->GetCount(&count);
        for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
            PROPERTYKEY key;
            hr = pStore->GetAt(i, &key);
            if (SUCCEEDED(hr)) {
                PropVariant value;
                hr = pStore->GetValue(key, &value);
                if (SUCCEEDED(hr)) {
                    hr = SetValue(key, &value);
                }
            }
        }
        return hr;
    }
    // Every entry, in order, stopping at the first failure; the store is called without this
    // collection's lock held.
    HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore* pStore) override {
        if (pStore == nullptr) {
            return E_POINTER;
        }
        std::vector<Entry> snapshot;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const Entry& entry : entries_) {
                PROPVARIANT copy;
                const HRESULT hr = PropVariantCopy(&copy, &entry.Value());
                if (FAILED(hr)) {
                    return hr;
                }
                snapshot.emplace_back(entry.Key(), copy);
            }
        }
        HRESULT hr = S_OK;
        for (size_t i = 0; SUCCEEDED(hr) && i < snapshot.size(); ++i) {
            hr = pStore->SetValue(snapshot[i].Key(), snapshot[i].Value());
        }
        return hr;
    }

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

    // A copy of the key's value if it has the type; DISP_E_TYPEMISMATCH if it has another.
    HRESULT GetTyped(REFPROPERTYKEY key, VARTYPE vt, PROPVARIANT& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        const Entry* entry = Find(key);
        if (entry == nullptr) {
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        if (entry->Value().vt != vt) {
            return DISP_E_TYPEMISMATCH;
        }
        return PropVariantCopy(&value, &entry->Value());
    }

    template <typename T, typename Read>
    HRESULT ReadScalar(REFPROPERTYKEY key, VARTYPE vt, T* pValue, Read read) {
        if (pValue == nullptr) {
            return E_POINTER;
        }
        PropVariant value;
        const HRESULT hr = GetTyped(key, vt, value);
        if (SUCCEEDED(hr)) {
            *pValue = read(value);
        }
        return hr;
    }

    // The interface riid of a VT_UNKNOWN value; a value of another type, or an object that does
    // not answer riid, is a type mismatch.
    template <typename T>
    HRESULT GetInterface(REFPROPERTYKEY key, REFIID riid, T** ppValue) {
        if (ppValue == nullptr) {
            return E_POINTER;
        }
        *ppValue = nullptr;
        PropVariant value;
        const HRESULT hr = GetTyped(key, VT_UNKNOWN, value);
        if (FAILED(hr)) {
            return hr;
        }
        if (value.punkVal == nullptr ||
            FAILED(value.punkVal->QueryInterface(riid, reinterpret_cast<void**>(ppValue)))) {
            return DISP_E_TYPEMISMATCH;
        }
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
