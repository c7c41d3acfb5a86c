// zntr decode --fields as a process: the shape of every JSON line, the number forms, the state
// and events a line causes, the table, and the options' errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace {

using zntr::test::Quoted;
using zntr::test::RunCommand;

// 2024-03-23 00:00 UTC as a FILETIME count.
constexpr long long kDate = 133556256000000000ll;
constexpr long long kSecond = 10000000ll;

const std::vector<std::string> kFieldNames = {
    "SENSOR_DATA_TYPE_TIMESTAMP",
    "SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS",
    "SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS",
    "SENSOR_DATA_TYPE_ERROR_RADIUS_METERS",
    "SENSOR_DATA_TYPE_FIX_QUALITY",
    "SENSOR_DATA_TYPE_FIX_TYPE",
    "SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION",
    "SENSOR_DATA_TYPE_LATITUDE_DEGREES",
    "SENSOR_DATA_TYPE_LONGITUDE_DEGREES",
    "SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES",
    "SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION",
    "SENSOR_DATA_TYPE_SATELLITES_USED_COUNT",
    "SENSOR_DATA_TYPE_SATELLITES_USED_PRNS",
    "SENSOR_DATA_TYPE_SPEED_KNOTS",
    "SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES",
    "SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION",
};

const char* const kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\\r\\n";
const char* const kGsa = "$GPGSA,A,3,04,07,12,,,,,,,,,,2.5,1.3,2.1*34\\r\\n";
const char* const kPqxfi =
    "$PQXFI,123522.0,4807.040000,N,01131.010000,E,546.0,12.5,20.1,0.3*57\\r\\n";

zntr::test::ProcessResult Decode(const std::string& input, const std::string& arguments) {
    return RunCommand("printf '%b' " + Quoted(input) + " | " ZNTR_BINARY " decode " + arguments);
}

std::vector<nlohmann::ordered_json> DecodeFields(
    const std::string& input, const std::string& arguments = "--date 2024-03-23") {
    const auto result = Decode(input, arguments);
    EXPECT_EQ(result.status, 0);
    std::vector<nlohmann::ordered_json> lines;
    for (const std::string& line : zntr::test::SplitLines(result.output)) {
        lines.push_back(nlohmann::ordered_json::parse(line));
    }
    return lines;
}

TEST(DecodeFieldsCliTest, EveryLineCarriesTheSixteenFieldsInCatalogueOrder) {
    const auto lines = DecodeFields(std::string(kGga) + "Dummy\\n$GPGGA,1*00\\r\\n");
    ASSERT_EQ(lines.size(), 3u);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string> keys;
        for (const auto& item : lines[i].items()) {
            keys.push_back(item.key());
        }
        EXPECT_EQ(keys, (std::vector<std::string>{"line", "state", "data_event", "state_event",
                                                  "fields", "log"}));
        EXPECT_EQ(lines[i]["line"], i + 1);
        std::vector<std::string> names;
        for (const auto& item : lines[i]["fields"].items()) {
            names.push_back(item.key());
            EXPECT_EQ(item.value().size(), 2u) << item.key();
            EXPECT_TRUE(item.value().contains("vt") && item.value().contains("value"));
        }
        EXPECT_EQ(names, kFieldNames);
    }
}

TEST(DecodeFieldsCliTest, FieldsAreWrittenInTheirFormsAndNumberFormats) {
    const auto result = Decode(std::string(kGga) + kGsa, "--date 2024-03-23");
    ASSERT_EQ(result.status, 0);
    const std::vector<std::string> raw = zntr::test::SplitLines(result.output);
    ASSERT_EQ(raw.size(), 2u);
    // VT_R4 prints the float's own value with nine digits, VT_R8 with seventeen.
    EXPECT_NE(
        raw[0].find(
            R"("SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION":{"vt":"VT_R4","value":0.899999976})"),
        std::string::npos);
    EXPECT_NE(
        raw[0].find(
            R"("SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS":{"vt":"VT_R8","value":545.39999999999998})"),
        std::string::npos);
    EXPECT_NE(
        raw[0].find(R"("SENSOR_DATA_TYPE_ERROR_RADIUS_METERS":{"vt":"VT_EMPTY","value":null})"),
        std::string::npos);

    const auto gga = nlohmann::ordered_json::parse(raw[0])["fields"];
    EXPECT_EQ(gga["SENSOR_DATA_TYPE_TIMESTAMP"]["vt"], "VT_FILETIME");
    EXPECT_EQ(gga["SENSOR_DATA_TYPE_TIMESTAMP"]["value"],
              kDate + (12 * 3600 + 35 * 60 + 19) * kSecond);
    EXPECT_EQ(gga["SENSOR_DATA_TYPE_SATELLITES_USED_COUNT"],
              nlohmann::ordered_json::parse(R"({"vt":"VT_I4","value":8})"));
    const auto gsa = nlohmann::ordered_json::parse(raw[1])["fields"];
    // PRNs 4, 7 and 12, four little-endian bytes each, in lower-case hexadecimal.
    EXPECT_EQ(gsa["SENSOR_DATA_TYPE_SATELLITES_USED_PRNS"],
              nlohmann::ordered_json::parse(
                  R"({"vt":"VT_VECTOR|VT_UI1","value":"04000000070000000c000000"})"));
    EXPECT_EQ(gsa["SENSOR_DATA_TYPE_SATELLITES_USED_COUNT"]["value"], 3);
    EXPECT_EQ(gsa["SENSOR_DATA_TYPE_FIX_TYPE"]["value"], 3);
}

TEST(DecodeFieldsCliTest, EachLineReportsTheStateAndTheEventsItCaused) {
    const auto lines = DecodeFields(std::string(kGga) + "Dummy\\n" + "Dummy\\n" + kPqxfi +
                                    "$PQXFI,123523.0,,,,,,,,*60\\r\\n");
    ASSERT_EQ(lines.size(), 5u);
    struct Expected {
        const char* legend;
        int state;
        bool dataEvent;
        bool stateEvent;
        size_t logLines;
    };
    const Expected expected[] = {
        {"a GGA position only fills fields", 2, false, false, 0},
        {"Dummy on it: ready, and a data event", 0, true, true, 1},
        {"Dummy again: nothing moved", 0, false, false, 1},
        {"a PQXFI position that moved", 0, true, false, 1},
        {"a PQXFI without position: initialising", 3, false, true, 1},
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["state"], expected[i].state) << expected[i].legend;
        EXPECT_EQ(lines[i]["data_event"], expected[i].dataEvent) << expected[i].legend;
        EXPECT_EQ(lines[i]["state_event"], expected[i].stateEvent) << expected[i].legend;
        ASSERT_EQ(lines[i]["log"].size(), expected[i].logLines) << expected[i].legend;
        if (expected[i].logLines > 0) {
            EXPECT_EQ(lines[i]["log"][0], "cSensorDDI::SetSensorPQXFIData\n");
        }
    }
}

TEST(DecodeFieldsCliTest, FieldsAreTheDefaultAndTimestampsTakeTodaysDateWithoutAnOption) {
    const auto byDefault = Decode(kGga, "");
    const auto explicitly = Decode(kGga, "--fields");
    ASSERT_EQ(byDefault.status, 0);
    EXPECT_EQ(byDefault.output, explicitly.output);

    const auto line = nlohmann::ordered_json::parse(byDefault.output);
    const long long stamp = line["fields"]["SENSOR_DATA_TYPE_TIMESTAMP"]["value"];
    const long long unixSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
    const long long today = (unixSeconds / 86400) * 86400 * kSecond + 116444736000000000ll;
    const long long day = stamp - (12 * 3600 + 35 * 60 + 19) * kSecond;
    EXPECT_TRUE(day == today || day == today - 86400 * kSecond) << "a run across midnight";
}

TEST(DecodeFieldsCliTest, TheTableShowsOneLinePerEventTheClientReceives) {
    const auto result =
        Decode(std::string(kGga) + kGsa + kPqxfi + kPqxfi + "$PQXFI,123523.0,,,,,,,,*60\\r\\n",
               "--table --date 2024-03-23");
    ASSERT_EQ(result.status, 0);
    const std::vector<std::string> raw = zntr::test::SplitLines(result.output);
    ASSERT_EQ(raw.size(), 3u) << result.output;
    EXPECT_NE(raw[0].find("latitude"), std::string::npos) << "a header first";
    EXPECT_NE(raw[1].find("12:35:22.000"), std::string::npos) << raw[1];
    EXPECT_NE(raw[1].find("48.117333"), std::string::npos) << raw[1];
    EXPECT_NE(raw[1].find("546.0"), std::string::npos) << raw[1];
    EXPECT_NE(raw[1].find("READY"), std::string::npos) << raw[1];
    EXPECT_NE(raw[1].find("data+state"), std::string::npos) << raw[1];
    EXPECT_EQ(raw[1].substr(0, 6), "     3") << "the input line it came from";
    EXPECT_NE(raw[2].find("INITIALIZING"), std::string::npos) << raw[2];
}

TEST(DecodeFieldsCliTest, RefusesABadDateAndModesThatDoNotGoTogether) {
    struct Case {
        const char* legend;
        std::string arguments;
    };
    const Case cases[] = {
        {"not a date", "--date yesterday"},
        {"no such day", "--date 2023-02-29"},
        {"a month past twelve", "--date 2024-13-01"},
        {"--fix has no table", "--fix --table"},
        {"--fix has no date", "--fix --date 2024-03-23"},
        {"one mode at a time", "--fix --fields"},
    };
    for (const Case& c : cases) {
        const auto result = Decode(kGga, c.arguments + " 2>&1");
        EXPECT_EQ(result.status, 2) << c.legend << ": " << result.output;
    }
    const auto result = Decode(kGga, "--date 2023-02-29 2>&1");
    EXPECT_NE(result.output.find("--date wants a valid YYYY-MM-DD"), std::string::npos);
}

}  // namespace
