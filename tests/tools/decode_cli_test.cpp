// zntr decode as a process, where the goldens cannot look: what it says and how it exits when it
// is given what it cannot use, and the table of events.
#include <gtest/gtest.h>

#include <string>

#include "run_command.h"

namespace {

using zntr::test::RunCommand;

constexpr const char* kGga =
    "'$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\\n'";

TEST(DecodeCli, BadInputAndBadOptionsGetAClearErrorAndAStatus) {
    const struct {
        const char* legend;
        std::string command;
        int status;
        const char* says;  // in standard error
    } cases[] = {
        {"a capture that is not there", "decode --fix /nonexistent/capture.nmea", 1,
         "zntr decode: cannot open /nonexistent/capture.nmea: No such file or directory"},
        {"a capture that cannot be read", "decode --fields /", 1, "zntr decode: error reading /"},
        {"not a date", "decode --date yesterday", 2,
         "zntr decode: --date wants a valid YYYY-MM-DD, got 'yesterday'"},
        {"no such day", "decode --date 2023-02-29", 2, "got '2023-02-29'"},
        {"a month past twelve", "decode --date 2024-13-01", 2, "got '2024-13-01'"},
        {"--fix has no table", "decode --fix --table", 2, "--fix excludes --table"},
        {"--fix has no date", "decode --fix --date 2024-03-23", 2, "--fix excludes --date"},
        {"one mode at a time", "decode --fix --fields", 2, "--fix excludes --fields"},
        {"--changes is a form of --fix", "decode --changes", 2, "--changes requires --fix"},
        {"no such flag", "decode --no-such-flag", 2, "--no-such-flag"},
    };
    for (const auto& c : cases) {
        const auto result = RunCommand("printf " + std::string(kGga) + " | " ZNTR_BINARY " " +
                                       c.command + " 2>&1 >/dev/null");
        EXPECT_EQ(result.status, c.status) << c.legend << ": " << result.output;
        EXPECT_NE(result.output.find(c.says), std::string::npos)
            << c.legend << ": " << result.output;
    }
}

TEST(DecodeCli, FieldsAreWhatItPrintsUnlessToldOtherwise) {
    const std::string input = "printf " + std::string(kGga) + " | " ZNTR_BINARY " decode ";
    const auto byDefault = RunCommand(input + "--date 2024-03-23");
    EXPECT_EQ(byDefault.status, 0);
    EXPECT_NE(byDefault.output.find("\"SENSOR_DATA_TYPE_LATITUDE_DEGREES\":"), std::string::npos);
    EXPECT_EQ(byDefault.output, RunCommand(input + "--fields --date 2024-03-23").output);
}

TEST(DecodeCli, TheTableShowsOneLinePerEventTheClientReceives) {
    const auto result = RunCommand(
        "printf '%s\\n' '$PQXFI,123522.0,4807.040000,N,01131.010000,E,546.0,12.5,20.1,0.3*57' "
        "'$GPGSA,A,3,04,07,12,,,,,,,,,,2.5,1.3,2.1*34' '$PQXFI,123523.0,,,,,,,,*60' | " ZNTR_BINARY
        " decode --table --date 2024-03-23");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output,
              "  line  time (UTC)     latitude    longitude  alt (m)  speed (kn)  heading  sats  "
              "state         event\n"
              "     1  12:35:22.000   48.117333    11.516833    546.0           -        -     -  "
              "READY         data+state\n"
              "     3  12:35:23.000   48.117333    11.516833    546.0           -        -     3  "
              "INITIALIZING  state\n");
}

}  // namespace
