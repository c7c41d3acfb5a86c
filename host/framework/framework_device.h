// The framework device (IWDFDevice2) of a device the driver added: its property store, its
// queues, the request routing to them, the driver's device callbacks, and the system power action
// while a power change is under way. The device lifecycle (device_lifecycle.h) drives the
// callbacks; the host's server submits the clients' requests and cleans up their files.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device_settings.h"
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
    // null), whose named values live in `state`.
    static Microsoft::WRL::ComPtr<FrameworkDevice> Create(std::wstring instanceId,
                                                          std::shared_ptr<DeviceState> state,
                                                          IWDFDriver* driver,
                                                          IUnknown* callbackObject,
                                                          const DeviceSettings& settings);

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
    // A second default queue is HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS); the configuration
    // rules are FrameworkQueue::Create's. The framework keeps the queue: ppIoQueue may be null.
    HRESULT STDMETHODCALLTYPE CreateIoQueue(IUnknown* pCallbackInterface, BOOL bDefaultQueue,
                                            WDF_IO_QUEUE_DISPATCH_TYPE DispatchType,
                                            BOOL bPowerManaged, BOOL bAllowZeroLengthRequests,
                                            IWDFIoQueue** ppIoQueue) override;
    // Device interfaces and symbolic links are recorded (the status query lists them); the
    // host's clients reach the device through its socket whatever they are.
    HRESULT STDMETHODCALLTYPE CreateDeviceInterface(LPCGUID pDeviceInterfaceGuid,
                                                    PCWSTR pReferenceString) override;
    HRESULT STDMETHODCALLTYPE AssignDeviceInterfaceState(LPCGUID pDeviceInterfaceGuid,
                                                         PCWSTR pReferenceString,
                                                         BOOL Enable) override;
    HRESULT STDMETHODCALLTYPE RetrieveDeviceName(PWSTR, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostEvent(REFGUID, WDF_EVENT_TYPE, BYTE*, DWORD) override {
        return E_NOTIMPL;
    }
    // Sends requests of a type to a queue other than the default one (Forward TRUE), or back
    // to the default queue (FALSE). Create, read, write and device I/O control requests only.
    HRESULT STDMETHODCALLTYPE ConfigureRequestDispatching(IWDFIoQueue* pQueue,
                                                          WDF_REQUEST_TYPE RequestType,
                                                          BOOL Forward) override;
    void STDMETHODCALLTYPE SetPnpState(WDF_PNP_STATE State, WDF_TRI_STATE Value) override;
    WDF_TRI_STATE STDMETHODCALLTYPE GetPnpState(WDF_PNP_STATE State) override;
    HRESULT STDMETHODCALLTYPE CommitPnpState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateRequest(IUnknown*, IWDFObject*,
                                            IWDFIoRequest** ppRequest) override;
    HRESULT STDMETHODCALLTYPE CreateSymbolicLink(PCWSTR pSymbolicLink) override;

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
    HRESULT STDMETHODCALLTYPE
    CreateSymbolicLinkWithReferenceString(PCWSTR pSymbolicLink, PCWSTR pReferenceString) override;
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
    void STDMETHODCALLTYPE GetDeviceStackIoTypePreference(
        WDF_DEVICE_IO_BUFFER_RETRIEVAL* RetrievalMode, WDF_DEVICE_IO_TYPE* ReadWritePreference,
        WDF_DEVICE_IO_TYPE* IoControlPreference) override;
    HRESULT STDMETHODCALLTYPE AssignSxWakeSettings(DEVICE_POWER_STATE,
                                                   WDF_POWER_POLICY_SX_WAKE_USER_CONTROL,
                                                   WDF_TRI_STATE) override {
        return E_NOTIMPL;
    }
    // The action of the power change under way; PowerActionNone outside one.
    POWER_ACTION STDMETHODCALLTYPE GetSystemPowerAction() override;

    // For the framework.
    DeviceCallbacks Callbacks() const;
    const DeviceSettings& Settings() const { return settings_; }
    const std::wstring& InstanceId() const { return instanceId_; }
    bool SerializesCallbacks() const { return settings_.lockingConstraint == WdfDeviceLevel; }
    WorkerPool& Workers() { return *workers_; }

    void SetSystemPowerAction(POWER_ACTION action);
    // Power-managed queues hold their requests while the device is out of D0.
    void SetPowerHeld(bool held);
    // A removed device takes no new opens: their create requests are completed by the
    // framework with HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED).
    void SetRemoved(bool removed);

    // Routes a client's request to its queue: the queue configured for its type, else the
    // default queue. Without a queue the framework completes it itself: a create with S_OK,
    // anything else with HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED). The request counts as
    // outstanding until it is completed.
    void Submit(Microsoft::WRL::ComPtr<FrameworkRequest> request);

    // Runs the cleanup of a file on a worker, once no callback of the file's requests is
    // running: the callback object's OnCleanupFile, then the framework lets go of the file.
    // Requests of the file that the driver holds are left with it. `done` runs afterwards.
    void CleanupFile(Microsoft::WRL::ComPtr<FrameworkFile> file, std::function<void()> done);

    // Requests handed to the device and not completed yet.
    std::size_t OutstandingRequests() const;
    // Device interfaces and links the driver made, for the status query.
    std::vector<std::wstring> Interfaces() const;

    // The framework deletes the device: its queues let go of their callback objects, the
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
    DeviceSettings settings_;
    std::unique_ptr<WorkerPool> workers_;
    std::atomic<POWER_ACTION> powerAction_{PowerActionNone};
    std::atomic<bool> removed_{false};

    mutable std::mutex mutex_;
    // Strong references, dropped by Delete(): the driver and the callback object live at
    // least as long as the device, as under the framework.
    Microsoft::WRL::ComPtr<IWDFDriver> driver_;
    DeviceCallbacks callbacks_;
    Microsoft::WRL::ComPtr<FrameworkQueue> defaultQueue_;
    std::vector<Microsoft::WRL::ComPtr<FrameworkQueue>> queues_;
    std::map<WDF_REQUEST_TYPE, FrameworkQueue*> routes_;  // queues owned by queues_
    std::map<WDF_PNP_STATE, WDF_TRI_STATE> pnpState_;
    std::vector<std::wstring> interfaces_;
    bool powerHeld_ = false;
    bool deleted_ = false;
    std::map<std::uint64_t, Microsoft::WRL::ComPtr<FrameworkRequest>> outstanding_;
};

// A device for the instance ID with no driver behind it, whose named values persist in a file
// under stateFolder (an empty folder keeps them in memory only, for tools and tests). Fails when
// the device's state file cannot be read.
HRESULT CreateFrameworkDevice(const std::wstring& deviceInstanceId,
                              const std::filesystem::path& stateFolder, IWDFDevice** ppDevice);

}  // namespace zntr::host
