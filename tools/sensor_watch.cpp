#include "sensor_watch.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>

#include "device_error.h"
#include "event_json.h"
#include "gpx_track.h"
#include "sensor_client.h"
#include "sensor_view.h"
#include "standin/sensors.h"
#include "terminal_panel.h"

namespace zntr::tools {
namespace {

using namespace std::chrono_literals;
using client::SensorEvent;

// How often the panel is redrawn without an event, so that "s ago" moves on; also the longest
// a stop signal waits to be noticed.
constexpr auto kTick = 250ms;

// Writes what the chosen output shows of the events, and the GPX track when one is asked for.
class EventPrinter {
  public:
    EventPrinter(const WatchOptions& options, std::FILE* out)
        : options_(options), out_(out), panel_(out) {
        view_.title = options.title;
        if (!options.gpxPath.empty()) {
            gpx_ = std::make_unique<GpxTrack>(options.gpxPath);
        }
    }

    void Current(std::uint32_t state, const ValueList& fields, Clock::time_point now) {
        view_.SetState(state);
        view_.fields = fields;
        if (options_.output == WatchOutput::kJson) {
            auto object = JsonEvent(StateEvent(state), now);
            object["current"] = true;
            Line(object.dump());
        } else if (options_.output == WatchOutput::kLines) {
            Line(RenderCurrentStateLine(state, now));
        }
        Redraw(now);
    }

    void Event(const SensorEvent& event, Clock::time_point now) {
        view_.Apply(event, now);
        if (gpx_ && event.kind == SensorEvent::Kind::kDataUpdated) {
            gpx_->Add(event.parameters);
        }
        if (options_.output == WatchOutput::kJson) {
            Line(JsonEvent(event, now).dump());
        } else if (options_.output == WatchOutput::kLines) {
            Line(RenderEventLine(event, now));
        }
        Redraw(now);
    }

    void Redraw(Clock::time_point now) {
        if (options_.output == WatchOutput::kPanel) {
            panel_.Draw(RenderPanel(view_, now));
        }
    }

    unsigned DataEvents() const { return view_.dataEvents; }

  private:
    static SensorEvent StateEvent(std::uint32_t state) {
        SensorEvent event;
        event.kind = SensorEvent::Kind::kStateChanged;
        event.state = state;
        return event;
    }

    void Line(const std::string& text) {
        std::fprintf(out_, "%s\n", text.c_str());
        std::fflush(out_);
    }

    const WatchOptions& options_;
    std::FILE* out_;
    TerminalPanel panel_;
    SensorView view_;
    std::unique_ptr<GpxTrack> gpx_;
};

std::optional<std::uint32_t> StateOf(client::SensorClient& sensor) {
    const PROPERTYKEY keys[] = {SENSOR_PROPERTY_STATE};
    const client::ValuesAnswer answer = sensor.GetProperties(keys);
    const Value* state = answer.Find(SENSOR_PROPERTY_STATE);
    if (state == nullptr || !std::holds_alternative<std::uint32_t>(*state)) {
        return std::nullopt;
    }
    return std::get<std::uint32_t>(*state);
}

ValueList CurrentFields(client::SensorClient& sensor) {
    const std::vector<PROPERTYKEY> keys = sensor.SupportedDataFields();
    return sensor.GetDataFields(keys).values;
}

}  // namespace

WatchOutput ChooseWatchOutput(bool json) {
    if (json) {
        return WatchOutput::kJson;
    }
    return IsTerminal(stdout) ? WatchOutput::kPanel : WatchOutput::kLines;
}

int WatchSensor(client::DeviceChannel& channel, const WatchOptions& options, StopSignals& stop,
                std::FILE* out) {
    const auto deadline = options.durationSeconds > 0
                              ? std::chrono::steady_clock::now() +
                                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(options.durationSeconds))
                              : std::chrono::steady_clock::time_point::max();
    // Declared before the client: the client's destructor ends the event thread that pushes
    // into the queue.
    client::EventQueue events;
    try {
        EventPrinter printer(options, out);
        client::SensorClient sensor(channel);
        sensor.Connect();
        sensor.Subscribe(events.Callback());
        if (const auto state = StateOf(sensor)) {
            printer.Current(*state, CurrentFields(sensor), Clock::now());
        }
        int status = 0;
        while (!stop.Wait(0ms)) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                break;
            }
            const auto wait = std::min<std::chrono::steady_clock::duration>(kTick, deadline - now);
            const std::optional<SensorEvent> event =
                events.Next(std::chrono::ceil<std::chrono::milliseconds>(wait));
            if (!event) {
                printer.Redraw(Clock::now());
                continue;
            }
            printer.Event(*event, Clock::now());
            if (event->kind == SensorEvent::Kind::kEnded) {
                std::fprintf(stderr, "%s: the sensor's events ended: %s\n", options.name.c_str(),
                             client::DescribeDeviceStatus(event->status).c_str());
                status = 1;
                break;
            }
            if (options.count != 0 && printer.DataEvents() >= options.count) {
                break;
            }
        }
        if (status == 0) {
            sensor.Unsubscribe();
            sensor.Disconnect();
        }
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", options.name.c_str(), error.what());
        return 1;
    }
}

}  // namespace zntr::tools
