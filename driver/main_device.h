// cMainDevice: the device callback object. It holds the framework device, the sensor class
// extension and the driver's four events, and answers the framework's hardware, file-cleanup,
// power and Plug and Play callbacks. Preparing the hardware creates, in this order, the default
// I/O queue (cQueue) when the device has none, the one sensor object in gpSensorDDI, the sensor
// class extension and the event thread; releasing it ends the event thread, uninitialises and
// releases the class extension and releases the sensor, in that order. The queue stays with the
// framework.
#pragma once

#include <string>

#include "com_base.h"
#include "driver_platform.h"
#include "heap_object.h"

class cMainDevice : public cComBase<IPnpCallbackHardware, IFileCallbackCleanup, IPnpCallback>,
                    public cHeapObject {
  public:
    // Makes the device callback object for a device being added, gives the device-initialisation
    // object the driver's settings and has the framework create the framework device with this
    // object as its callbacks. E_UNEXPECTED for a null argument; otherwise the status of the
    // framework device's creation or of the step that failed before it.
    static HRESULT CreateInstance(IWDFDriver* pWdfDriver, IWDFDeviceInitialize* pWdfDeviceInit);

    // Answers IUnknown, IPnpCallbackHardware, IFileCallbackCleanup and IPnpCallback.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;

    // IPnpCallbackHardware. Only a failure to create the queue fails the preparation; a sensor,
    // class extension or event thread that cannot be set up leaves the device started without
    // them (S_OK).
    HRESULT STDMETHODCALLTYPE OnPrepareHardware(IWDFDevice* pWdfDevice) override;
    HRESULT STDMETHODCALLTYPE OnReleaseHardware(IWDFDevice* pWdfDevice) override;

    // IFileCallbackCleanup: a program that had the device open closes it (or dies). Stops the
    // queue's raw-stream reader and lets the class extension forget the file's connections.
    void STDMETHODCALLTYPE OnCleanupFile(IWDFFile* pWdfFileObject) override;

    // IPnpCallback. The power callbacks act only when the system goes to or comes back from
    // sleep or hibernation; none of the removal callbacks vetoes.
    HRESULT STDMETHODCALLTYPE OnD0Entry(IWDFDevice* pWdfDevice,
                                        WDF_POWER_DEVICE_STATE previousState) override;
    HRESULT STDMETHODCALLTYPE OnD0Exit(IWDFDevice* pWdfDevice,
                                       WDF_POWER_DEVICE_STATE newState) override;
    void STDMETHODCALLTYPE OnSurpriseRemoval(IWDFDevice* pWdfDevice) override;
    HRESULT STDMETHODCALLTYPE OnQueryRemove(IWDFDevice* pWdfDevice) override;
    HRESULT STDMETHODCALLTYPE OnQueryStop(IWDFDevice* pWdfDevice) override;

    // The event thread's posts to the class extension (sensor_event_thread.cpp). They run on
    // that thread only; their outcome is only logged.
    void PostDataEvent(LPWSTR pwszSensorID, IPortableDeviceValues* pEventParameters);
    void PostStateChangedEvent(LPWSTR pwszSensorID, SensorState state);

    // A counted reference to the class extension, or null: for the framework threads (the
    // queue's device-control requests, file cleanup), which may run while the hardware is
    // prepared or released on another one.
    Microsoft::WRL::ComPtr<ISensorClassExtension> GetSensorClassExtension();

    // Members, in the order the device's description gives them.

    // The framework device; set by OnPrepareHardware.
    Microsoft::WRL::ComPtr<IWDFDevice> mpWdfDevice;
    // The device instance ID, at most 1023 characters; set by CreateInstance.
    std::wstring mDeviceInstanceId;
    // The platform's sensor class extension; set by OnPrepareHardware. Written only under
    // mClassExtensionLock. The event thread reads it without the lock: it is set before the
    // thread starts and cleared only after the thread has been joined.
    Microsoft::WRL::ComPtr<ISensorClassExtension> mpSensorClassExtension;
    // Unnamed auto-reset events, created by the constructor in this order and owned by the
    // device (closed only by its destructor); null when their creation failed. The sensor holds
    // copies of the first two.
    HANDLE mhDataEvent;       // new data to post
    HANDLE mhStateEvent;      // the sensor state changed
    HANDLE mhExitEvent;       // ends the event thread
    HANDLE mhQueueStopEvent;  // stops the queue's raw-stream reader
    // The SensorEventThreadProc thread; null when none runs.
    HANDLE mhEventThread;
    // Guards the writes of mpSensorClassExtension and the framework threads' reads of it. Held
    // only for the moment a reference is taken or handed over, never with another lock.
    CRITICAL_SECTION mClassExtensionLock;

  private:
    cMainDevice();
    ~cMainDevice() override;

    // Steps 6 to 12 of the preparation: the sensor, the class extension, the event thread. A
    // failure status sends OnPrepareHardware to its failure exit; sensorUnknown keeps the
    // sensor's IUnknown taken on the way.
    HRESULT PrepareSensor(Microsoft::WRL::ComPtr<IUnknown>& sensorUnknown);
    // Ends the event thread, uninitialises and releases the class extension, ends the sensor's
    // feed and releases the sensor, and, when releaseDevice is true, the framework device.
    void ReleaseDeviceResources(bool releaseDevice);
    // The wake-up hook run by OnD0Entry when the system comes back from sleep or hibernation.
    void WakeFromSleep();
};

// The event thread: posts a data-updated event each time mhDataEvent is taken and the sensor
// state each time mhStateEvent is, until mhExitEvent. Its parameter is the cMainDevice; its exit
// code is always 0.
DWORD WINAPI SensorEventThreadProc(LPVOID pParameter);
