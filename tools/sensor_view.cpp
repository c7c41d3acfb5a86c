#include "sensor_view.h"

#include <cstdio>
#include <variant>

#include "device_error.h"
#include "sensor_key_names.h"
#include "standin/sensors.h"

namespace zntr::tools {
namespace {

using client::SensorEvent;

constexpr std::size_t kStatesKept = 4;
constexpr double kKilometresPerHourPerKnot = 1.852;

// The meanings of GGA's fix quality digit and GSA's fix mode, as the data fields carry them.
constexpr const char* kFixQualityNames[] = {"invalid",   "GPS",       "DGPS",   "PPS",       "RTK",
                                            "float RTK", "estimated", "manual", "simulation"};
constexpr const char* kFixTypeNames[] = {"-", "none", "2D", "3D"};

std::string Fixed(std::optional<double> value, int decimals, const char* unit = "") {
    if (!value) {
        return "-";
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f%s", decimals, *value, unit);
    return text;
}

std::optional<double> At(const SensorView& view, const PROPERTYKEY& key) {
    return NumberAt(view.fields, key);
}

template <std::size_t N>
std::string Named(std::optional<double> value, const char* const (&names)[N]) {
    if (!value) {
        return "-";
    }
    const auto index = static_cast<long>(*value);
    const std::string number = std::to_string(index);
    return index >= 0 && static_cast<std::size_t>(index) < N ? number + " (" + names[index] + ")"
                                                             : number;
}

std::string Timestamp(const ValueList& fields) {
    const Value* value = sensor_message::FindValue(fields, SENSOR_DATA_TYPE_TIMESTAMP);
    if (value == nullptr || std::holds_alternative<std::monostate>(*value)) {
        return "-";
    }
    if (const auto* time = std::get_if<sensor_message::FileTime>(value)) {
        return IsoTime(*time);
    }
    return client::FormatValue(*value);
}

std::string UsedSatellites(const ValueList& fields) {
    const std::optional<double> count = NumberAt(fields, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT);
    std::string text = Fixed(count, 0);
    const Value* prns = sensor_message::FindValue(fields, SENSOR_DATA_TYPE_SATELLITES_USED_PRNS);
    const auto* bytes = prns == nullptr ? nullptr : std::get_if<sensor_message::Bytes>(prns);
    if (bytes != nullptr && !bytes->empty()) {
        text += " used:";
        for (const std::uint32_t prn : PrnsOf(*bytes)) {
            text += " " + std::to_string(prn);
        }
    }
    return text;
}

std::string TimeOfDay(Clock::time_point time) {
    return IsoTime(time).substr(11, 8) + "Z";
}

std::string Row(const char* label, const std::string& value) {
    char text[32];
    std::snprintf(text, sizeof(text), "  %-14s", label);
    return text + value;
}

}  // namespace

void SensorView::SetState(std::uint32_t newState) {
    state = newState;
    if (states.empty() || states.back() != newState) {
        states.push_back(newState);
    }
    if (states.size() > kStatesKept) {
        states.erase(states.begin());
    }
}

void SensorView::Apply(const SensorEvent& event, Clock::time_point received) {
    dropped += event.droppedBefore;
    switch (event.kind) {
        case SensorEvent::Kind::kDataUpdated:
            fields = event.parameters;
            ++dataEvents;
            lastEventKind = "data";
            break;
        case SensorEvent::Kind::kStateChanged:
            if (event.state) {
                SetState(*event.state);
            }
            ++stateEvents;
            lastEventKind = "state";
            break;
        case SensorEvent::Kind::kOther:
            lastEventKind = client::EventName(event.eventId);
            break;
        case SensorEvent::Kind::kEnded:
            return;
    }
    lastEvent = received;
}

std::vector<std::string> RenderPanel(const SensorView& view, Clock::time_point now) {
    std::vector<std::string> lines;
    lines.push_back(view.title);

    std::string state = view.state ? ShortStateName(*view.state) : "-";
    if (view.states.size() > 1) {
        std::string history;
        for (const std::uint32_t seen : view.states) {
            history += (history.empty() ? "" : " -> ") + ShortStateName(seen);
        }
        state += "   (" + history + ")";
    }
    lines.push_back(Row("State", state));

    const auto latitude = At(view, SENSOR_DATA_TYPE_LATITUDE_DEGREES);
    const auto longitude = At(view, SENSOR_DATA_TYPE_LONGITUDE_DEGREES);
    lines.push_back(Row("Position", latitude && longitude
                                        ? Fixed(latitude, 6) + ", " + Fixed(longitude, 6)
                                        : std::string("-")));
    lines.push_back(Row(
        "Altitude",
        Fixed(At(view, SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS), 1, " m") + " sea level, " +
            Fixed(At(view, SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS), 1, " m") + " ellipsoid"));
    const auto knots = At(view, SENSOR_DATA_TYPE_SPEED_KNOTS);
    lines.push_back(
        Row("Speed", Fixed(knots, 1, " kn") +
                         (knots ? " (" + Fixed(*knots * kKilometresPerHourPerKnot, 1) + " km/h)"
                                : std::string())));
    lines.push_back(
        Row("Heading", Fixed(At(view, SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES), 1) + " true, " +
                           Fixed(At(view, SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES), 1) +
                           " magnetic (degrees)"));
    lines.push_back(
        Row("Fix", "quality " + Named(At(view, SENSOR_DATA_TYPE_FIX_QUALITY), kFixQualityNames) +
                       ", type " + Named(At(view, SENSOR_DATA_TYPE_FIX_TYPE), kFixTypeNames)));
    lines.push_back(Row("Satellites", UsedSatellites(view.fields)));
    lines.push_back(Row(
        "Dilution",
        "position " + Fixed(At(view, SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION), 1) +
            ", horizontal " + Fixed(At(view, SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION), 1) +
            ", vertical " + Fixed(At(view, SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION), 1)));
    lines.push_back(
        Row("Error radius", Fixed(At(view, SENSOR_DATA_TYPE_ERROR_RADIUS_METERS), 1, " m")));
    lines.push_back(Row("Timestamp", Timestamp(view.fields)));

    std::string last = "none yet";
    if (view.lastEvent) {
        const double ago = std::chrono::duration<double>(now - *view.lastEvent).count();
        last = view.lastEventKind + ", " + Fixed(ago < 0 ? 0.0 : ago, 1) + " s ago";
    }
    last += " (" + std::to_string(view.dataEvents) + " data, " + std::to_string(view.stateEvents) +
            " state";
    if (view.dropped != 0) {
        last += ", " + std::to_string(view.dropped) + " dropped";
    }
    lines.push_back(Row("Last event", last + ")"));
    return lines;
}

std::string RenderEventLine(const SensorEvent& event, Clock::time_point received) {
    const std::string when = TimeOfDay(received);
    switch (event.kind) {
        case SensorEvent::Kind::kStateChanged:
            return when + " state " + (event.state ? ShortStateName(*event.state) : "-");
        case SensorEvent::Kind::kEnded:
            return when + " ended: " + client::DescribeDeviceStatus(event.status);
        case SensorEvent::Kind::kOther:
            return when + " event " + client::EventName(event.eventId);
        case SensorEvent::Kind::kDataUpdated:
            break;
    }
    const ValueList& fields = event.parameters;
    const auto latitude = NumberAt(fields, SENSOR_DATA_TYPE_LATITUDE_DEGREES);
    const auto longitude = NumberAt(fields, SENSOR_DATA_TYPE_LONGITUDE_DEGREES);
    return when + " data " +
           (latitude && longitude ? Fixed(latitude, 6) + ", " + Fixed(longitude, 6)
                                  : std::string("-")) +
           " alt " + Fixed(NumberAt(fields, SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS), 1, " m") +
           " speed " + Fixed(NumberAt(fields, SENSOR_DATA_TYPE_SPEED_KNOTS), 1, " kn") +
           " heading " + Fixed(NumberAt(fields, SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES), 1) +
           " fix " + Fixed(NumberAt(fields, SENSOR_DATA_TYPE_FIX_QUALITY), 0) + "/" +
           Fixed(NumberAt(fields, SENSOR_DATA_TYPE_FIX_TYPE), 0) + " sats " +
           Fixed(NumberAt(fields, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT), 0) + " hdop " +
           Fixed(NumberAt(fields, SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION), 1) +
           " error " + Fixed(NumberAt(fields, SENSOR_DATA_TYPE_ERROR_RADIUS_METERS), 1, " m") +
           " at " + Timestamp(fields);
}

std::string RenderCurrentStateLine(std::uint32_t state, Clock::time_point received) {
    return TimeOfDay(received) + " state " + ShortStateName(state) + " (current)";
}

}  // namespace zntr::tools
