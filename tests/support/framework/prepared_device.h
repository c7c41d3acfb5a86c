// A device of the driver (linked in, not loaded) added and prepared as the framework host does
// it: the log on and read, the fake sensor class extension registered, no network but loopback
// (an empty map: a discovery that is not given one of its own finds nothing), and the parts a
// test looks inside: the device object, its queue and the sensor. Header only: only tests that
// link the driver include it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "default_device.h"
#include "driver_log.h"
#include "fake_class_extension.h"
#include "framework_world.h"
#include "standin/network_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "main_device.h"
#include "main_driver.h"
#include "module_lock.h"
#include "queue.h"
#include "sensor_ddi.h"

namespace zntr::test {

class PreparedDevice {
  public:
    explicit PreparedDevice(bool prepare = true) {
        gEnableLog = 1;
        EXPECT_EQ(cMainDriver::CreateInstance(IID_IDriverEntry,
                                              reinterpret_cast<void**>(entry_.GetAddressOf())),
                  S_OK);
        EXPECT_EQ(added_.Add(entry_.Get(), host::kDefaultDeviceInstanceId), S_OK);
        if (prepare) {
            EXPECT_EQ(Prepare(), S_OK);
        }
    }
    ~PreparedDevice() {
        added_.hardware->OnReleaseHardware(added_.device.Get());
        added_.Remove();
        entry_ = nullptr;
        EXPECT_EQ(GetModuleLockCount(), 0) << "a driver object was left behind";
        gEnableLog = 0;
    }
    PreparedDevice(const PreparedDevice&) = delete;
    PreparedDevice& operator=(const PreparedDevice&) = delete;

    HRESULT Prepare() { return added_.hardware->OnPrepareHardware(added_.device.Get()); }
    cMainDevice& Device() { return *static_cast<cMainDevice*>(added_.hardware.Get()); }
    cQueue& Queue() {
        return *static_cast<cQueue*>(
            added_.device->Queue<IQueueCallbackRead>(IID_IQueueCallbackRead).Get());
    }
    AddedDevice& Framework() { return added_; }

    ComApartment apartment;
    zntr::platform::ScopedNetworkSettings network{{"", false}};
    FakeClassExtension extension;
    DriverLog log;

  private:
    ComPtr<IDriverEntry> entry_;
    AddedDevice added_;
};

}  // namespace zntr::test
