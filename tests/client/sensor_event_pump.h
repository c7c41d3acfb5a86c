// What the device's event thread does, for tests that run the real sensor without the driver
// frame: it waits on the sensor's data and state events and posts them to the class extension
// (a data event with the event ID and a copy of every data field, a state event with the state).
#pragma once

#include <thread>

#include "sensor_ddi.h"
#include "standin/wrl_client.h"

namespace zntr::test {

class SensorEventPump {
  public:
    SensorEventPump(ISensorClassExtension* extension, HANDLE dataEvent, HANDLE stateEvent)
        : extension_(extension),
          exit_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, dataEvent, stateEvent] { Run(dataEvent, stateEvent); }) {}
    ~SensorEventPump() {
        SetEvent(exit_);
        thread_.join();
        CloseHandle(exit_);
    }
    SensorEventPump(const SensorEventPump&) = delete;
    SensorEventPump& operator=(const SensorEventPump&) = delete;

  private:
    void Run(HANDLE dataEvent, HANDLE stateEvent) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            Microsoft::WRL::ComPtr<IPortableDeviceValues> parameters;
            CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IPortableDeviceValues,
                             reinterpret_cast<void**>(parameters.GetAddressOf()));
            std::wstring sensorId = SENSOR_OBJECT_ID;
            // Data before state before exit, as the event thread takes them.
            const HANDLE events[] = {dataEvent, stateEvent, exit_};
            for (;;) {
                const DWORD signalled = WaitForMultipleObjectsEx(3, events, FALSE, INFINITE, FALSE);
                if (signalled == WAIT_OBJECT_0) {
                    parameters->Clear();
                    parameters->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID,
                                             SENSOR_EVENT_DATA_UPDATED);
                    gpSensorDDI->CopyDataFieldValues(parameters.Get());
                    Microsoft::WRL::ComPtr<IPortableDeviceValuesCollection> collection;
                    CoCreateInstance(CLSID_PortableDeviceValuesCollection, nullptr,
                                     CLSCTX_INPROC_SERVER, IID_IPortableDeviceValuesCollection,
                                     reinterpret_cast<void**>(collection.GetAddressOf()));
                    collection->Add(parameters.Get());
                    extension_->PostEvent(sensorId.data(), collection.Get());
                } else if (signalled == WAIT_OBJECT_0 + 1) {
                    extension_->PostStateChange(
                        sensorId.data(),
                        static_cast<SensorState>(gpSensorDDI->mSensorState.load()));
                } else {
                    break;
                }
            }
        }
        CoUninitialize();
    }

    ISensorClassExtension* extension_;  // not owned; outlives the pump
    HANDLE exit_;
    std::thread thread_;
};

}  // namespace zntr::test
