// The framework's side of the driver's tests: the real framework objects of host/framework (the
// driver object, the device-initialisation object, the device, files and requests), used as the
// framework host uses them, with a wrapper around the device where a test needs one of its calls
// to fail.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device_initialize.h"
#include "framework_driver.h"

namespace zntr::test {

using Microsoft::WRL::ComPtr;

// The calling thread in the multithreaded apartment for as long as the object lives; declared
// first, so that the objects after it are made and released in the apartment.
struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

// The framework device as the driver is given it: every call the driver makes goes to the real
// device, unless the test made it fail. Fail("CreateIoQueue" | "RetrieveDevicePropertyStore" |
// "IWDFDevice2", status): the call (for IWDFDevice2, the query for that interface) answers the
// status. It keeps the callback object of the queue the driver creates, through which a test
// hands requests to the queue on its own thread.
class FaultyDevice final : public zntr::platform::ComObject<IWDFDevice2> {
  public:
    explicit FaultyDevice(ComPtr<host::FrameworkDevice> real) : real_(std::move(real)) {}

    void Fail(const std::string& call, HRESULT status);
    void Heal();
    host::FrameworkDevice& Real() { return *real_.Get(); }
    ComPtr<IUnknown> QueueCallbacks();
    template <typename Interface>
    ComPtr<Interface> Queue(REFIID iid) {
        ComPtr<Interface> callbacks;
        if (const ComPtr<IUnknown> object = QueueCallbacks()) {
            object->QueryInterface(iid, reinterpret_cast<void**>(callbacks.GetAddressOf()));
        }
        return callbacks;
    }
    // The framework deletes the device: its queue lets go of the driver's callback object.
    void Delete();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR service, WDF_PROPERTY_STORE_RETRIEVE_FLAGS flags, IWDFNamedPropertyStore** store,
        WDF_PROPERTY_STORE_DISPOSITION* how) override;
    HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR buffer, DWORD* size) override {
        return real_->RetrieveDeviceInstanceId(buffer, size);
    }
    void STDMETHODCALLTYPE GetDefaultIoQueue(IWDFIoQueue** queue) override {
        real_->GetDefaultIoQueue(queue);
    }
    HRESULT STDMETHODCALLTYPE CreateIoQueue(IUnknown* callbacks, BOOL isDefault,
                                            WDF_IO_QUEUE_DISPATCH_TYPE dispatch, BOOL powerManaged,
                                            BOOL zeroLength, IWDFIoQueue** queue) override;
    POWER_ACTION STDMETHODCALLTYPE GetSystemPowerAction() override {
        return real_->GetSystemPowerAction();
    }

    // Calls the driver does not make: the interface keeps its table, each answers E_NOTIMPL.
    // clang-format off
#define ZNTR_NOT_CALLED(Result, Method, ...) \
    Result STDMETHODCALLTYPE Method(__VA_ARGS__) override { return Result(E_NOTIMPL); }
    ZNTR_NOT_CALLED(HRESULT, DeleteWdfObject)
    ZNTR_NOT_CALLED(HRESULT, AssignContext, IObjectCleanup*, void*)
    ZNTR_NOT_CALLED(HRESULT, RetrieveContext, void**)
    void STDMETHODCALLTYPE AcquireLock() override {}
    void STDMETHODCALLTYPE ReleaseLock() override {}
    void STDMETHODCALLTYPE GetDriver(IWDFDriver** driver) override { *driver = nullptr; }
    void STDMETHODCALLTYPE GetDefaultIoTarget(IWDFIoTarget** target) override { *target = nullptr; }
    ZNTR_NOT_CALLED(HRESULT, CreateWdfFile, PCWSTR, IWDFDriverCreatedFile**)
    ZNTR_NOT_CALLED(HRESULT, CreateDeviceInterface, LPCGUID, PCWSTR)
    ZNTR_NOT_CALLED(HRESULT, AssignDeviceInterfaceState, LPCGUID, PCWSTR, BOOL)
    ZNTR_NOT_CALLED(HRESULT, RetrieveDeviceName, PWSTR, DWORD*)
    ZNTR_NOT_CALLED(HRESULT, PostEvent, REFGUID, WDF_EVENT_TYPE, BYTE*, DWORD)
    ZNTR_NOT_CALLED(HRESULT, ConfigureRequestDispatching, IWDFIoQueue*, WDF_REQUEST_TYPE, BOOL)
    void STDMETHODCALLTYPE SetPnpState(WDF_PNP_STATE, WDF_TRI_STATE) override {}
    WDF_TRI_STATE STDMETHODCALLTYPE GetPnpState(WDF_PNP_STATE) override { return WdfUseDefault; }
    ZNTR_NOT_CALLED(HRESULT, CommitPnpState)
    ZNTR_NOT_CALLED(HRESULT, CreateRequest, IUnknown*, IWDFObject*, IWDFIoRequest**)
    ZNTR_NOT_CALLED(HRESULT, CreateSymbolicLink, PCWSTR)
    ZNTR_NOT_CALLED(HRESULT, AssignS0IdleSettings, WDF_POWER_POLICY_S0_IDLE_CAPABILITIES,
                    DEVICE_POWER_STATE, ULONG, WDF_POWER_POLICY_S0_IDLE_USER_CONTROL, WDF_TRI_STATE)
    ZNTR_NOT_CALLED(HRESULT, StopIdle, BOOL)
    ZNTR_NOT_CALLED(HRESULT, ResumeIdle)
    ZNTR_NOT_CALLED(HRESULT, CreateSymbolicLinkWithReferenceString, PCWSTR, PCWSTR)
    ZNTR_NOT_CALLED(HRESULT, RegisterRemoteInterfaceNotification, LPCGUID, BOOL)
    ZNTR_NOT_CALLED(HRESULT, CreateRemoteInterface, IWDFRemoteInterfaceInitialize*, IUnknown*,
                    IWDFRemoteInterface**)
    ZNTR_NOT_CALLED(HRESULT, CreateRemoteTarget, IUnknown*, IWDFObject*, IWDFRemoteTarget**)
    void STDMETHODCALLTYPE GetDeviceStackIoTypePreference(WDF_DEVICE_IO_BUFFER_RETRIEVAL*,
                                                          WDF_DEVICE_IO_TYPE*, WDF_DEVICE_IO_TYPE*) override {}
    ZNTR_NOT_CALLED(HRESULT, AssignSxWakeSettings, DEVICE_POWER_STATE,
                    WDF_POWER_POLICY_SX_WAKE_USER_CONTROL, WDF_TRI_STATE)
#undef ZNTR_NOT_CALLED
    // clang-format on

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFDevice) ||
               IsEqualIID(riid, IID_IWDFDevice2);
    }

  private:
    HRESULT Fault(const std::string& call);

    const ComPtr<host::FrameworkDevice> real_;
    std::mutex mutex_;
    std::map<std::string, HRESULT> faults_;
    ComPtr<IUnknown> queueCallbacks_;
};

// A device added through the driver's IDriverEntry as the framework host adds one: the
// framework's driver object and device-initialisation object, and, once the driver has made
// the framework device, that device (wrapped) and the driver's callbacks on it.
struct AddedDevice {
    ComPtr<host::FrameworkDriver> driver = host::FrameworkDriver::Create();
    ComPtr<host::DeviceInitialize> init;
    ComPtr<FaultyDevice> device;
    ComPtr<IPnpCallbackHardware> hardware;
    ComPtr<IPnpCallback> pnp;
    ComPtr<IFileCallbackCleanup> cleanup;

    // OnDeviceAdd for a device of that instance ID whose named values live in memory.
    HRESULT Add(IDriverEntry* entry, const std::wstring& instanceId);
    // The framework removes the device: it deletes it and lets go of the driver's callbacks.
    void Remove();
};

// Requests made by a test and what their completions delivered, in the order of completion.
class Requests {
  public:
    struct Completion {
        int request;  // 1 for the first request made here, and so on
        HRESULT status;
        std::size_t information;
        std::string data;
    };
    explicit Requests(IWDFDevice* device);

    // A read of `length` bytes; `atCompletion` runs on the completing thread, after the
    // completion is recorded.
    ComPtr<host::FrameworkRequest> Read(std::size_t length,
                                        std::function<void()> atCompletion = {});
    ComPtr<host::FrameworkRequest> Create();
    ComPtr<host::FrameworkRequest> IoControl(ULONG code);
    IWDFFile* File() { return file_.Get(); }

    std::vector<Completion> Completions();
    // The completion of request `request`, once it came (false after 30 s).
    bool WaitFor(int request, Completion* completion = nullptr);

  private:
    host::FrameworkRequest::CompletionHandler Handler(std::function<void()> atCompletion);

    ComPtr<host::FrameworkFile> file_;
    std::mutex mutex_;
    int made_ = 0;
    std::vector<Completion> completions_;
};

}  // namespace zntr::test
