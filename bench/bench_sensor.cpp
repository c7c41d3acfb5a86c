#include "bench_sensor.h"

#include "framework_device.h"

namespace zntr::bench {

BenchSensor::BenchSensor(bool subscribed) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device_.GetAddressOf());
    cSensorDDI::CreateInstance(&gpSensorDDI);
    gpSensorDDI->AddRef();
    ok_ = SUCCEEDED(gpSensorDDI->Initialize(L"ROOT\\ZNTR\\0000", device_.Get()));
    dataEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    stateEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gpSensorDDI->mhDataEvent = dataEvent_;
    gpSensorDDI->mhStateEvent = stateEvent_;
    gpSensorDDI->mSubscriberCount = subscribed ? 1 : 0;
}

BenchSensor::~BenchSensor() {
    gpSensorDDI->Release();
    gpSensorDDI = nullptr;
    CloseHandle(dataEvent_);
    CloseHandle(stateEvent_);
    device_ = nullptr;
    CoUninitialize();
}

}  // namespace zntr::bench
