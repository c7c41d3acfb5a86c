// zntr track: writes a synthetic drive as an NMEA capture.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "track/synthetic_track.h"

namespace zntr::tools {
namespace {

struct TrackCommandOptions {
    int epochs = 60;
    double speed_knots = 30.0;
    double period_seconds = 1.0;
    std::string start = "12:00:00";
    std::string date = "2026-12-05";
    std::uint32_t seed = 1;
    std::vector<std::string> outages;
    bool no_loop = false;
    std::string output;
};

// "HH:MM:SS" or "HH:MM:SS.ss" as seconds of the day.
double ParseStart(const std::string& text) {
    int hours = 0;
    int minutes = 0;
    double seconds = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%2d:%2d:%lf%c", &hours, &minutes, &seconds, &end) != 3 ||
        hours > 23 || minutes > 59 || hours < 0 || minutes < 0 || seconds < 0 || seconds >= 60) {
        throw std::invalid_argument("--start wants HH:MM:SS, got '" + text + "'");
    }
    return hours * 3600.0 + minutes * 60.0 + seconds;
}

hotspot::CalendarDate ParseDate(const std::string& text) {
    hotspot::CalendarDate date{};
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &date.year, &date.month, &date.day, &end) != 3 ||
        !hotspot::IsValidDate(date)) {
        throw std::invalid_argument("--date wants a valid YYYY-MM-DD, got '" + text + "'");
    }
    return date;
}

std::pair<int, int> ParseOutage(const std::string& text) {
    int first = 0;
    int last = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%d:%d%c", &first, &last, &end) != 2 || first < 0 ||
        last < first) {
        throw std::invalid_argument("--outage wants FIRST:LAST epochs, got '" + text + "'");
    }
    return {first, last};
}

void RunTrack(const TrackCommandOptions& options) {
    hotspot::TrackOptions track;
    try {
        track.speed_knots = options.speed_knots;
        track.period_seconds = options.period_seconds;
        track.start_seconds_of_day = ParseStart(options.start);
        track.date = ParseDate(options.date);
        track.seed = options.seed;
        track.loop = !options.no_loop;
        for (const std::string& outage : options.outages) {
            track.outages.push_back(ParseOutage(outage));
        }
        const std::string capture = hotspot::RenderCapture(track, options.epochs);
        std::FILE* out = stdout;
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, std::fclose);
        if (!options.output.empty()) {
            file.reset(std::fopen(options.output.c_str(), "wb"));
            if (!file) {
                std::fprintf(stderr, "zntr track: cannot write %s\n", options.output.c_str());
                SetExitCode(1);
                return;
            }
            out = file.get();
        }
        if (std::fwrite(capture.data(), 1, capture.size(), out) != capture.size() ||
            std::fflush(out) != 0) {
            std::fprintf(stderr, "zntr track: write failed\n");
            SetExitCode(1);
        }
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "zntr track: %s\n", error.what());
        SetExitCode(2);
    }
}

}  // namespace

void AddTrackCommand(CLI::App& app) {
    auto options = std::make_shared<TrackCommandOptions>();
    CLI::App* track = app.add_subcommand(
        "track",
        "Write a synthetic drive as an NMEA capture (GGA, GLL, GSA, GSV, RMC, VTG, PQXFI)");
    track->add_option("--epochs", options->epochs, "Number of epochs (one per period)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    track->add_option("--speed", options->speed_knots, "Speed in knots")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    track->add_option("--period", options->period_seconds, "Seconds between epochs")
        ->check(CLI::Range(0.01, 3600.0))
        ->capture_default_str();
    track->add_option("--start", options->start, "UTC time of the first epoch, HH:MM:SS")
        ->capture_default_str();
    track->add_option("--date", options->date, "UTC date of the first epoch, YYYY-MM-DD")
        ->capture_default_str();
    track->add_option("--seed", options->seed, "Seed of the satellite signal strengths")
        ->capture_default_str();
    track->add_option("--outage", options->outages,
                      "Epochs FIRST:LAST (LAST excluded) without a fix; may be repeated");
    track->add_flag("--no-loop", options->no_loop,
                    "Stop at the route's last waypoint instead of driving the loop again");
    track->add_option("-o,--output", options->output, "File to write (standard output if absent)");
    track->footer(
        "The same options always give the same bytes.\n\n"
        "Examples:\n"
        "  zntr track --epochs 60 --outage 30:36 -o data/sample-drive.nmea\n"
        "  zntr track --epochs 10 | zntr decode --fix");
    track->callback([options] { RunTrack(*options); });
}

}  // namespace zntr::tools
