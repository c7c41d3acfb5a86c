// Real receiver captures, fed line by line as the receive loop hands them on. An oracle written
// here (first "$" to the line feed, XOR checksum, tag table) says what each line must yield, and
// the position of each GGA is checked against a reading of its own fields. The captures come
// from outside the repository; without them the test is skipped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "debug_log.h"
#include "nmea_test_support.h"
#include "standin/control.h"

namespace {

namespace fs = std::filesystem;

NMEASentenceType ExpectedCode(const std::string& line) {
    const size_t dollar = line.find('$');
    const size_t lineFeed = line.find('\n', dollar == std::string::npos ? 0 : dollar + 1);
    if (dollar == std::string::npos || lineFeed == std::string::npos) {
        return NMEA_NONE;
    }
    const std::string sentence = line.substr(dollar, lineFeed - dollar);
    const size_t star = sentence.rfind('*');
    if (star == std::string::npos) {
        return NMEA_NONE;
    }
    std::string digits = sentence.substr(star + 1);
    while (!digits.empty() && std::isspace(static_cast<unsigned char>(digits.back()))) {
        digits.pop_back();
    }
    while (!digits.empty() && std::isspace(static_cast<unsigned char>(digits.front()))) {
        digits.erase(0, 1);
    }
    if (digits.size() != 2 || !std::isxdigit(static_cast<unsigned char>(digits[0])) ||
        !std::isxdigit(static_cast<unsigned char>(digits[1]))) {
        return NMEA_NONE;  // the captures hold no signed checksum digits
    }
    unsigned sum = 0;
    for (size_t i = 1; i < star; ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    if (sum != std::stoul(digits, nullptr, 16)) {
        return NMEA_NONE;
    }
    static const std::map<std::string, NMEASentenceType> kTags = {
        {"$GPGGA", NMEA_GPGGA}, {"$GPVTG", NMEA_GPVTG}, {"$GPRMC", NMEA_GPRMC},
        {"$GPGLL", NMEA_GPGLL}, {"$GPGSA", NMEA_GPGSA}, {"$GPGSV", NMEA_GPGSV},
        {"$PQXFI", NMEA_PQXFI}};
    const auto tag = kTags.find(sentence.substr(0, sentence.find(',')));
    return tag == kTags.end() || sentence.find(',') == std::string::npos ? NMEA_NONE : tag->second;
}

// Latitude of a GGA sentence read from its own fields: ddmm.mmmm and N/S.
double GgaLatitude(const std::string& sentence) {
    std::vector<std::string> fields;
    std::stringstream stream(sentence);
    for (std::string field; std::getline(stream, field, ',');) {
        fields.push_back(field);
    }
    if (fields.size() < 4 || fields[2].size() < 3) {
        return NO_DOUBLE_VALUE;
    }
    const double value = std::stod(fields[2].substr(0, 2)) + std::stod(fields[2].substr(2)) / 60.0;
    return fields[3] == "S" ? -value : value;
}

TEST(RealCapturesTest, EveryLineYieldsWhatTheOracleExpects) {
    const fs::path folder = ZNTR_SHARED_TESTDATA;
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "real captures not found at " << folder;
    }
    zntr::platform::DebugOutputCapture capture;
    gEnableLog = 1;
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".log") {
            continue;
        }
        ++files;
        std::ifstream input(entry.path(), std::ios::binary);
        std::stringstream content;
        content << input.rdbuf();
        const std::string text = content.str();
        cNMEAParser parser;
        std::map<int, int> decoded;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            std::string line = text.substr(start, end - start);
            start = end;
            // The line sink gets NUL-terminated text.
            line = line.substr(0, line.find('\0'));
            const NMEASentenceType code = zntr::test::Feed(parser, line);
            ASSERT_EQ(code, ExpectedCode(line)) << entry.path().filename() << ": " << line;
            ++decoded[code];
            if (code == NMEA_GPGGA) {
                const double expected = GgaLatitude(line.substr(line.find('$')));
                if (expected != NO_DOUBLE_VALUE) {
                    EXPECT_NEAR(parser.mLatitude, expected, 1e-9) << line;
                }
            }
            EXPECT_TRUE(parser.mPendingData.empty() || parser.mPendingData[0] == L'$');
            EXPECT_EQ(parser.mPendingData.find(L'\n'), std::wstring::npos);
        }
        capture.Take();
        RecordProperty(entry.path().filename().string(),
                       std::to_string(decoded[NMEA_GPGGA]) + " GGA");
    }
    gEnableLog = 0;
    EXPECT_GT(files, 10);
}

}  // namespace
