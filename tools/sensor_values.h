// Reading the sensor's values the way people and scripts want them: numbers whatever their
// variant type, the used satellites' PRNs out of their byte vector, short state names, and
// times as ISO 8601 UTC text.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sensor_message.h"

namespace zntr::tools {

using sensor_message::Value;
using sensor_message::ValueList;

// The value as a number, whatever numeric type carries it: the driver writes a field with its
// own type on a reading and as a VT_R8 0.0 on a pass that received nothing.
std::optional<double> NumberOf(const Value& value);
// The number under the key, if the list has one.
std::optional<double> NumberAt(const ValueList& values, const PROPERTYKEY& key);

// SATELLITES_USED_PRNS holds four bytes per PRN in little-endian order; a trailing piece
// shorter than four bytes is no PRN.
std::vector<std::uint32_t> PrnsOf(const sensor_message::Bytes& bytes);

// "READY" for SENSOR_STATE_READY and the rest; the number for another value.
std::string ShortStateName(std::uint32_t state);

// "2026-12-05T12:00:03.000Z".
std::string IsoTime(std::chrono::system_clock::time_point time);
// The same text for a FILETIME count (100 ns since 1601-01-01 UTC).
std::string IsoTime(sensor_message::FileTime time);

}  // namespace zntr::tools
