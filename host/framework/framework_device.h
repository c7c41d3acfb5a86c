// The framework device (IWDFDevice2) of a device the driver added: its property store, its
// default queue, the driver's device callbacks, and the system power action while a power change
// is under way. The device lifecycle (device_lifecycle.h) drives the
// callbacks; the host's server submits the clients' requests and cleans up their files.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_state.h"
#include "framework_file.h"
#include "framework_object.h"
#include "framework_queue.h"
#include "framework_request.h"
#include "worker_pool.h"

namespace zntr::host {

// The callback interfaces the framework found on the device's callback object; each may be null.
struct DeviceCallbacks {
    Microsoft::WRL::ComPtr<IUnknown> object;
    Microsoft::WRL::ComPtr<IPnpCallbackHardware> hardware;
    Microsoft::WRL::ComPtr<IPnpCallback> pnp;
    Microsoft::WRL::ComPtr<IFileCallbackCleanup> cleanup;
};

class FrameworkDevice final : public FrameworkObject<IWDFDevice2> {
  public:
    // A device of the driver (may be null) with the callback object the driver gave (may be
    // null), whose named values live in `state`. Its callbacks are never serialised: the drivers
    // this host serves ask for no locking (a locking constraint of None).
    static Microsoft::WRL::ComPtr<FrameworkDevice> Create(std::wstring instanceId,
                                                          std::shared_ptr<DeviceState> state,
                                                          IWDFDriver* driver,
                                                          IUnknown* callbackObject);

    // IWDFDevice
    HRESULT STDMETHODCALLTYPE
    RetrieveDevicePropertyStore(PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
                                IWDFNamedPropertyStore** ppPropStore,
                                WDF_PROPERTY_STORE_DISPOSITION* pDisposition) override;
    void STDMETHODCALLTYPE GetDriver(IWDFDriver** ppWdfDriver) override;
    HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR Buffer,
                                                       DWORD* pdwSizeInChars) override;
    // The device has no lower driver, so no I/O target, and no driver-created files.
    void STDMETHODCALLTYPE GetDefaultIoTarget(IWDFIoTarget** ppWdfIoTarget) override;
    HRESULT STDMETHODCALLTYPE CreateWdfFile(PCWSTR, IWDFDriverCreatedFile**) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE GetDefaultIoQueue(IWDFIoQueue** ppWdfIoQueue) override;
    // The one default queue: parallel, not power-managed, taking zero-length requests (the
    // queue drivers of this host make); any other kind is E_NOTIMPL, a second default queue
    // HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS). The framework keeps the queue: ppIoQueue may be
    // null.
    HRESULT STDMETHODCALLTYPE CreateIoQueue(IUnknown* pCallbackInterface, BOOL bDefaultQueue,
                                            WDF_IO_QUEUE_DISPATCH_TYPE DispatchType,
                                            BOOL bPowerManaged, BOOL bAllowZeroLengthRequests,
                                            IWDFIoQueue** ppIoQueue) override;
    // The host's clients reach the device through its socket, so device interfaces, symbolic
    // links, routing to other queues, Plug and Play state overrides, device events and
    // driver-made requests have no place here: those methods answer E_NOTIMPL or do nothing.
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
    HRESULT STDMETHODCALLTYPE CommitPnpState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateRequest(IUnknown*, IWDFObject*, IWDFIoRequest**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateSymbolicLink(PCWSTR) override { return E_NOTIMPL; }

    // IWDFDevice2. This host never idles a device or arms it for wake, and has no remote
    // interfaces: those methods answer E_NOTIMPL.
    HRESULT STDMETHODCALLTYPE AssignS0IdleSettings(WDF_POWER_POLICY_S0_IDLE_CAPABILITIES,
                                                   DEVICE_POWER_STATE, ULONG,
                                                   WDF_POWER_POLICY_S0_IDLE_USER_CONTROL,
                                                   WDF_TRI_STATE) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE StopIdle(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ResumeIdle() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateSymbolicLinkWithReferenceString(PCWSTR, PCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterRemoteInterfaceNotification(LPCGUID, BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateRemoteInterface(IWDFRemoteInterfaceInitialize*, IUnknown*,
                                                    IWDFRemoteInterface**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateRemoteTarget(IUnknown*, IWDFObject*,
                                                 IWDFRemoteTarget**) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE GetDeviceStackIoTypePreference(WDF_DEVICE_IO_BUFFER_RETRIEVAL*,
                                                          WDF_DEVICE_IO_TYPE*,
                                                          WDF_DEVICE_IO_TYPE*) override {}
    HRESULT STDMETHODCALLTYPE AssignSxWakeSettings(DEVICE_POWER_STATE,
                                                   WDF_POWER_POLICY_SX_WAKE_USER_CONTROL,
                                                   WDF_TRI_STATE) override {
        return E_NOTIMPL;
    }
    // The action of the power change under way; PowerActionNone outside one.
    POWER_ACTION STDMETHODCALLTYPE GetSystemPowerAction() override;

    // For the framework.
    DeviceCallbacks Callbacks() const;
    const std::wstring& InstanceId() const { return instanceId_; }
    WorkerPool& Workers() { return *workers_; }

    void SetSystemPowerAction(POWER_ACTION action);
    // A removed device takes no new opens: their create requests are completed by the
    // framework with HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED).
    void SetRemoved(bool removed);

    // Hands a client's request to the default queue. Without a queue the framework completes it
    // itself: a create with S_OK, anything else with HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED). The
    // request counts as outstanding until it is completed.
    void Submit(Microsoft::WRL::ComPtr<FrameworkRequest> request);

    // Runs the cleanup of a file on a worker, once no callback of the file's requests is
    // running: the callback object's OnCleanupFile, then the framework lets go of the file.
    // Requests of the file that the driver holds are left with it. `done` runs afterwards.
    void CleanupFile(Microsoft::WRL::ComPtr<FrameworkFile> file, std::function<void()> done);

    // Requests handed to the device and not completed yet.
    std::size_t OutstandingRequests() const;

    // The framework deletes the device: its queue lets go of its callback object, the
    // device of its own callback object and driver, and the workers end once every callback
    // has returned. Requests still outstanding are released without a completion; their count
    // is returned (a driver that keeps requests past its device's removal is at fault).
    std::size_t Delete();

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFDevice) || IsEqualIID(riid, IID_IWDFDevice2) ||
               FrameworkObject::Answers(riid);
    }

  private:
    FrameworkDevice() = default;
    ~FrameworkDevice() override = default;

    std::wstring instanceId_;
    std::shared_ptr<DeviceState> state_;
    std::unique_ptr<WorkerPool> workers_;
    std::atomic<POWER_ACTION> powerAction_{PowerActionNone};
    std::atomic<bool> removed_{false};

    mutable std::mutex mutex_;
    // Strong references, dropped by Delete(): the driver and the callback object live at
    // least as long as the device, as under the framework.
    Microsoft::WRL::ComPtr<IWDFDriver> driver_;
    DeviceCallbacks callbacks_;
    Microsoft::WRL::ComPtr<FrameworkQueue> defaultQueue_;
    bool deleted_ = false;
    std::map<std::uint64_t, Microsoft::WRL::ComPtr<FrameworkRequest>> outstanding_;
};

// A device for the instance ID with no driver behind it, whose named values persist in a file
// under stateFolder (an empty folder keeps them in memory only, for tools and tests). Fails when
// the device's state file cannot be read.
HRESULT CreateFrameworkDevice(const std::wstring& deviceInstanceId,
                              const std::filesystem::path& stateFolder, IWDFDevice** ppDevice);

}  // namespace zntr::host
