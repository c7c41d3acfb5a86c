// The sensor class extension: the platform component that stands between client programs and a
// sensor driver. The framework host registers its class before it loads a driver module; the
// driver creates it with CoCreateInstance(CLSID_SensorClassExtension, ...,
// IID_ISensorClassExtension) and initialises it with the framework device and its sensor object.
// The behaviour and the message format are described in README.md beside this header.
#pragma once

#include "standin/sensorsclassextension.h"
#include "standin/windef.h"

namespace zntr::host {

// Registers the class object for CLSID_SensorClassExtension (an in-process server, for any
// number of creations) and gives the registration's cookie. The calling thread must be in a
// COM apartment, as for CoRegisterClassObject.
HRESULT RegisterSensorClassExtension(DWORD* cookie);
// Withdraws the registration; objects already made live on.
HRESULT RevokeSensorClassExtension(DWORD cookie);

// Makes a class extension directly, without the class table (tests use it).
HRESULT CreateSensorClassExtension(REFIID riid, void** object);

}  // namespace zntr::host
