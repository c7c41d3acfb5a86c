// The JSON that `zntr watch --json` prints per event and `zntr get --json` prints once. The
// keys are stable; tools/README.md documents them.
//
// An event: {"event":"data"|"state", "received":"<ISO 8601 UTC>", ...}. A state event adds
// "state" (the SensorState number) and "state_name" ("READY"); a data event adds every data field
// it carries under its JSON name (below). "dropped_before" appears when the host dropped events
// for this client before this one.
#pragma once

#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

#include "sensor_events.h"
#include "sensor_values.h"

namespace zntr::tools {

// A key's published name without its SENSOR_DATA_TYPE_, SENSOR_PROPERTY_ or WPD_ prefix, in
// lower case ("latitude_degrees", "friendly_name", "object_id"); "{fmtid},pid" for a key that
// has no published name.
std::string JsonKeyName(const PROPERTYKEY& key);

// A value: numbers as numbers (a float through its shortest text), text as a string, a GUID as
// "{...}", a FILETIME as ISO 8601 UTC text, a byte vector as a hex string except the used
// satellites' PRNs, which are an array of numbers; no value (VT_EMPTY) is null, an error code
// {"error":"<what it means>"}.
nlohmann::ordered_json JsonValue(const PROPERTYKEY& key, const Value& value);

// An object of the values by their JSON names, leaving out the event parameters (event id and
// state), which the event object states in its own keys.
nlohmann::ordered_json JsonValues(const ValueList& values);

// The object of one event; an event of another kind is "event":"other" with "event_id", an end
// of the events "event":"ended" with "status".
nlohmann::ordered_json JsonEvent(const client::SensorEvent& event,
                                 std::chrono::system_clock::time_point received);

}  // namespace zntr::tools
