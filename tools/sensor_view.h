// What `zntr watch` and `zntr demo` show: the sensor as the events have told it so far, and its
// text. Rendering is a pure function of the view and the clock, so it is tested without a
// terminal; terminal_panel.h puts the panel on the screen.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sensor_events.h"
#include "sensor_values.h"

namespace zntr::tools {

using Clock = std::chrono::system_clock;

struct SensorView {
    std::string title;  // the panel's first line
    std::optional<std::uint32_t> state;
    std::vector<std::uint32_t> states;  // the states seen, oldest first; the last few only
    ValueList fields;                   // the latest data fields
    std::optional<Clock::time_point> lastEvent;
    std::string lastEventKind;
    unsigned dataEvents = 0;
    unsigned stateEvents = 0;
    unsigned dropped = 0;

    // The state the sensor reported when asked, before any event.
    void SetState(std::uint32_t newState);
    // Takes in one event as received at `received`.
    void Apply(const client::SensorEvent& event, Clock::time_point received);
};

// The panel, one string a line: state with the states before it, position, altitude, speed,
// heading, fix quality and type, satellites used, dilutions, error radius, timestamp and the
// time since the last event. A value the sensor has not given shows as "-".
std::vector<std::string> RenderPanel(const SensorView& view, Clock::time_point now);

// One line per event, for output that is not a terminal:
//   "12:00:05Z state READY"
//   "12:00:06Z data 46.801260, 7.140683 alt 521.3 m speed 30.0 kn heading 84.2 fix 1/3 sats 8
//    hdop 0.9 error 4.5 m at 2026-12-05T12:00:06.000Z" (on one line)
std::string RenderEventLine(const client::SensorEvent& event, Clock::time_point received);
// "12:00:04Z state NO_DATA (current)": the state asked for at the start.
std::string RenderCurrentStateLine(std::uint32_t state, Clock::time_point received);

}  // namespace zntr::tools
