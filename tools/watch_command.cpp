// zntr watch: the sensor of a running host, live: a panel redrawn in place on a terminal, one
// line per event otherwise, one JSON object per event with --json; --gpx also writes a track.
#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "default_socket.h"
#include "device_open.h"
#include "sensor_watch.h"

namespace zntr::tools {
namespace {

struct WatchCommandOptions {
    std::string socket;
    bool json = false;
    std::string gpx;
    unsigned count = 0;
    double duration = 0.0;
};

int RunWatch(const WatchCommandOptions& options) {
    // Before any thread starts (the device file's receiver inherits the mask).
    StopSignals stop;
    const auto file = OpenDevice("zntr watch", options.socket);
    if (!file) {
        return 1;
    }
    WatchOptions watch;
    watch.output = ChooseWatchOutput(options.json);
    watch.title = "zntr watch: the sensor at " +
                  (options.socket.empty() ? client::DefaultSocketPath() : options.socket) +
                  " (Ctrl-C to stop)";
    watch.gpxPath = options.gpx;
    watch.count = options.count;
    watch.durationSeconds = options.duration;
    return WatchSensor(*file, watch, stop, stdout);
}

}  // namespace

void AddWatchCommand(CLI::App& app) {
    auto options = std::make_shared<WatchCommandOptions>();
    CLI::App* command = app.add_subcommand(
        "watch", "Show the sensor of a running host live: position, fix, state, events");
    AddSocketOption(*command, options->socket);
    command->add_flag("--json", options->json,
                      "One JSON object per event (keys in tools/README.md)");
    command
        ->add_option("--gpx", options->gpx,
                     "Also write the positions to FILE as a GPX track (complete after every "
                     "point)")
        ->option_text("FILE");
    command->add_option("--count", options->count, "Stop after this many readings (data events)")
        ->check(CLI::PositiveNumber);
    command
        ->add_option("--duration", options->duration,
                     "Stop after this many seconds (default: run until Ctrl-C)")
        ->check(CLI::PositiveNumber);
    command->footer(
        "On a terminal the view is redrawn in place; piped or redirected it prints one line per "
        "event, and never an escape code. It first shows the state the sensor is in, then each "
        "event. Exit status 0 when stopped by Ctrl-C, --count or --duration; 1 when no host "
        "runs, the device refuses the open, or the host stops.\n\n"
        "Examples:\n"
        "  zntr watch\n"
        "  zntr watch --json --count 5 | jq .latitude_degrees\n"
        "  zntr watch --gpx drive.gpx --duration 600\n"
        "  zntr watch --socket /tmp/zntr-test/host.sock");
    command->callback([options] { SetExitCode(RunWatch(*options)); });
}

}  // namespace zntr::tools
