// zntr hotspot: runs the hotspot simulator until Ctrl-C (or --duration).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "network_map.h"
#include "simulator/simulator.h"
#include "stop_signals.h"

namespace zntr::tools {
namespace {

struct HotspotCommandOptions {
    hotspot::SimulatorOptions simulator;
    std::string capture_file;
    bool gps_disabled = false;
    std::string no_answer;
    bool refuse_http = false;
    double duration_seconds = 0.0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void RunHotspot(HotspotCommandOptions& options) {
    hotspot::SimulatorOptions& simulator = options.simulator;
    try {
        if (!options.capture_file.empty()) {
            simulator.capture = ReadFile(options.capture_file);
        }
        if (options.gps_disabled) {
            simulator.answer.gps_enable = "0";
        }
        if (options.refuse_http) {
            simulator.http_fault = hotspot::HttpFault::kRefuse;
        } else if (options.no_answer == "close") {
            simulator.http_fault = hotspot::HttpFault::kCloseWithoutAnswer;
        } else if (options.no_answer == "silent") {
            simulator.http_fault = hotspot::HttpFault::kSilent;
        }

        StopSignals stop;
        hotspot::HotspotSimulator running(simulator);
        std::printf("http %s:%d%s\n", running.address().c_str(), running.http_port(),
                    options.refuse_http ? " (refusing connections)" : "");
        std::printf("stream %s:%d\n", running.address().c_str(), running.stream_port());
        std::printf("ZNTR_NETMAP='%s'\n", NetworkMapFor(running).c_str());
        std::fflush(stdout);
        if (options.duration_seconds > 0) {
            stop.Wait(std::chrono::milliseconds(
                static_cast<std::int64_t>(options.duration_seconds * 1000.0)));
        } else {
            stop.WaitForever();
        }
        running.Stop();
        std::fprintf(stderr, "zntr hotspot: stopped\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr hotspot: %s\n", error.what());
        SetExitCode(1);
    }
}

}  // namespace

void AddHotspotCommand(CLI::App& app) {
    auto options = std::make_shared<HotspotCommandOptions>();
    hotspot::SimulatorOptions& sim = options->simulator;
    CLI::App* command = app.add_subcommand(
        "hotspot", "Run the hotspot simulator: the HTTP status page and the NMEA stream");
    command->add_option("--bind", sim.bind_address, "IPv4 address both servers listen on")
        ->capture_default_str();
    command->add_option("--http-port", sim.http_port, "Port of the status page (0: any free)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    command->add_option("--stream-port", sim.stream_port, "Port of the NMEA stream (0: any free)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();

    command->add_option("--capture", options->capture_file,
                        "Replay this NMEA capture in a loop instead of the synthetic drive");
    command
        ->add_option("--rate", sim.capture_lines_per_second,
                     "Capture lines per second (default: the capture's recorded pace)")
        ->check(CLI::NonNegativeNumber);
    command->add_option("--speed", sim.track.speed_knots, "Synthetic drive: speed in knots")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    command
        ->add_option("--period", sim.track.period_seconds,
                     "Synthetic drive: seconds between epochs")
        ->check(CLI::Range(0.01, 3600.0))
        ->capture_default_str();
    command->add_option("--seed", sim.track.seed, "Synthetic drive: seed of the signal strengths")
        ->capture_default_str();

    command->add_option("--gps-enable", sim.answer.gps_enable, "Value of GPSEnable= in the answer")
        ->capture_default_str();
    command->add_option("--announce-address", sim.answer.address,
                        "Value of WwIpaddr= (default: the stream's address)");
    command->add_option("--announce-port", sim.answer.port,
                        "Value of WwPort= (default: the stream's port)");

    command->add_flag("--gps-disabled", options->gps_disabled, "Fault: answer GPSEnable=0");
    command->add_flag("--no-address", sim.answer.omit_address, "Fault: leave WwIpaddr= out");
    command
        ->add_option("--no-answer", options->no_answer,
                     "Fault: accept the status request, then close or stay silent")
        ->check(CLI::IsMember({"close", "silent"}));
    command->add_flag("--split-headers", sim.answer.split_headers,
                      "Fault: status line and headers in one segment, the keys in a second");
    command->add_flag(
        "--no-esc", [&esc = sim.answer.esc](std::int64_t) { esc = false; },
        "Fault: values ended by a line feed instead of ESC");
    command->add_flag("--refuse-http", options->refuse_http,
                      "Fault: the status page's port refuses connections");
    command
        ->add_option("--close-after", sim.faults.close_after_sentences,
                     "Fault: close each stream after this many sentences")
        ->check(CLI::NonNegativeNumber);
    command
        ->add_option("--garbage", sim.faults.garbage_share,
                     "Fault: share (0-1) of sentences preceded by garbage bytes")
        ->check(CLI::Range(0.0, 1.0));
    command
        ->add_option("--bad-checksums", sim.faults.bad_checksum_share,
                     "Fault: share (0-1) of sentences with a wrong checksum")
        ->check(CLI::Range(0.0, 1.0));
    command->add_flag("--split-segments", sim.faults.split_segments,
                      "Fault: cut sentences across TCP segments at random points");
    command->add_option("--nul-bytes", sim.faults.nul_share, "Fault: share of sentences with NULs");
    command->add_option("--long-lines", sim.faults.long_line_share, "Fault: share of 4 KiB lines");
    command->add_option("--answer-filler", sim.answer.filler_bytes, "Fault: filler before keys");
    command->add_option("--answer-binary", sim.answer.binary_bytes, "Fault: random bytes first");
    command->add_option("--fault-seed", sim.faults.seed, "Seed of the stream faults")
        ->capture_default_str();
    command
        ->add_option("--duration", options->duration_seconds,
                     "Stop after this many seconds (default: run until Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    command->footer(
        "Prints the two endpoints and a ZNTR_NETMAP value that sends the driver's endpoints "
        "(its host name, 192.168.1.1:80 and 192.168.1.1:10110) here.\n\n"
        "Example:\n"
        "  zntr hotspot --http-port 18080 --stream-port 10110 --garbage 0.1");
    command->callback([options] { RunHotspot(*options); });
}

}  // namespace zntr::tools
