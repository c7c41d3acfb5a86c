// The framework host's life with one driver module and one device, as the framework runs a
// driver:
//
// Start: enter the multithreaded COM apartment; register the platform components (the sensor
// class extension) so that the driver can create them; load the module (driver_module.h); take
// its class factory with DllGetClassObject(driver class, IID_IClassFactory) and the driver's
// IDriverEntry from CreateInstance; OnInitialize with the framework driver object; OnDeviceAdd
// with a device-initialisation object for the configured device instance ID, which makes the
// framework device; then start the device: OnPrepareHardware and OnD0Entry(WdfPowerDeviceD3Final)
// with power action none (device_lifecycle.h).
//
// Stop (after the server has cleaned up every open file): OnD0Exit(WdfPowerDeviceD3Final) with
// action none and OnReleaseHardware when the device still has its hardware; the device is
// deleted (its queues and callback objects released); OnDeinitialize; the driver and the class
// factory are released; DllCanUnloadNow must answer S_OK (a host error otherwise); DllMain for
// the process detach, and the module is unloaded; the components are withdrawn.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "default_device.h"
#include "device_initialize.h"
#include "device_lifecycle.h"
#include "driver_module.h"
#include "framework_driver.h"
#include "wire_format.h"

namespace zntr::host {

// A platform component the host registers before it loads the module and withdraws after it
// has unloaded it (the sensor class extension's RegisterSensorClassExtension and
// RevokeSensorClassExtension).
struct HostComponent {
    std::string name;
    std::function<HRESULT(DWORD* cookie)> add;
    std::function<HRESULT(DWORD cookie)> remove;
};

struct FrameworkHostOptions {
    std::filesystem::path modulePath;
    CLSID driverClass = GUID_NULL;
    std::wstring deviceInstanceId = kDefaultDeviceInstanceId;
    // Where the device's property store persists; empty keeps it in memory.
    std::filesystem::path stateFolder;
    std::vector<HostComponent> components;
};

// Why the host could not start; the host has undone whatever it had done.
class HostStartError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class FrameworkHost {
  public:
    // Start and Stop must run on the same thread (the one that entered COM).
    static std::unique_ptr<FrameworkHost> Start(FrameworkHostOptions options);
    ~FrameworkHost();
    FrameworkHost(const FrameworkHost&) = delete;
    FrameworkHost& operator=(const FrameworkHost&) = delete;

    FrameworkDevice& Device() { return *device_.Get(); }
    DeviceLifecycle& Lifecycle() { return *lifecycle_; }
    const FrameworkHostOptions& Options() const { return options_; }
    const DriverModule& Module() const { return *module_; }

    // A power or Plug and Play command (not status or stop) on the device.
    HRESULT RunCommand(zntr::protocol::HostCommand command);
    // The device's state as JSON text, for the status query; openFiles is the server's count.
    std::string StatusJson(std::size_t openFiles) const;

    // The orderly stop above. True when everything went by the rules: no request left
    // uncompleted, the module unloaded. A second call does nothing and answers the first's.
    bool Stop();

  private:
    explicit FrameworkHost(FrameworkHostOptions options) : options_(std::move(options)) {}
    void StartSteps();

    FrameworkHostOptions options_;
    bool enteredCom_ = false;
    std::vector<std::pair<const HostComponent*, DWORD>> registered_;
    std::unique_ptr<DriverModule> module_;
    Microsoft::WRL::ComPtr<IClassFactory> factory_;
    Microsoft::WRL::ComPtr<IDriverEntry> driverEntry_;
    Microsoft::WRL::ComPtr<FrameworkDriver> driver_;
    bool initialized_ = false;  // OnInitialize succeeded: OnDeinitialize is owed
    Microsoft::WRL::ComPtr<FrameworkDevice> device_;
    std::unique_ptr<DeviceLifecycle> lifecycle_;
    bool stopped_ = false;
    bool clean_ = true;
};

}  // namespace zntr::host
