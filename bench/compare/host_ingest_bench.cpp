// Ingestion side by side: a stream of the synthetic drive at a given rate, fed for a given time
// to either the framework host running the driver module with one subscribed client, or gpsd
// with one `gpspipe -w` client. Prints one JSON object: the CPU seconds and peak resident memory
// of the ingesting process over the run, what the client received, and, for the host, the time
// from each PQXFI sentence leaving the stream server to the client's data event.
//
// Everything stays on loopback. The hotspot simulator answers the driver's port discovery and
// announces this program's timed stream server; the host gets a network map sending the
// hotspot's endpoints to the simulator, with the guard closed.
//
//   zntr_bench_host_ingest --program zntr|gpsd --rate HZ --seconds S --zntr PATH
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "device_file.h"
#include "loopback_tools.h"
#include "process_metrics.h"
#include "sensor_client.h"
#include "simulator/simulator.h"
#include "standin/sensors.h"
#include "temporary_folder.h"
#include "timed_stream_server.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using zntr::bench::SentFix;
using zntr::bench::TimedStreamServer;
using zntr::test::ChildProcess;
using zntr::test::WaitUntil;

struct Options {
    std::string program = "zntr";
    double rate = 1.0;
    int seconds = 60;
    std::string zntr;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--program") {
            options.program = value;
        } else if (name == "--rate") {
            options.rate = std::stod(value);
        } else if (name == "--seconds") {
            options.seconds = std::stoi(value);
        } else if (name == "--zntr") {
            options.zntr = value;
        } else {
            throw std::invalid_argument("unknown option " + name);
        }
    }
    if ((options.program != "zntr" && options.program != "gpsd") || options.rate <= 0 ||
        options.seconds <= 0 || (options.program == "zntr" && options.zntr.empty())) {
        throw std::invalid_argument(
            "usage: --program zntr|gpsd --rate HZ --seconds S [--zntr PATH]");
    }
    return options;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// CPU seconds and peak resident memory of a process, read while it still runs.
json ProcessFigures(int pid, double cpuAtStart) {
    const auto cpu = zntr::test::ReadProcessCpuSeconds(pid);
    const auto metrics = zntr::test::ReadProcessMetrics(pid);
    if (!cpu || !metrics) {
        throw std::runtime_error("the measured process is gone");
    }
    return {{"cpu_seconds", *cpu - cpuAtStart},
            {"cpu_seconds_total", *cpu},
            {"peak_rss_kib", metrics->peakResidentKiB}};
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[index];
}

struct ReceivedFix {
    Clock::time_point received;
    double latitude;
    double longitude;
};

// The PQXFI whose position is the nearest to the event's: the drive never passes the same place
// twice within a run, so the nearest sent position is the one the event reports.
double LatencyMs(const ReceivedFix& fix, const std::vector<SentFix>& sent) {
    const SentFix* best = nullptr;
    double bestDistance = INFINITY;
    for (const SentFix& candidate : sent) {
        const double distance =
            std::hypot(candidate.latitude - fix.latitude, candidate.longitude - fix.longitude);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = &candidate;
        }
    }
    if (best == nullptr || bestDistance > 1e-5) {
        return NAN;
    }
    return std::chrono::duration<double, std::milli>(fix.received - best->sent).count();
}

json RunZntrHost(const Options& options, TimedStreamServer& stream, const std::string& folder) {
    zntr::hotspot::SimulatorOptions simulator;
    simulator.answer.address = "127.0.0.1";
    simulator.answer.port = stream.port();
    zntr::hotspot::HotspotSimulator hotspot(simulator);
    const std::string http = "127.0.0.1:" + std::to_string(hotspot.http_port());
    const std::string map =
        "gps-hotspot.internal=127.0.0.1;127.0.0.1:80=" + http + ";192.168.1.1:80=" + http;
    ::setenv("ZNTR_NETMAP", map.c_str(), 1);
    ::unsetenv("ZNTR_ALLOW_LAN");

    const std::string socket = folder + "/host.sock";
    const std::string hostOutput = folder + "/host.out";
    auto host = ChildProcess::Start({options.zntr, "host", "--socket", socket, "--state",
                                     folder + "/state", "--log", folder + "/driver.log"},
                                    hostOutput);
    if (!host ||
        !WaitUntil([&] { return ReadFile(hostOutput).find("ready") != std::string::npos; }, 20s)) {
        throw std::runtime_error("the host did not start: " + ReadFile(hostOutput));
    }
    const double cpuAtStart = zntr::test::ReadProcessCpuSeconds(host->pid()).value_or(0);

    std::mutex mutex;
    std::vector<ReceivedFix> received;
    int dataEvents = 0;
    int stateEvents = 0;
    {
        const auto file = zntr::client::DeviceFile::Open(socket);
        zntr::client::SensorClient sensor(*file);
        sensor.Connect();
        sensor.Subscribe([&](const zntr::client::SensorEvent& event) {
            const auto now = Clock::now();
            std::lock_guard lock(mutex);
            if (event.kind == zntr::client::SensorEvent::Kind::kStateChanged) {
                ++stateEvents;
            }
            if (event.kind != zntr::client::SensorEvent::Kind::kDataUpdated) {
                return;
            }
            ++dataEvents;
            const auto* latitude = event.Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES);
            const auto* longitude = event.Find(SENSOR_DATA_TYPE_LONGITUDE_DEGREES);
            if (latitude && longitude && std::holds_alternative<double>(*latitude) &&
                std::holds_alternative<double>(*longitude)) {
                received.push_back(
                    {now, std::get<double>(*latitude), std::get<double>(*longitude)});
            }
        });
        std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
        json figures = ProcessFigures(host->pid(), cpuAtStart);
        sensor.Unsubscribe();
        sensor.Disconnect();

        const std::vector<SentFix> sent = stream.SentFixes();
        std::vector<double> latencies;
        std::lock_guard lock(mutex);
        for (const ReceivedFix& fix : received) {
            if (const double ms = LatencyMs(fix, sent); !std::isnan(ms)) {
                latencies.push_back(ms);
            }
        }
        figures["pqxfi_sent"] = sent.size();
        figures["data_events"] = dataEvents;
        figures["state_events"] = stateEvents;
        figures["latencies_matched"] = latencies.size();
        figures["latency_ms_median"] = Percentile(latencies, 0.5);
        figures["latency_ms_p99"] = Percentile(latencies, 0.99);
        figures["latency_ms_min"] = Percentile(latencies, 0.0);
        figures["latency_ms_max"] = Percentile(latencies, 1.0);
        figures["stream_connections"] = stream.Connections();
        if (host->InterruptAndWait(20s) != 0) {
            figures["host_exit"] = "not clean";
        }
        ::unsetenv("ZNTR_NETMAP");
        return figures;
    }
}

json RunGpsd(const Options& options, TimedStreamServer& stream, const std::string& folder) {
    const std::string gpsd = zntr::test::FindProgram("gpsd");
    const std::string gpspipe = zntr::test::FindProgram("gpspipe");
    if (gpsd.empty() || gpspipe.empty()) {
        throw std::runtime_error("gpsd and gpspipe are needed (Debian: gpsd, gpsd-clients)");
    }
    const int port = zntr::test::FreeLoopbackPort();
    // -N: in the foreground, this program's child; -n: read the source before any client comes;
    // gpsd listens on loopback only unless -G is given.
    auto daemon = ChildProcess::Start({gpsd, "-N", "-n", "-S", std::to_string(port),
                                       "tcp://127.0.0.1:" + std::to_string(stream.port())},
                                      folder + "/gpsd.out");
    if (!daemon || !zntr::test::WaitForLoopbackListener(port, 10s)) {
        throw std::runtime_error("gpsd did not start: " + ReadFile(folder + "/gpsd.out"));
    }
    const double cpuAtStart = zntr::test::ReadProcessCpuSeconds(daemon->pid()).value_or(0);
    const std::string pipeOutput = folder + "/gpspipe.out";
    auto client =
        ChildProcess::Start({gpspipe, "-w", "127.0.0.1:" + std::to_string(port)}, pipeOutput);
    std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
    json figures = ProcessFigures(daemon->pid(), cpuAtStart);
    client.reset();
    std::istringstream lines(ReadFile(pipeOutput));
    int reports = 0;
    for (std::string line; std::getline(lines, line);) {
        reports += line.find("\"class\":\"TPV\"") != std::string::npos &&
                   line.find("\"lat\":") != std::string::npos;
    }
    figures["pqxfi_sent"] = stream.SentFixes().size();
    figures["tpv_with_position"] = reports;
    figures["stream_connections"] = stream.Connections();
    daemon.reset();
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = ParseOptions(argc, argv);
        zntr::hotspot::TrackOptions track;
        track.period_seconds = 1.0 / options.rate;
        TimedStreamServer stream(track);
        const zntr::test::TemporaryFolder folder;
        json figures = options.program == "zntr"
                           ? RunZntrHost(options, stream, folder.path().string())
                           : RunGpsd(options, stream, folder.path().string());
        figures["program"] = options.program;
        figures["rate_hz"] = options.rate;
        figures["seconds"] = options.seconds;
        std::printf("%s\n", figures.dump().c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr_bench_host_ingest: %s\n", error.what());
        return 1;
    }
}
