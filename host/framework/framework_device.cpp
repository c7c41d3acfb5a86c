#include "framework_device.h"

#include <memory>
#include <mutex>
#include <utility>

#include "device_property_store.h"
#include "standin/com_helpers.h"

namespace zntr::host {
namespace {

class FrameworkDevice final : public zntr::platform::ComObject<IWDFDevice> {
  public:
    explicit FrameworkDevice(std::shared_ptr<DeviceState> state) : state_(std::move(state)) {}

    // Deleting a device is the framework's part of the device's lifecycle, which the host runs.
    HRESULT STDMETHODCALLTYPE DeleteWdfObject() override { return E_NOTIMPL; }

    // One context per object; a second assignment is refused. The cleanup callback belongs to
    // the object's deletion, which the host runs.
    HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup* /*pCleanupCallback*/,
                                            void* ContextData) override {
        std::lock_guard<std::mutex> lock(contextMutex_);
        if (contextAssigned_) {
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
        context_ = ContextData;
        contextAssigned_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RetrieveContext(void** ppvContextData) override {
        if (ppvContextData == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(contextMutex_);
        *ppvContextData = context_;
        return contextAssigned_ ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    // The object's lock, which the framework also takes around callbacks it serialises.
    void STDMETHODCALLTYPE AcquireLock() override { objectLock_.lock(); }
    void STDMETHODCALLTYPE ReleaseLock() override { objectLock_.unlock(); }

    HRESULT STDMETHODCALLTYPE
    RetrieveDevicePropertyStore(PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
                                IWDFNamedPropertyStore** ppPropStore,
                                WDF_PROPERTY_STORE_DISPOSITION* pDisposition) override {
        return zntr::host::RetrieveDevicePropertyStore(state_, pcwszServiceName, Flags, ppPropStore,
                                                       pDisposition);
    }

    // The rest of the device comes with the framework host's device; until then it answers
    // E_NOTIMPL, nothing or null.
    void STDMETHODCALLTYPE GetDriver(IWDFDriver** ppWdfDriver) override { *ppWdfDriver = nullptr; }
    HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR, DWORD*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDefaultIoTarget(IWDFIoTarget** ppWdfIoTarget) override {
        *ppWdfIoTarget = nullptr;
    }
    HRESULT STDMETHODCALLTYPE CreateWdfFile(PCWSTR, IWDFDriverCreatedFile**) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE GetDefaultIoQueue(IWDFIoQueue** ppWdfIoQueue) override {
        *ppWdfIoQueue = nullptr;
    }
    HRESULT STDMETHODCALLTYPE CreateIoQueue(IUnknown*, BOOL, WDF_IO_QUEUE_DISPATCH_TYPE, BOOL, BOOL,
                                            IWDFIoQueue**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateDeviceInterface(LPCGUID, PCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AssignDeviceInterfaceState(LPCGUID, PCWSTR, BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RetrieveDeviceName(PWSTR, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostEvent(REFGUID, WDF_EVENT_TYPE, BYTE*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ConfigureRequestDispatching(IWDFIoQueue*, WDF_REQUEST_TYPE,
                                                          BOOL) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE SetPnpState(WDF_PNP_STATE, WDF_TRI_STATE) override {}
    WDF_TRI_STATE STDMETHODCALLTYPE GetPnpState(WDF_PNP_STATE) override { return WdfUseDefault; }
    HRESULT STDMETHODCALLTYPE CommitPnpState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateRequest(IUnknown*, IWDFObject*, IWDFIoRequest**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateSymbolicLink(PCWSTR) override { return E_NOTIMPL; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFDevice);
    }

  private:
    ~FrameworkDevice() override = default;

    const std::shared_ptr<DeviceState> state_;
    std::recursive_mutex objectLock_;
    std::mutex contextMutex_;
    bool contextAssigned_ = false;
    void* context_ = nullptr;
};

}  // namespace

HRESULT CreateFrameworkDevice(const std::wstring& deviceInstanceId,
                              const std::filesystem::path& stateFolder, IWDFDevice** ppDevice) {
    if (ppDevice == nullptr) {
        return E_POINTER;
    }
    *ppDevice = nullptr;
    std::shared_ptr<DeviceState> state;
    const HRESULT hr = DeviceState::Open(deviceInstanceId, stateFolder, state);
    if (FAILED(hr)) {
        return hr;
    }
    return zntr::platform::CreateComObject<FrameworkDevice>(
        IID_IWDFDevice, reinterpret_cast<void**>(ppDevice), std::move(state));
}

}  // namespace zntr::host
