// What zntr watch, get and demo print, without a host: the JSON of values and events, the event
// lines and the panel, the in-place redraw, and the GPX track that stays readable after every
// point.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "event_json.h"
#include "gpx_track.h"
#include "sensor_view.h"
#include "standin/portabledevice.h"
#include "standin/sensors.h"
#include "terminal_panel.h"

namespace {

using namespace std::chrono_literals;
using zntr::client::SensorEvent;
using zntr::sensor_message::Bytes;
using zntr::sensor_message::ErrorCode;
using zntr::sensor_message::FileTime;
using zntr::sensor_message::ValueList;
using zntr::tools::Clock;
using zntr::tools::Value;

// 2026-12-05T12:00:03.250Z as a FILETIME count.
constexpr std::uint64_t kTicksAt120003 = 134409456032500000ull;

SensorEvent DataEvent(ValueList fields) {
    SensorEvent event;
    event.kind = SensorEvent::Kind::kDataUpdated;
    event.eventId = SENSOR_EVENT_DATA_UPDATED;
    fields.insert(fields.begin(), {SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED});
    event.parameters = std::move(fields);
    return event;
}

SensorEvent StateEvent(std::uint32_t state) {
    SensorEvent event;
    event.kind = SensorEvent::Kind::kStateChanged;
    event.state = state;
    return event;
}

// A reading as the driver posts it after a GGA, GSA and PQXFI.
ValueList Reading(double latitude, double longitude) {
    return {
        {SENSOR_DATA_TYPE_TIMESTAMP, FileTime{kTicksAt120003}},
        {SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS, 521.25},
        {SENSOR_DATA_TYPE_LATITUDE_DEGREES, latitude},
        {SENSOR_DATA_TYPE_LONGITUDE_DEGREES, longitude},
        {SENSOR_DATA_TYPE_FIX_QUALITY, std::int32_t{1}},
        {SENSOR_DATA_TYPE_FIX_TYPE, std::int32_t{3}},
        {SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION, 0.9f},
        {SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, std::int32_t{2}},
        {SENSOR_DATA_TYPE_SATELLITES_USED_PRNS, Bytes{7, 0, 0, 0, 12, 0, 0, 0}},
    };
}

TEST(LiveOutputTest, ValuesBecomeTheJsonTheReadmeDocuments) {
    const PROPERTYKEY prns = SENSOR_DATA_TYPE_SATELLITES_USED_PRNS;
    const PROPERTYKEY speed = SENSOR_DATA_TYPE_SPEED_KNOTS;
    struct Case {
        const char* legend;
        PROPERTYKEY key;
        Value value;
        const char* json;
    };
    const Case cases[] = {
        {"a FILETIME is ISO 8601 UTC", SENSOR_DATA_TYPE_TIMESTAMP, FileTime{kTicksAt120003},
         R"("2026-12-05T12:00:03.250Z")"},
        {"a float keeps its short decimal form", speed, 0.9f, "0.9"},
        {"a double keeps every digit", speed, 7.1406833333333335, "7.1406833333333335"},
        {"the zeroed fields of a silent pass stay doubles", SENSOR_DATA_TYPE_FIX_QUALITY, 0.0,
         "0.0"},
        {"PRNs are four little-endian bytes each", prns, Bytes{2, 0, 0, 0, 0x2C, 1, 0, 0},
         "[2,300]"},
        {"a piece shorter than four bytes is no PRN", prns, Bytes{5, 0, 0, 0, 9, 0}, "[5]"},
        {"no PRN at all is an empty array", prns, Bytes{}, "[]"},
        {"other bytes stay hex", speed, Bytes{0xAB, 0x01}, R"("ab01")"},
        {"no value is null", speed, std::monostate{}, "null"},
        {"an unsigned stays a number", SENSOR_PROPERTY_STATE, std::uint32_t{2}, "2"},
        {"a GUID is its braced text", SENSOR_PROPERTY_TYPE, SENSOR_TYPE_LOCATION_GPS,
         R"("{ED4CA589-327A-4FF9-A560-91DA4B48275E}")"},
        {"an error code says what it means", speed, ErrorCode{E_NOTIMPL}, R"({"error":"E_NOTIMPL)"},
    };
    for (const Case& c : cases) {
        const std::string json = zntr::tools::JsonValue(c.key, c.value).dump();
        EXPECT_TRUE(json.starts_with(c.json)) << c.legend << ": " << json;
    }
}

TEST(LiveOutputTest, EventObjectsSayTheirKindAndWhenAndLeaveTheEventIdOut) {
    const Clock::time_point received = Clock::from_time_t(1796472003) + 250ms;
    const auto state = zntr::tools::JsonEvent(StateEvent(SENSOR_STATE_READY), received);
    EXPECT_EQ(state.dump(), R"({"event":"state","received":"2026-12-05T12:00:03.250Z","state":0,)"
                            R"("state_name":"READY"})");

    const auto data = zntr::tools::JsonEvent(DataEvent(Reading(46.5, 7.25)), received);
    EXPECT_EQ(data["event"], "data");
    EXPECT_EQ(data["latitude_degrees"], 46.5);
    EXPECT_EQ(data["satellites_used_prns"], nlohmann::ordered_json::parse("[7,12]"));
    EXPECT_FALSE(data.contains("event_id")) << data.dump();
    EXPECT_EQ(data.size(), 2u + Reading(0, 0).size()) << "event, received and each field";
}

TEST(LiveOutputTest, LinesAndPanelShowTheReadingAndNeverAnEscapeCode) {
    const Clock::time_point start = Clock::from_time_t(1796472000);
    zntr::tools::SensorView view;
    view.title = "title";
    view.SetState(SENSOR_STATE_NO_DATA);
    const auto before = zntr::tools::RenderPanel(view, start);
    view.Apply(StateEvent(SENSOR_STATE_READY), start + 1s);
    view.Apply(DataEvent(Reading(46.801260, -7.140683)), start + 2s);
    const auto after = zntr::tools::RenderPanel(view, start + 3500ms);

    std::string panel;
    for (const std::string& line : after) {
        panel += line + "\n";
    }
    struct Expectation {
        const char* legend;
        const char* text;
    };
    const Expectation expected[] = {
        {"the states the sensor went through", "READY   (NO_DATA -> READY)"},
        {"position with six decimals, sign kept", "46.801260, -7.140683"},
        {"a float field through its short form", "horizontal 0.9"},
        {"fix quality and type named", "quality 1 (GPS), type 3 (3D)"},
        {"count and PRNs of the satellites used", "2 used: 7 12"},
        {"time since the last event", "data, 1.5 s ago (1 data, 1 state)"},
        {"a field never given", "Speed         -"},
        {"the timestamp", "2026-12-05T12:00:03.250Z"},
    };
    for (const Expectation& e : expected) {
        EXPECT_NE(panel.find(e.text), std::string::npos) << e.legend << "\n" << panel;
    }
    EXPECT_EQ(before.size(), after.size()) << "the panel keeps its height, so redraws line up";
    EXPECT_NE(before[2].find("Position      -"), std::string::npos) << before[2];

    const std::string line =
        zntr::tools::RenderEventLine(DataEvent(Reading(46.801260, 7.140683)), start);
    EXPECT_EQ(line,
              "12:00:00Z data 46.801260, 7.140683 alt 521.2 m speed - heading - fix 1/3 sats 2 "
              "hdop 0.9 error - at 2026-12-05T12:00:03.250Z");
    EXPECT_EQ(panel.find('\x1b'), std::string::npos);
}

std::string ReadAll(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) {
        text.append(buffer, n);
    }
    return text;
}

TEST(LiveOutputTest, APanelRedrawGoesBackOverThePreviousOneAndBlanksWhatIsLeft) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    zntr::tools::TerminalPanel panel(out);
    panel.Draw({"one", "two", "three"});
    panel.Draw({"uno", std::string(200, 'x')});
    const std::string text = ReadAll(out);
    std::fclose(out);
    const std::string second = text.substr(text.find("\x1b[3A"));
    EXPECT_TRUE(second.starts_with("\x1b[3A\r\x1b[2Kuno\n")) << "up over all three lines";
    EXPECT_NE(second.find("\r\x1b[2K" + std::string(79, 'x') + "\n"), std::string::npos)
        << "a long line is cut short of the width (80 when unknown), so it cannot wrap";
    EXPECT_TRUE(second.ends_with("\r\x1b[2K\n\x1b[1A")) << "the third line blanked, cursor back";
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(LiveOutputTest, TheGpxFileIsACompleteTrackAfterEveryPoint) {
    const std::string path = testing::TempDir() + "/live_output_test.gpx";
    const auto read = [&path] {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    zntr::tools::GpxTrack track(path);
    EXPECT_TRUE(read().ends_with("</trkseg>\n  </trk>\n</gpx>\n")) << "an empty track";
    EXPECT_TRUE(track.Add(Reading(46.8012, 7.1405)));
    EXPECT_FALSE(track.Add(Reading(0.0, 0.0))) << "the zeroed fields of a silent pass";
    EXPECT_FALSE(track.Add({{SENSOR_DATA_TYPE_SPEED_KNOTS, 3.0f}})) << "no position";
    EXPECT_TRUE(track.Add(Reading(46.8013, 7.1408)));
    const std::string text = read();
    EXPECT_EQ(CountOf(text, "<trkpt "), 2);
    EXPECT_EQ(CountOf(text, "</gpx>"), 1) << "the closing tags are written over, not added";
    EXPECT_TRUE(text.ends_with("</trkseg>\n  </trk>\n</gpx>\n"));
    EXPECT_NE(text.find("<trkpt lat=\"46.8013000\" lon=\"7.1408000\"><ele>521.25</ele>"
                        "<time>2026-12-05T12:00:03.250Z</time><fix>3d</fix><sat>2</sat>"
                        "<hdop>0.90</hdop></trkpt>\n    </trkseg>"),
              std::string::npos)
        << text;
    track.Close();
    EXPECT_EQ(read(), text) << "closing leaves the document as it was";
    std::remove(path.c_str());
}

}  // namespace
