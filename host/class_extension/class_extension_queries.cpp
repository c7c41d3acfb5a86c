// The class extension's queries: the driver's query and set callbacks, and the list of the
// sensors the driver reports.
#include <algorithm>

#include "class_extension.h"
#include "portable_values.h"
#include "standin/portabledevice.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;
namespace message = zntr::sensor_message;

HRESULT SensorClassExtension::Query(const message::Request& request, IWDFFile* file,
                                    message::Answer* answer) {
    HRESULT hr = S_OK;
    if (request.command != message::Command::kGetSupportedSensorObjects) {
        hr = CheckSensorId(request.sensorId);
        if (FAILED(hr)) {
            return hr;
        }
    }
    DriverCall driver(*this);
    if (!driver) {
        return message::kStatusNotReady;
    }
    // The callbacks take the identifier as a writable string.
    std::wstring sensorId = request.sensorId;
    switch (request.command) {
        case message::Command::kGetSupportedSensorObjects: {
            ComPtr<IPortableDeviceValuesCollection> objects;
            hr = driver->OnGetSupportedSensorObjects(objects.GetAddressOf());
            if (SUCCEEDED(hr)) {
                const HRESULT read = ReadValueLists(objects.Get(), &answer->valueLists);
                hr = FAILED(read) ? read : hr;
                LearnSensors(answer->valueLists);
            }
            return hr;
        }
        case message::Command::kGetSupportedProperties:
        case message::Command::kGetSupportedDataFields: {
            ComPtr<IPortableDeviceKeyCollection> keys;
            hr = request.command == message::Command::kGetSupportedProperties
                     ? driver->OnGetSupportedProperties(sensorId.data(), keys.GetAddressOf())
                     : driver->OnGetSupportedDataFields(sensorId.data(), keys.GetAddressOf());
            if (SUCCEEDED(hr)) {
                const HRESULT read = ReadKeys(keys.Get(), &answer->keys);
                hr = FAILED(read) ? read : hr;
            }
            return hr;
        }
        case message::Command::kGetSupportedEvents: {
            zntr::platform::TaskMemory<GUID> events;
            ULONG count = 0;
            hr = driver->OnGetSupportedEvents(sensorId.data(), events.put(), &count);
            if (SUCCEEDED(hr)) {
                if (events.get() == nullptr && count != 0) {
                    return E_POINTER;
                }
                answer->guids.assign(events.get(), events.get() + count);
            }
            return hr;
        }
        case message::Command::kGetProperties:
        case message::Command::kGetDataFields: {
            ComPtr<IPortableDeviceKeyCollection> keys;
            hr = MakeKeyCollection(request.keys, keys.GetAddressOf());
            if (FAILED(hr)) {
                return hr;
            }
            ComPtr<IPortableDeviceValues> values;
            hr = request.command == message::Command::kGetProperties
                     ? driver->OnGetProperties(file, sensorId.data(), keys.Get(),
                                               values.GetAddressOf())
                     : driver->OnGetDataFields(file, sensorId.data(), keys.Get(),
                                               values.GetAddressOf());
            if (SUCCEEDED(hr)) {
                const HRESULT read = ReadValues(values.Get(), &answer->values);
                hr = FAILED(read) ? read : hr;
            }
            return hr;
        }
        case message::Command::kSetProperties: {
            ComPtr<IPortableDeviceValues> toSet;
            hr = MakeValues(request.values, toSet.GetAddressOf());
            if (FAILED(hr)) {
                return hr;
            }
            ComPtr<IPortableDeviceValues> results;
            hr =
                driver->OnSetProperties(file, sensorId.data(), toSet.Get(), results.GetAddressOf());
            if (SUCCEEDED(hr)) {
                const HRESULT read = ReadValues(results.Get(), &answer->values);
                hr = FAILED(read) ? read : hr;
            }
            return hr;
        }
        default:
            return message::kStatusNotSupported;
    }
}

HRESULT SensorClassExtension::CheckSensorId(const std::wstring& sensorId) {
    auto known = [&] {
        return std::find(sensorIds_->begin(), sensorIds_->end(), sensorId) != sensorIds_->end()
                   ? S_OK
                   : message::kStatusUnknownSensor;
    };
    {
        std::lock_guard<std::mutex> lock(driverLock_);
        if (sensorIds_) {
            return known();
        }
    }
    std::vector<message::ValueList> objects;
    {
        DriverCall driver(*this);
        if (!driver) {
            return message::kStatusNotReady;
        }
        ComPtr<IPortableDeviceValuesCollection> collection;
        HRESULT hr = driver->OnGetSupportedSensorObjects(collection.GetAddressOf());
        if (SUCCEEDED(hr)) {
            hr = ReadValueLists(collection.Get(), &objects);
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    LearnSensors(objects);
    std::lock_guard<std::mutex> lock(driverLock_);
    return sensorIds_ ? known() : message::kStatusUnknownSensor;
}

// The identifiers are the WPD_OBJECT_ID text values of the sensor objects. A driver that reports
// none yet is asked again next time.
void SensorClassExtension::LearnSensors(const std::vector<message::ValueList>& sensorObjects) {
    std::vector<std::wstring> ids;
    for (const message::ValueList& object : sensorObjects) {
        const message::Value* id = message::FindValue(object, WPD_OBJECT_ID);
        if (id != nullptr && std::holds_alternative<std::wstring>(*id)) {
            ids.push_back(std::get<std::wstring>(*id));
        }
    }
    std::lock_guard<std::mutex> lock(driverLock_);
    if (!ids.empty() && driver_) {
        sensorIds_ = std::move(ids);
    }
}

}  // namespace zntr::host
