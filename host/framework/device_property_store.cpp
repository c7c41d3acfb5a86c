#include "device_property_store.h"

#include <utility>

#include "standin/com_helpers.h"

namespace zntr::host {
namespace {

class NamedPropertyStore final : public zntr::platform::ComObject<IWDFNamedPropertyStore> {
  public:
    explicit NamedPropertyStore(std::shared_ptr<DeviceState> state) : state_(std::move(state)) {}

    HRESULT STDMETHODCALLTYPE GetNamedValue(LPCWSTR pszName, PROPVARIANT* pv) override {
        if (pszName == nullptr) {
            return E_INVALIDARG;
        }
        return pv == nullptr ? E_POINTER : state_->GetValue(pszName, *pv);
    }
    HRESULT STDMETHODCALLTYPE SetNamedValue(LPCWSTR pszName, const PROPVARIANT* pv) override {
        if (pszName == nullptr) {
            return E_INVALIDARG;
        }
        return pv == nullptr ? E_POINTER : state_->SetValue(pszName, *pv);
    }
    // Drivers look their values up by name; no driver of this host lists them.
    HRESULT STDMETHODCALLTYPE GetNameCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNameAt(DWORD, PWSTR*) override { return E_NOTIMPL; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFNamedPropertyStore);
    }

  private:
    ~NamedPropertyStore() override = default;

    const std::shared_ptr<DeviceState> state_;
};

}  // namespace

HRESULT RetrieveDevicePropertyStore(const std::shared_ptr<DeviceState>& state,
                                    PCWSTR pcwszServiceName,
                                    WDF_PROPERTY_STORE_RETRIEVE_FLAGS /*Flags*/,
                                    IWDFNamedPropertyStore** ppPropStore,
                                    WDF_PROPERTY_STORE_DISPOSITION* pDisposition) {
    if (ppPropStore == nullptr) {
        return E_POINTER;
    }
    *ppPropStore = nullptr;
    if (pcwszServiceName != nullptr) {
        return E_NOTIMPL;
    }
    if (pDisposition != nullptr) {
        *pDisposition = OpenedExistingStore;
    }
    return zntr::platform::CreateComObject<NamedPropertyStore>(
        IID_IWDFNamedPropertyStore, reinterpret_cast<void**>(ppPropStore), state);
}

}  // namespace zntr::host
