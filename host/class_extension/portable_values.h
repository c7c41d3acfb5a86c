// The crossing between the Portable Devices collections the driver's callbacks take and give and
// the plain values of the sensor messages. Each conversion copies: nothing handed back shares
// memory with the collection it came from.
#pragma once

#include <vector>

#include "sensor_message.h"
#include "standin/portabledevicetypes.h"
#include "standin/propidl.h"

namespace zntr::host {

// A PROPVARIANT as a message value. DISP_E_BADVARTYPE for a type the messages do not carry.
HRESULT ToMessageValue(const PROPVARIANT& source, sensor_message::Value* value);
// A message value as a PROPVARIANT that the caller clears.
HRESULT ToPropVariant(const sensor_message::Value& value, PROPVARIANT* target);

// Every key and value of a values collection, in its order. A value of a type the messages do
// not carry travels as a VT_ERROR value DISP_E_BADVARTYPE under its key, so that the rest of the
// answer still arrives.
HRESULT ReadValues(IPortableDeviceValues* values, sensor_message::ValueList* list);
HRESULT ReadKeys(IPortableDeviceKeyCollection* keys, std::vector<PROPERTYKEY>* list);
HRESULT ReadValueLists(IPortableDeviceValuesCollection* collection,
                       std::vector<sensor_message::ValueList>* lists);

// New collections (CoCreateInstance, in-process) holding the given keys or values.
HRESULT MakeKeyCollection(const std::vector<PROPERTYKEY>& keys,
                          IPortableDeviceKeyCollection** collection);
HRESULT MakeValues(const sensor_message::ValueList& list, IPortableDeviceValues** values);

}  // namespace zntr::host
