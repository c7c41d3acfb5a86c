// The platform's sensor class extension as the driver's tests see it: registered under its class
// identifier for as long as the object lives, so that the driver's CoCreateInstance finds it.
// Every call is recorded ("Initialize", "Uninitialize", "ProcessIoControl", "PostEvent",
// "PostStateChange(2)", "CleanupFile"), may be held at a gate and answered as the test says
// (CallRecorder). It completes the requests handed to it, keeps a copy of every posted event,
// and keeps the sensor it was initialised with, so that a test can act as the platform's clients.
#pragma once

#include <mutex>
#include <vector>

#include "call_recorder.h"
#include "standin/portabledevicetypes.h"
#include "standin/sensorsclassextension.h"
#include "standin/wrl_client.h"

namespace zntr::test {

class FakeClassExtension : public CallRecorder {
  public:
    FakeClassExtension();
    ~FakeClassExtension();
    FakeClassExtension(const FakeClassExtension&) = delete;
    FakeClassExtension& operator=(const FakeClassExtension&) = delete;

    // The sensor of the class extension made last, between its Initialize and Uninitialize.
    Microsoft::WRL::ComPtr<ISensorDriver> Sensor();
    // Copies of the event parameters of each PostEvent, in order.
    std::vector<Microsoft::WRL::ComPtr<IPortableDeviceValues>> Events();

    // For the class extension objects.
    void SetSensor(Microsoft::WRL::ComPtr<ISensorDriver> sensor);
    void AddEvent(Microsoft::WRL::ComPtr<IPortableDeviceValues> event);

  private:
    std::mutex mutex_;
    Microsoft::WRL::ComPtr<ISensorDriver> sensor_;
    std::vector<Microsoft::WRL::ComPtr<IPortableDeviceValues>> events_;
    Microsoft::WRL::ComPtr<IClassFactory> factory_;
    DWORD cookie_ = 0;
};

}  // namespace zntr::test
