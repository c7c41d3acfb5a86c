// The driver's sensor outside the driver: one cSensorDDI created and initialised on a framework
// device of its own, set in gpSensorDDI (where the line sink finds it), with the data and state
// events the device would hand it, and a client subscribed through the callback the class
// extension calls, or none. `zntr decode --fields` feeds it lines; tests and fuzz targets use it
// as the sensor of a device without the rest of the driver.
#pragma once

#include <filesystem>
#include <string>

#include "sensor_ddi.h"
#include "standin/wrl_client.h"

namespace zntr::tools {

class OfflineSensor {
  public:
    struct Options {
        std::wstring deviceInstanceId = L"ZNTR\\DECODE\\0000";
        // Where the device's named values persist (the unique ID); empty: in memory only.
        std::filesystem::path stateFolder;
        bool subscribed = true;
    };

    OfflineSensor() = default;
    // Releases the sensor and clears gpSensorDDI. A feed that a client's connect started must be
    // ended (the last disconnect) before.
    ~OfflineSensor();
    OfflineSensor(const OfflineSensor&) = delete;
    OfflineSensor& operator=(const OfflineSensor&) = delete;

    // Enters the calling thread into COM and sets the sensor up; its status.
    HRESULT Start(const Options& options);
    HRESULT Start() { return Start(Options{}); }

    cSensorDDI& Sensor() const { return *gpSensorDDI; }
    IWDFDevice* Device() const { return device_.Get(); }

    // Whether the event was set since the last look; looking resets it, as the event thread's
    // wait does.
    bool DataEventSet();
    bool StateEventSet();
    // The data fields as the event thread copies them for a data event.
    IPortableDeviceValues* CopyDataFields();

  private:
    bool comEntered_ = false;
    Microsoft::WRL::ComPtr<IWDFDevice> device_;
    Microsoft::WRL::ComPtr<IPortableDeviceValues> dataValues_;
    HANDLE dataEvent_ = nullptr;
    HANDLE stateEvent_ = nullptr;
};

}  // namespace zntr::tools
