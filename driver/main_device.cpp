// The device callback object's life: creation for a device being added, preparation and release
// of the hardware with their failure exits, and file cleanup.
#include "main_device.h"

#include "critical_section_lock.h"
#include "debug_log.h"
#include "module_lock.h"
#include "queue.h"
#include "sensor_ddi.h"

using Microsoft::WRL::ComPtr;

namespace {

// The instance ID buffer handed to the framework, in characters; an ID must leave room for the
// terminator.
constexpr DWORD DEVICE_INSTANCE_ID_SIZE = 1024;

HANDLE CreateDeviceEvent() {
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

void CloseDeviceEvent(HANDLE& hEvent) {
    if (hEvent != nullptr) {
        CloseHandle(hEvent);
        hEvent = nullptr;
    }
}

}  // namespace

cMainDevice::cMainDevice()
    : mhDataEvent(CreateDeviceEvent()),
      mhStateEvent(CreateDeviceEvent()),
      mhExitEvent(CreateDeviceEvent()),
      mhQueueStopEvent(CreateDeviceEvent()),
      mhEventThread(nullptr) {
    InitializeCriticalSection(&mClassExtensionLock);
    LockModule();
}

cMainDevice::~cMainDevice() {
    ReleaseDeviceResources(true);
    CloseDeviceEvent(mhDataEvent);
    CloseDeviceEvent(mhStateEvent);
    CloseDeviceEvent(mhQueueStopEvent);
    CloseDeviceEvent(mhExitEvent);
    mDeviceInstanceId.clear();
    DeleteCriticalSection(&mClassExtensionLock);
    UnlockModule();
}

HRESULT cMainDevice::QueryInterface(REFIID riid, void** ppvObject) {
    return AnswerQueryInterface(
        riid, ppvObject,
        {{IID_IPnpCallbackHardware, static_cast<IPnpCallbackHardware*>(this)},
         {IID_IFileCallbackCleanup, static_cast<IFileCallbackCleanup*>(this)},
         {IID_IPnpCallback, static_cast<IPnpCallback*>(this)}});
}

HRESULT cMainDevice::CreateInstance(IWDFDriver* pWdfDriver, IWDFDeviceInitialize* pWdfDeviceInit) {
    if (pWdfDriver == nullptr || pWdfDeviceInit == nullptr) {
        DebugLog("cMainDevice: CreateInstance, invalid parameters");
        return E_UNEXPECTED;
    }
    cMainDevice* pNewDevice = new (std::nothrow) cMainDevice();
    if (pNewDevice == nullptr) {
        const HRESULT hr = E_OUTOFMEMORY;
        DebugLog("cMainDevice: failed to create device instance, %!hresult!", hr);
        return hr;
    }
    // This call's reference: dropping it destroys the object unless the framework took one.
    const ComPtr<cMainDevice> device(pNewDevice);

    WCHAR instanceId[DEVICE_INSTANCE_ID_SIZE];
    std::memset(instanceId, 0, sizeof(instanceId));
    DWORD size = DEVICE_INSTANCE_ID_SIZE;
    HRESULT hr = pWdfDeviceInit->RetrieveDeviceInstanceId(instanceId, &size);
    if (FAILED(hr)) {
        DebugLog("cMainDevice: failed to get device instance ID, %!hresult!", hr);
        return hr;
    }
    device->mDeviceInstanceId = instanceId;

    // The driver owns the device's power policy; its queue and file callbacks are not serialised
    // (the queue dispatches in parallel); file creation, cleanup and close come to this driver
    // instead of being forwarded down the stack.
    pWdfDeviceInit->SetPowerPolicyOwnership(TRUE);
    pWdfDeviceInit->SetLockingConstraint(None);
    pWdfDeviceInit->AutoForwardCreateCleanupClose(WdfFalse);

    ComPtr<IUnknown> callbacks;
    hr = device->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(callbacks.GetAddressOf()));
    if (FAILED(hr)) {
        DebugLog("cMainDevice: QueryInterface failed, %!hresult!", hr);
        return hr;
    }
    // The framework keeps its own reference on the callback object; the framework device is
    // taken again in OnPrepareHardware.
    ComPtr<IWDFDevice> wdfDevice;
    hr = pWdfDriver->CreateDevice(pWdfDeviceInit, callbacks.Get(), wdfDevice.GetAddressOf());
    DebugLog("cMainDevice: created IWDFDevice object, %!hresult!", hr);
    return hr;
}

HRESULT cMainDevice::OnPrepareHardware(IWDFDevice* pWdfDevice) {
    DebugLog("OnPrepareHardware was triggered\n");
    if (pWdfDevice == nullptr || mhDataEvent == nullptr || mhStateEvent == nullptr ||
        mhExitEvent == nullptr || mDeviceInstanceId.empty()) {
        DebugLog("cMainDevice: OnPrepareHardware, invalid parameters\n");
        return E_UNEXPECTED;
    }
    if (mhEventThread != nullptr) {
        DebugLog(
            "cMainDevice: already called OnPrepareHardware, calling OnReleaseHardware to "
            "cleanup\n");
        ReleaseDeviceResources(true);
    }
    if (mpWdfDevice.Get() != pWdfDevice) {
        mpWdfDevice = pWdfDevice;
    }

    // The queue is made once: a device prepared again finds the one the framework kept.
    ComPtr<IWDFIoQueue> defaultQueue;
    mpWdfDevice->GetDefaultIoQueue(defaultQueue.GetAddressOf());
    if (!defaultQueue) {
        const HRESULT hr = cQueue::CreateInstance(mpWdfDevice.Get(), this, mhQueueStopEvent);
        if (FAILED(hr)) {
            DebugLog("cMainDevice: failed to create queue, %!hresult!\n", hr);
            ReleaseDeviceResources(true);
            return hr;
        }
    }

    // Declared before the failure exit's release, so that the sensor's IUnknown goes after it.
    ComPtr<IUnknown> sensorUnknown;
    const HRESULT hr = PrepareSensor(sensorUnknown);
    if (FAILED(hr)) {
        // The device stays started with its queue, without sensor, class extension or thread.
        ReleaseDeviceResources(false);
        return S_OK;
    }
    return hr;
}

HRESULT cMainDevice::PrepareSensor(ComPtr<IUnknown>& sensorUnknown) {
    gpSensorDDI = nullptr;
    cSensorDDI* pSensor = nullptr;
    HRESULT hr = cSensorDDI::CreateInstance(&pSensor);
    if (SUCCEEDED(hr)) {
        gpSensorDDI = pSensor;
    }
    if (FAILED(hr) || gpSensorDDI == nullptr) {
        DebugLog("cMainDevice: failed to create cSensorDDI, %!hresult!", hr);
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    // The reference gpSensorDDI holds.
    gpSensorDDI->AddRef();
    hr = gpSensorDDI->Initialize(mDeviceInstanceId, mpWdfDevice.Get());
    if (FAILED(hr)) {
        DebugLog("cMainDevice: failed to initialize cSensorDDI, %!hresult!", hr);
        return hr;
    }

    ComPtr<ISensorClassExtension> classExtension;
    hr = CoCreateInstance(CLSID_SensorClassExtension, nullptr, CLSCTX_INPROC_SERVER,
                          IID_ISensorClassExtension,
                          reinterpret_cast<void**>(classExtension.GetAddressOf()));
    if (FAILED(hr)) {
        DebugLog("cMainDevice: failed to CoCreate SensorClassExtenstion, %!hresult!\n", hr);
        return hr;
    }
    {
        cCriticalSectionLock lock(mClassExtensionLock);
        mpSensorClassExtension = classExtension;
    }

    hr = gpSensorDDI->QueryInterface(IID_IUnknown,
                                     reinterpret_cast<void**>(sensorUnknown.GetAddressOf()));
    if (FAILED(hr)) {
        DebugLog("cMainDevice: QueryInterface failed for cSensorDDI, %!hresult!\n", hr);
        return hr;
    }
    hr = classExtension->Initialize(mpWdfDevice.Get(), sensorUnknown.Get());
    if (FAILED(hr)) {
        DebugLog("cMainDevice: failed to initialize SensorClassExtension, %!hresult!\n", hr);
        return hr;
    }
    const HRESULT initializeStatus = hr;

    // A release that had no thread to end left the exit event set; the new thread must not take
    // that old signal for its own.
    ResetEvent(mhExitEvent);
    mhEventThread = CreateThread(nullptr, 0, SensorEventThreadProc, this, 0, nullptr);
    if (mhEventThread == nullptr) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        DebugLog("cMainDevice: failed to create event thread");
        return FAILED(hr) ? hr : E_FAIL;
    }

    // The sensor signals the device's events; it holds copies and never closes them.
    {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        gpSensorDDI->mhDataEvent = mhDataEvent;
        gpSensorDDI->mhStateEvent = mhStateEvent;
    }
    return initializeStatus;
}

// The order keeps the event thread safe without a lock: it is told to end and joined before the
// class extension and the sensor it uses go. The sensor's feed is ended before the sensor is
// released, whether or not its last client disconnected.
void cMainDevice::ReleaseDeviceResources(bool releaseDevice) {
    if (mhExitEvent != nullptr) {
        SetEvent(mhExitEvent);
    }
    if (mhEventThread != nullptr) {
        WaitForSingleObject(mhEventThread, INFINITE);
        CloseHandle(mhEventThread);
        mhEventThread = nullptr;
    }
    ComPtr<ISensorClassExtension> classExtension;
    {
        cCriticalSectionLock lock(mClassExtensionLock);
        classExtension.Swap(mpSensorClassExtension);
    }
    if (classExtension) {
        classExtension->Uninitialize();
        classExtension = nullptr;
    }
    if (gpSensorDDI != nullptr) {
        gpSensorDDI->EndFeed();
        gpSensorDDI->Release();
        gpSensorDDI = nullptr;
    }
    if (releaseDevice && mpWdfDevice) {
        mpWdfDevice = nullptr;
    }
}

HRESULT cMainDevice::OnReleaseHardware(IWDFDevice* /*pWdfDevice*/) {
    DebugLog("OnReleaseHardware was triggered");
    ReleaseDeviceResources(true);
    return S_OK;
}

ComPtr<ISensorClassExtension> cMainDevice::GetSensorClassExtension() {
    cCriticalSectionLock lock(mClassExtensionLock);
    return mpSensorClassExtension;
}

// The stop event is reset and then set, so that it is signalled once whatever state it was in;
// the pause gives the queue's reader, which looks at it every 100 ms, the time to notice.
void cMainDevice::OnCleanupFile(IWDFFile* pWdfFileObject) {
    DebugLog("OnCleanupFile was triggered\n");
    if (mhQueueStopEvent != nullptr) {
        ResetEvent(mhQueueStopEvent);
        SetEvent(mhQueueStopEvent);
    }
    const ComPtr<ISensorClassExtension> classExtension = GetSensorClassExtension();
    if (classExtension) {
        classExtension->CleanupFile(pWdfFileObject);
    }
    Sleep(100);
    DebugLog("OnCleanupFile returns\n");
}
