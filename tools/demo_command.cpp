// zntr demo: the whole system in one command. A hotspot simulator in this process streams the
// built-in drive (or a capture) on loopback; a framework host runs the real driver module as a
// child process, in a folder of its own, with the network map that sends the driver's hotspot
// endpoints to the simulator; this process then watches the sensor come alive. Ctrl-C or
// --duration stops it all in order: the watcher leaves, the host releases the device and ends,
// the simulator stops, the folder goes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>

#include "commands.h"
#include "device_open.h"
#include "host_process.h"
#include "network_map.h"
#include "sensor_watch.h"
#include "simulator/simulator.h"

namespace zntr::tools {
namespace {

struct DemoOptions {
    double duration = 0.0;
    std::string capture;
    double rate = 0.0;
    double speed = hotspot::TrackOptions{}.speed_knots;
    bool gpsDisabled = false;
    int cutAfter = 0;
    int httpPort = 0;
    int streamPort = 0;
    bool json = false;
    std::string log;
};

// A folder of the demo's own under $TMPDIR (or /tmp), removed with its contents at the end.
class DemoFolder {
  public:
    DemoFolder() {
        const char* base = std::getenv("TMPDIR");
        // A socket path must fit in 108 bytes: a long TMPDIR is passed over.
        std::string pattern = (base != nullptr && base[0] == '/' && std::string(base).size() < 64)
                                  ? std::string(base)
                                  : std::string("/tmp");
        pattern += "/zntr-demo-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~DemoFolder() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    DemoFolder(const DemoFolder&) = delete;
    DemoFolder& operator=(const DemoFolder&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

std::string ThisProgram() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("zntr") : path.string();
}

// The simulator's options from the demo's flags; throws std::runtime_error for an unreadable
// capture.
hotspot::SimulatorOptions SimulatorFor(const DemoOptions& options) {
    hotspot::SimulatorOptions simulator;
    simulator.http_port = options.httpPort;
    simulator.stream_port = options.streamPort;
    simulator.track.speed_knots = options.speed;
    if (!options.capture.empty()) {
        std::ifstream in(options.capture, std::ios::binary);
        std::ostringstream text;
        if (!(text << in.rdbuf())) {
            throw std::runtime_error("cannot read the capture " + options.capture);
        }
        simulator.capture = text.str();
        simulator.capture_lines_per_second = options.rate;
    }
    if (options.gpsDisabled) {
        simulator.answer.gps_enable = "0";
    }
    simulator.faults.close_after_sentences = options.cutAfter;
    return simulator;
}

std::string Describe(const DemoOptions& options) {
    char speed[32];
    std::snprintf(speed, sizeof(speed), "%.1f", options.speed);
    std::string what = options.capture.empty()
                           ? "the built-in drive at " + std::string(speed) + " kn"
                           : "the capture " + options.capture;
    if (options.gpsDisabled) {
        what += ", GPS disabled (GPSEnable=0)";
    }
    if (options.cutAfter > 0) {
        what += ", stream cut after " + std::to_string(options.cutAfter) + " sentences";
    }
    return what;
}

// Writes the .reg file that switches the driver's debug log on.
std::string EnableLogRegistry(const std::string& folder) {
    const std::string path = folder + "/enable-log.reg";
    std::ofstream(path) << "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zentrova\\ZADOdizEzud]\r\n"
                           "\"EnableLog\"=dword:00000001\r\n";
    return path;
}

int RunDemo(const DemoOptions& options) {
    StopSignals stop;
    const DemoFolder folder;
    if (folder.Path().empty()) {
        std::perror("zntr demo: cannot make a temporary folder");
        return 1;
    }
    std::unique_ptr<hotspot::HotspotSimulator> hotspot;
    try {
        hotspot = std::make_unique<hotspot::HotspotSimulator>(SimulatorFor(options));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr demo: cannot start the hotspot simulator: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr,
                 "zntr demo: hotspot simulator on loopback: status page %s:%d, NMEA stream %s:%d, "
                 "streaming %s\n",
                 hotspot->address().c_str(), hotspot->http_port(), hotspot->address().c_str(),
                 hotspot->stream_port(), Describe(options).c_str());

    HostProcessOptions hostOptions;
    hostOptions.program = ThisProgram();
    hostOptions.folder = folder.Path();
    hostOptions.networkMap = NetworkMapFor(*hotspot);
    if (!options.log.empty()) {
        hostOptions.extraArguments = {"--log", options.log, "--registry",
                                      EnableLogRegistry(folder.Path())};
    }
    std::unique_ptr<HostProcess> host;
    try {
        host = HostProcess::Start(hostOptions);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr demo: cannot start the framework host: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr,
                 "zntr demo: framework host (process %d) runs the driver module and serves the "
                 "device at %s\n",
                 static_cast<int>(host->Pid()), host->SocketPath().c_str());

    int status = 1;
    if (auto file = OpenDevice("zntr demo", host->SocketPath())) {
        WatchOptions watch;
        watch.name = "zntr demo";
        watch.output = ChooseWatchOutput(options.json);
        watch.title = "zntr demo: " + Describe(options) + " (Ctrl-C to stop)";
        watch.durationSeconds = options.duration;
        std::fprintf(stderr, "zntr demo: watching the sensor%s\n",
                     options.duration > 0 ? "" : " (Ctrl-C to stop)");
        status = WatchSensor(*file, watch, stop, stdout);
    }
    const int hostStatus = host->Stop();
    hotspot->Stop();
    if (hostStatus != 0) {
        std::fprintf(stderr, "zntr demo: the host ended with status %d:\n%s", hostStatus,
                     host->Output().c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "zntr demo: stopped: the host released the device, the simulator "
                 "closed its ports\n");
    return status;
}

}  // namespace

void AddDemoCommand(CLI::App& app) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* command = app.add_subcommand(
        "demo", "Run a simulated hotspot, the host with the driver, and a live sensor view");
    command
        ->add_option("--duration", options->duration,
                     "Stop after this many seconds (default: run until Ctrl-C)")
        ->check(CLI::PositiveNumber);
    command
        ->add_option("--capture", options->capture,
                     "Replay this NMEA capture in a loop instead of the built-in drive")
        ->check(CLI::ExistingFile);
    command
        ->add_option("--rate", options->rate,
                     "Capture lines per second (default: the capture's recorded pace)")
        ->check(CLI::PositiveNumber);
    command->add_option("--speed", options->speed, "Speed of the built-in drive in knots")
        ->check(CLI::Range(0.0, 1000.0))
        ->capture_default_str();
    command->add_flag("--gps-disabled", options->gpsDisabled,
                      "Fault: the hotspot answers GPSEnable=0 (the sensor never gets data)");
    command
        ->add_option("--cut-after", options->cutAfter,
                     "Fault: the hotspot closes the stream after this many sentences")
        ->check(CLI::PositiveNumber);
    command
        ->add_option("--http-port", options->httpPort,
                     "The simulator's status page port (default: any free one)")
        ->check(CLI::Range(0, 65535));
    command
        ->add_option("--stream-port", options->streamPort,
                     "The simulator's NMEA stream port (default: any free one)")
        ->check(CLI::Range(0, 65535));
    command->add_flag("--json", options->json, "One JSON object per event, as `zntr watch --json`");
    command
        ->add_option("--log", options->log, "Switch the driver's debug log on and write it to FILE")
        ->option_text("FILE");
    command->footer(
        "Everything stays on loopback: the host gets a ZNTR_NETMAP that sends the driver's "
        "hotspot endpoints to the simulator, and the LAN stays closed. The host's socket and "
        "state live in a temporary folder, so a host of your own is not disturbed. Progress "
        "goes to standard error, the view to standard output.\n\n"
        "Examples:\n"
        "  zntr demo\n"
        "  zntr demo --duration 30 --speed 60\n"
        "  zntr demo --capture data/sample-drive.nmea --rate 20\n"
        "  zntr demo --gps-disabled\n"
        "  zntr demo --cut-after 100\n"
        "  zntr demo --json --duration 20 | jq -c 'select(.event==\"data\")'");
    command->callback([options] { SetExitCode(RunDemo(*options)); });
}

}  // namespace zntr::tools
