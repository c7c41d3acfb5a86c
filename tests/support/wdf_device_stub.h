// A framework device for tests to derive their fakes from: every IWDFDevice2 method answers
// E_NOTIMPL (or does nothing, or gives null) until a fake overrides it. QueryInterface answers
// IUnknown, IWDFObject, IWDFDevice and, when the fake offers power actions, IWDFDevice2.
#pragma once

#include "standin/com_helpers.h"
#include "standin/wudfddi.h"

namespace zntr::test {

class WdfDeviceStub : public zntr::platform::ComObject<IWDFDevice2> {
  public:
    HRESULT STDMETHODCALLTYPE DeleteWdfObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup*, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RetrieveContext(void**) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE AcquireLock() override {}
    void STDMETHODCALLTYPE ReleaseLock() override {}

    HRESULT STDMETHODCALLTYPE RetrieveDevicePropertyStore(
        PCWSTR, WDF_PROPERTY_STORE_RETRIEVE_FLAGS, IWDFNamedPropertyStore** ppPropStore,
        WDF_PROPERTY_STORE_DISPOSITION*) override {
        if (ppPropStore != nullptr) {
            *ppPropStore = nullptr;
        }
        return E_NOTIMPL;
    }
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
                                            IWDFIoQueue** ppIoQueue) override {
        if (ppIoQueue != nullptr) {
            *ppIoQueue = nullptr;
        }
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
    HRESULT STDMETHODCALLTYPE CreateRequest(IUnknown*, IWDFObject*,
                                            IWDFIoRequest** ppRequest) override {
        if (ppRequest != nullptr) {
            *ppRequest = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateSymbolicLink(PCWSTR) override { return E_NOTIMPL; }

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
    POWER_ACTION STDMETHODCALLTYPE GetSystemPowerAction() override { return PowerActionNone; }

  protected:
    // Whether QueryInterface hands out IWDFDevice2, as a framework device of this version does.
    virtual bool OffersDevice2() const { return false; }

    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFDevice) ||
               (OffersDevice2() && IsEqualIID(riid, IID_IWDFDevice2));
    }
};

}  // namespace zntr::test
