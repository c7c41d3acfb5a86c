// cMainDriver: the driver callback object the framework obtains from the module's class factory.
// Its one piece of work is OnDeviceAdd, which makes the device callback object for each device
// the framework adds.
#pragma once

#include "com_base.h"
#include "driver_platform.h"
#include "heap_object.h"

class cMainDriver : public cComBase<IDriverEntry>, public cHeapObject {
  public:
    // The class factory's creator: a new driver object asked for riid. E_OUTOFMEMORY when the
    // heap has no room; on any failure the new object is destroyed and *ppv is null.
    static HRESULT CreateInstance(REFIID riid, void** ppv);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;

    // Does nothing.
    HRESULT STDMETHODCALLTYPE OnInitialize(IWDFDriver* pWdfDriver) override;
    // Creates the device callback object and the framework device; returns cMainDevice's
    // CreateInstance status.
    HRESULT STDMETHODCALLTYPE OnDeviceAdd(IWDFDriver* pWdfDriver,
                                          IWDFDeviceInitialize* pWdfDeviceInit) override;
    // Does nothing.
    void STDMETHODCALLTYPE OnDeinitialize(IWDFDriver* pWdfDriver) override;

  private:
    // Each driver object holds one count of the module lock count while it lives.
    cMainDriver();
    ~cMainDriver() override;
};
