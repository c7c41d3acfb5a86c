// The sensor event thread and the posting of events to the class extension.
//
// The sensor never posts events itself: its receive thread and the power hooks only signal the
// device's data and state events, and this thread wakes up, gathers what is current and hands it
// to the class extension. Signals given while the thread is busy collapse into one wake-up per
// event (the events are auto-reset), and a data event carries the values of the moment it is
// posted, not of the moment it was signalled.
#include "debug_log.h"
#include "main_device.h"
#include "sensor_ddi.h"

using Microsoft::WRL::ComPtr;

namespace {

// The wait array's order is the order of service: when several are signalled, the lowest index
// is taken, so data goes before state and state before exit.
enum EventIndex : DWORD { DATA_EVENT_INDEX = 0, STATE_EVENT_INDEX = 1, EXIT_EVENT_INDEX = 2 };
constexpr DWORD EVENT_COUNT = 3;

// The thread's stay in the multithreaded apartment, left on every way out.
class cComApartment {
  public:
    cComApartment() : mResult(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~cComApartment() {
        if (SUCCEEDED(mResult)) {
            CoUninitialize();
        }
    }
    cComApartment(const cComApartment&) = delete;
    cComApartment& operator=(const cComApartment&) = delete;
    bool Entered() const { return SUCCEEDED(mResult); }

  private:
    HRESULT mResult;
};

// A fresh copy of the sensor identifier for one post, from the process heap, freed right after
// the post. Null when the heap has no room.
class cSensorIdString {
  public:
    cSensorIdString()
        : mpText(static_cast<LPWSTR>(HeapAlloc(GetProcessHeap(), 0, sizeof(SENSOR_OBJECT_ID)))) {
        if (mpText != nullptr) {
            std::memcpy(mpText, SENSOR_OBJECT_ID, sizeof(SENSOR_OBJECT_ID));
        }
    }
    ~cSensorIdString() { HeapFree(GetProcessHeap(), 0, mpText); }
    cSensorIdString(const cSensorIdString&) = delete;
    cSensorIdString& operator=(const cSensorIdString&) = delete;
    LPWSTR Get() const { return mpText; }

  private:
    LPWSTR mpText;
};

// Index 0: the event id, then a copy of every data field, in the thread's one collection. A
// failure of either drops this event without a word; the copy is made even when the id was not
// set.
void PostDataUpdate(cMainDevice& device, IPortableDeviceValues* pEventParameters) {
    pEventParameters->Clear();
    const HRESULT idStatus =
        pEventParameters->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
    const HRESULT copyStatus =
        gpSensorDDI != nullptr ? gpSensorDDI->CopyDataFieldValues(pEventParameters) : E_UNEXPECTED;
    if (FAILED(idStatus) || FAILED(copyStatus)) {
        return;
    }
    const cSensorIdString sensorId;
    if (sensorId.Get() == nullptr) {
        DebugLog("SensorEventThreadProc: no memory for the sensor ID, data event not posted");
        return;
    }
    device.PostDataEvent(sensorId.Get(), pEventParameters);
}

// Index 1: the state as it is at wake-up, read without mSensorLock (a single aligned 32-bit
// value), so two quick changes post only the later one. Only the three states the sensor moves
// between are posted.
void PostStateUpdate(cMainDevice& device) {
    if (gpSensorDDI == nullptr) {
        return;
    }
    const ULONG state = gpSensorDDI->mSensorState;
    if (state != SENSOR_STATE_READY && state != SENSOR_STATE_NO_DATA &&
        state != SENSOR_STATE_INITIALIZING) {
        return;
    }
    const cSensorIdString sensorId;
    if (sensorId.Get() == nullptr) {
        DebugLog("SensorEventThreadProc: no memory for the sensor ID, state event not posted");
        return;
    }
    device.PostStateChangedEvent(sensorId.Get(), static_cast<SensorState>(state));
    DebugLog("SensorEventThreadProc: posted state event");
}

}  // namespace

DWORD WINAPI SensorEventThreadProc(LPVOID pParameter) {
    cMainDevice* pMainDevice = static_cast<cMainDevice*>(pParameter);
    if (pMainDevice == nullptr) {
        DebugLog("SensorEventThreadProc: invalid pMainDevice pointer");
        return 0;
    }
    const cComApartment apartment;
    if (!apartment.Entered()) {
        DebugLog("SensorEventThreadProc: unable to initialize multi-thread");
        return 0;
    }
    // One collection for the thread's life, cleared and refilled for each data event.
    ComPtr<IPortableDeviceValues> pEventParameters;
    if (FAILED(CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IPortableDeviceValues,
                                reinterpret_cast<void**>(pEventParameters.GetAddressOf())))) {
        DebugLog("SensorEventThreadProc: failed to create event collections");
        return 0;
    }
    const HANDLE waitHandles[EVENT_COUNT] = {pMainDevice->mhDataEvent, pMainDevice->mhStateEvent,
                                             pMainDevice->mhExitEvent};
    for (;;) {
        // Alertable: a queued asynchronous procedure call ends the wait, and the thread with it.
        const DWORD result =
            WaitForMultipleObjectsEx(EVENT_COUNT, waitHandles, FALSE, INFINITE, TRUE);
        if (result == WAIT_OBJECT_0 + DATA_EVENT_INDEX) {
            PostDataUpdate(*pMainDevice, pEventParameters.Get());
        } else if (result == WAIT_OBJECT_0 + STATE_EVENT_INDEX) {
            PostStateUpdate(*pMainDevice);
        } else if (result == WAIT_OBJECT_0 + EXIT_EVENT_INDEX) {
            DebugLog("SensorEventThreadProc: exit event");
            break;
        } else {
            DebugLog("SensorEventThreadProc: error");
            break;
        }
    }
    return 0;
}

void cMainDevice::PostStateChangedEvent(LPWSTR pwszSensorID, SensorState state) {
    // What PostStateChange returns is not examined: the platform's delivery is its own affair.
    if (mpSensorClassExtension) {
        mpSensorClassExtension->PostStateChange(pwszSensorID, state);
        DebugLog("PostStateChangedEvent: posted state event");
    } else {
        DebugLog("PostStateChangedEvent: failed to post state event");
    }
}

// The posted collection holds exactly one element, the thread's parameter collection, which
// stays with the thread.
void cMainDevice::PostDataEvent(LPWSTR pwszSensorID, IPortableDeviceValues* pEventParameters) {
    ComPtr<IPortableDeviceValuesCollection> pEventCollection;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValuesCollection, nullptr,
                                  CLSCTX_INPROC_SERVER, IID_IPortableDeviceValuesCollection,
                                  reinterpret_cast<void**>(pEventCollection.GetAddressOf()));
    if (FAILED(hr)) {
        DebugLog("PostDataEvent: failed to create event collection, %!hresult!", hr);
        return;
    }
    hr = pEventCollection->Add(pEventParameters);
    if (FAILED(hr) || !mpSensorClassExtension) {
        DebugLog("PostDataEvent: failed to post data event");
        return;
    }
    mpSensorClassExtension->PostEvent(pwszSensorID, pEventCollection.Get());
    DebugLog("PostDataEvent: posted data event");
}
