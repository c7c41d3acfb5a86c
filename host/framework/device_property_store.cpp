#include "device_property_store.h"

#include <cstring>
#include <utility>

#include "standin/com_helpers.h"
#include "standin/shlwapi.h"

namespace zntr::host {
namespace {

class NamedPropertyStore final : public zntr::platform::ComObject<IWDFNamedPropertyStore> {
  public:
    NamedPropertyStore(std::shared_ptr<DeviceState> state, std::wstring service)
        : state_(std::move(state)), service_(std::move(service)) {}

    HRESULT STDMETHODCALLTYPE GetNamedValue(LPCWSTR pszName, PROPVARIANT* pv) override {
        if (pszName == nullptr) {
            return E_INVALIDARG;
        }
        if (pv == nullptr) {
            return E_POINTER;
        }
        return state_->GetValue(service_, pszName, *pv);
    }
    HRESULT STDMETHODCALLTYPE SetNamedValue(LPCWSTR pszName, const PROPVARIANT* pv) override {
        if (pszName == nullptr) {
            return E_INVALIDARG;
        }
        if (pv == nullptr) {
            return E_POINTER;
        }
        return state_->SetValue(service_, pszName, *pv);
    }
    HRESULT STDMETHODCALLTYPE GetNameCount(DWORD* pdwCount) override {
        if (pdwCount == nullptr) {
            return E_POINTER;
        }
        return state_->GetNameCount(service_, *pdwCount);
    }
    // The name is allocated with CoTaskMemAlloc for the caller to free.
    HRESULT STDMETHODCALLTYPE GetNameAt(DWORD index, PWSTR* pName) override {
        if (pName == nullptr) {
            return E_POINTER;
        }
        *pName = nullptr;
        std::wstring name;
        const HRESULT hr = state_->GetNameAt(service_, index, name);
        return FAILED(hr) ? hr : SHStrDupW(name.c_str(), pName);
    }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFNamedPropertyStore);
    }

  private:
    ~NamedPropertyStore() override = default;

    const std::shared_ptr<DeviceState> state_;
    const std::wstring service_;
};

}  // namespace

HRESULT CreateNamedPropertyStore(std::shared_ptr<DeviceState> state, std::wstring service,
                                 IWDFNamedPropertyStore** ppStore) {
    return zntr::platform::CreateComObject<NamedPropertyStore>(
        IID_IWDFNamedPropertyStore, reinterpret_cast<void**>(ppStore), std::move(state),
        std::move(service));
}

HRESULT RetrieveDevicePropertyStore(const std::shared_ptr<DeviceState>& state,
                                    PCWSTR pcwszServiceName,
                                    WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
                                    IWDFNamedPropertyStore** ppPropStore,
                                    WDF_PROPERTY_STORE_DISPOSITION* pDisposition) {
    if (ppPropStore == nullptr) {
        return E_POINTER;
    }
    *ppPropStore = nullptr;
    const std::wstring service = pcwszServiceName != nullptr ? pcwszServiceName : L"";
    WDF_PROPERTY_STORE_DISPOSITION disposition = OpenedExistingStore;
    HRESULT hr = state->OpenStore(service, Flags, disposition);
    if (SUCCEEDED(hr)) {
        hr = CreateNamedPropertyStore(state, service, ppPropStore);
    }
    if (SUCCEEDED(hr) && pDisposition != nullptr) {
        *pDisposition = disposition;
    }
    return hr;
}

}  // namespace zntr::host
