// The published names of the sensor's keys, events and types, for programs that show what the
// sensor answers, and a text form of every message value.
#pragma once

#include <string>

#include "sensor_message.h"

namespace zntr::client {

// "{2ED0F2A4-0087-41D3-87DB-6773370B3C88}": braces, upper-case hex.
std::string GuidText(const GUID& guid);

// The key's published name ("SENSOR_DATA_TYPE_LATITUDE_DEGREES"), or "{fmtid},pid" for a key
// the table does not know.
std::string KeyName(const PROPERTYKEY& key);

// The event's published name ("SENSOR_EVENT_DATA_UPDATED"), or its GUID text.
std::string EventName(const GUID& eventId);
// "SENSOR_STATE_READY" and the rest; the number for another value.
std::string SensorStateName(std::uint32_t state);

// A value as text: numbers in full precision, text as UTF-8, a GUID in its text form (with its
// name when it names an event or a sensor type), a FILETIME as an ISO 8601 UTC time, bytes in
// hex, an error code with what it means.
std::string FormatValue(const sensor_message::Value& value);

// Text as UTF-8.
std::string Utf8(const std::wstring& text);

}  // namespace zntr::client
