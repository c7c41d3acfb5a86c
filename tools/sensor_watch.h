// Watching the sensor through an open device file: connect, subscribe, and show each event as
// it comes, until Ctrl-C, a duration, a number of readings, or the end of the events. What
// `zntr watch` does at a host's socket and `zntr demo` at its own host's.
#pragma once

#include <cstdio>
#include <string>

// HRESULT first: device_channel.h uses it without declaring it.
#include "standin/winerror.h"

#include "device_channel.h"
#include "stop_signals.h"

namespace zntr::tools {

enum class WatchOutput {
    kPanel,  // the panel redrawn in place (a terminal)
    kLines,  // one line per event (anything else)
    kJson,   // one JSON object per event (event_json.h)
};

struct WatchOptions {
    std::string name = "zntr watch";  // how messages name the command
    std::string title;                // the panel's first line
    WatchOutput output = WatchOutput::kLines;
    std::string gpxPath;           // also write the positions as a GPX track there
    unsigned count = 0;            // stop after this many data events (0: no limit)
    double durationSeconds = 0.0;  // stop after this long (0: no limit)
};

// The output a command picks for standard output: JSON when asked, the panel on a terminal,
// lines otherwise.
WatchOutput ChooseWatchOutput(bool json);

// Shows the sensor's current state first (asked for after subscribing, so no change falls
// between the two; JSON marks it "current":true), then every event. Returns 0 when it stopped as
// asked; 1 when a request failed or the events ended on their own (the host stopped, the device
// went away), with a message on standard error.
int WatchSensor(client::DeviceChannel& channel, const WatchOptions& options, StopSignals& stop,
                std::FILE* out);

}  // namespace zntr::tools
