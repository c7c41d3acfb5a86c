// PortableDeviceKeyCollection (property keys in the order added, duplicates kept) and
// PortableDeviceValuesCollection (references to values objects in the order added). Each is
// safe to use from several threads.
#include <mutex>
#include <utility>
#include <vector>

#include "com_internal.h"
#include "standin/com_helpers.h"
#include "standin/portabledevicetypes.h"
#include "standin/wrl_client.h"

namespace zntr::platform::detail {
namespace {

class PortableDeviceKeyCollection final : public ComObject<IPortableDeviceKeyCollection> {
  public:
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) override {
        if (pcElems == nullptr) {
            return E_POINTER;
        }
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceKeyCollection::GetCount");
        std::lock_guard<std::mutex> lock(mutex_);
        *pcElems = static_cast<DWORD>(keys_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex, PROPERTYKEY* pKey) override {
        if (pKey == nullptr) {
            return E_POINTER;
        }
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceKeyCollection::GetAt");
        std::lock_guard<std::mutex> lock(mutex_);
        if (dwIndex >= keys_.size()) {
            return E_INVALIDARG;
        }
        *pKey = keys_[dwIndex];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY Key) override {
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceKeyCollection::Add");
        std::lock_guard<std::mutex> lock(mutex_);
        keys_.push_back(Key);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        std::lock_guard<std::mutex> lock(mutex_);
        keys_.clear();
        return S_OK;
    }
    // No program calls this.
    ZNTR_COM_NOT_IMPLEMENTED(RemoveAt, const DWORD)

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IPortableDeviceKeyCollection);
    }

  private:
    ~PortableDeviceKeyCollection() override = default;

    std::mutex mutex_;
    std::vector<PROPERTYKEY> keys_;
};

class PortableDeviceValuesCollection final : public ComObject<IPortableDeviceValuesCollection> {
  public:
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) override {
        if (pcElems == nullptr) {
            return E_POINTER;
        }
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValuesCollection::GetCount");
        std::lock_guard<std::mutex> lock(mutex_);
        *pcElems = static_cast<DWORD>(values_.size());
        return S_OK;
    }
    // A further reference for the caller.
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex,
                                    IPortableDeviceValues** ppValues) override {
        if (ppValues == nullptr) {
            return E_POINTER;
        }
        *ppValues = nullptr;
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValuesCollection::GetAt");
        std::lock_guard<std::mutex> lock(mutex_);
        if (dwIndex >= values_.size()) {
            return E_INVALIDARG;
        }
        return values_[dwIndex].CopyTo(ppValues);
    }
    // Holds a reference to the object, not a copy: later changes to it show in the collection.
    HRESULT STDMETHODCALLTYPE Add(IPortableDeviceValues* pValues) override {
        if (pValues == nullptr) {
            return E_POINTER;
        }
        ZNTR_RETURN_IF_INJECTED("IPortableDeviceValuesCollection::Add");
        std::lock_guard<std::mutex> lock(mutex_);
        values_.emplace_back(pValues);
        return S_OK;
    }
    // No program calls these.
    ZNTR_COM_NOT_IMPLEMENTED(Clear)
    ZNTR_COM_NOT_IMPLEMENTED(RemoveAt, const DWORD)

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IPortableDeviceValuesCollection);
    }

  private:
    ~PortableDeviceValuesCollection() override = default;

    std::mutex mutex_;
    std::vector<Microsoft::WRL::ComPtr<IPortableDeviceValues>> values_;
};

template <typename Object>
HRESULT CreateUnaggregated(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (pUnkOuter != nullptr) {
        if (ppv != nullptr) {
            *ppv = nullptr;
        }
        return CLASS_E_NOAGGREGATION;
    }
    return CreateComObject<Object>(riid, ppv);
}

const bool kKeyCollectionRegistered = RegisterPlatformClass(
    CLSID_PortableDeviceKeyCollection, &CreateUnaggregated<PortableDeviceKeyCollection>);
const bool kValuesCollectionRegistered = RegisterPlatformClass(
    CLSID_PortableDeviceValuesCollection, &CreateUnaggregated<PortableDeviceValuesCollection>);

}  // namespace
}  // namespace zntr::platform::detail
