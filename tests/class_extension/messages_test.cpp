// The sensor messages and the class extension, from the tables of tests/data/wire: each row of
// requests.table (answers.table) is a message of sensor/, also a seed of the sensor_request fuzz
// target, and what it decodes to as a request (an answer); each row of class_extension.table is
// a step of a scenario run against the class extension with the fake sensor driver
// (steps_test.cpp). Beside the tables: the encoders' limits.
#include <gtest/gtest.h>

#include <algorithm>

#include "sensor_text.h"
#include "standin/sensors.h"
#include "table_tests.h"

namespace zntr::test {
// The outcome of the row's step, its scenario replayed up to it (steps_test.cpp).
std::vector<std::string> RunScenarioStep(const Table& table, const TableRow& row);
}  // namespace zntr::test

namespace {

using namespace zntr::test;

// Every message has its row: a seed without an expected decoding tests nothing.
TEST(SensorMessages, EveryFileHasItsRow) {
    const auto requests = ReadTable(kWire / "requests.table").rows;
    const auto answers = ReadTable(kWire / "answers.table").rows;
    for (const auto& file : std::filesystem::directory_iterator(kWire / "sensor")) {
        const std::string name = file.path().filename().string();
        const auto& rows = name.rfind("answer-", 0) == 0 ? answers : requests;
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
            return row[0] == name;
        })) << name;
    }
}

// What no message can carry is refused by the encoders rather than sent mangled; a message at
// every limit is carried.
TEST(SensorMessages, HoldWhatTheirLimitsAllowAndNoMore) {
    auto set = [](message::Value value) {
        return message::EncodeRequest(
            message::Request{message::Command::kSetProperties,
                             L"S",
                             {},
                             {{SENSOR_PROPERTY_MODEL, std::move(value)}}});
    };
    for (const message::Value& refused :
         {message::Value(std::wstring(L"a\0b", 3)),
          message::Value(std::wstring(1, wchar_t(0xD800))),
          message::Value(std::wstring(1, wchar_t(0x110000))),
          message::Value(std::wstring(message::kMaxStringUnits + 1, L'x')),
          message::Value(message::Bytes(message::kMaxByteVector + 1))}) {
        EXPECT_TRUE(set(refused).empty()) << message::VarTypeOf(refused);
    }
    message::Request request;
    EXPECT_EQ(message::DecodeRequest(set(std::wstring(message::kMaxStringUnits, L'x')), &request),
              S_OK);
    EXPECT_EQ(message::DecodeRequest(set(message::Bytes(message::kMaxByteVector)), &request), S_OK);
    request = message::Request{message::Command::kGetProperties, L"S", {}, {}};
    request.keys.resize(message::kMaxCollectionCount);
    const Bytes most = message::EncodeRequest(request);
    EXPECT_EQ(message::DecodeRequest(most, &request), S_OK);
    request.keys.resize(message::kMaxCollectionCount + 1);
    EXPECT_TRUE(message::EncodeRequest(request).empty());
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    RegisterTableRows("SensorRequests", {kWire / "requests.table"}, 1,
                      [](const Table&, const TableRow& row) -> std::vector<std::string> {
                          return {AsRequest(ReadBytes(kWire / "sensor" / row[0]))};
                      });
    RegisterTableRows("SensorAnswers", {kWire / "answers.table"}, 1,
                      [](const Table&, const TableRow& row) -> std::vector<std::string> {
                          return {AsAnswer(ReadBytes(kWire / "sensor" / row[0]))};
                      });
    RegisterTableRows("ClassExtension", {kWire / "class_extension.table"}, 2, RunScenarioStep);
    return RUN_ALL_TESTS();
}
