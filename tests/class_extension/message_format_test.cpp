// The sensor message format: the documented layout, round trips of every command and value type,
// and the refusal of every kind of malformed message.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "message_samples.h"

namespace zntr::test {
namespace {

using message::Command;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (const int value : values) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

TEST(MessageFormatTest, LaysOutAConnectRequestAsDocumented) {
    message::Request request;
    request.command = Command::kConnect;
    request.sensorId = L"A\U0001F600";
    EXPECT_EQ(message::EncodeRequest(request),
              Bytes({'Z', 'S', 'N',  'M',                  // magic
                     1,   0,                               // version
                     8,   0,                               // command: connect
                     0,   0,   0,    0,                    // status
                     10,  0,   0,    0,                    // body length
                     3,   0,   0,    0,                    // sensor ID: 3 UTF-16 units
                     'A', 0,   0x3D, 0xD8, 0x00, 0xDE}));  // "A", U+1F600 as a surrogate pair
}

TEST(MessageFormatTest, LaysOutKeysAndValuesAsDocumented) {
    message::Answer answer;
    answer.command = Command::kGetProperties;
    answer.values = {{SENSOR_PROPERTY_STATE, std::uint32_t{3}}};
    EXPECT_EQ(message::EncodeAnswer(answer),
              Bytes({'Z',  'S',  'N',  'M',  1,    0,    5,    0,    0, 0,
                     0,    0,    30,   0,    0,    0,    1,    0,    0, 0,  // one value
                     0xEC, 0x83, 0x83, 0x7F, 0xEC, 0xD3, 0x5C, 0x49,        // fmtid: Data1..Data3
                     0xA8, 0xCF, 0xB8, 0xBB, 0xE8, 0x5C, 0x29, 0x20,        // fmtid: Data4
                     3,    0,    0,    0,                                   // pid
                     19,   0,                                               // VT_UI4
                     3,    0,    0,    0}));
}

TEST(MessageFormatTest, EveryRequestComesBackAsItWent) {
    for (const message::Request& request : EveryRequest()) {
        SCOPED_TRACE(message::FindCommand(static_cast<std::uint16_t>(request.command))->name);
        const std::vector<std::uint8_t> bytes = message::EncodeRequest(request);
        ASSERT_FALSE(bytes.empty());
        message::Request decoded;
        ASSERT_EQ(message::DecodeRequest(bytes, &decoded), S_OK);
        EXPECT_EQ(decoded.command, request.command);
        EXPECT_EQ(decoded.sensorId, request.sensorId);
        ASSERT_EQ(decoded.keys.size(), request.keys.size());
        for (std::size_t i = 0; i < decoded.keys.size(); ++i) {
            EXPECT_TRUE(IsEqualPropertyKey(decoded.keys[i], request.keys[i]));
        }
        EXPECT_EQ(decoded.values, request.values);
    }
}

TEST(MessageFormatTest, EveryAnswerComesBackAsItWent) {
    for (const message::Answer& answer : EveryAnswer()) {
        SCOPED_TRACE(message::FindCommand(static_cast<std::uint16_t>(answer.command))->name);
        const std::vector<std::uint8_t> bytes = message::EncodeAnswer(answer);
        ASSERT_FALSE(bytes.empty());
        message::Answer decoded;
        ASSERT_EQ(message::DecodeAnswer(bytes, &decoded), S_OK);
        EXPECT_EQ(decoded.command, answer.command);
        EXPECT_EQ(decoded.status, S_FALSE);
        EXPECT_EQ(decoded.keys.size(), answer.keys.size());
        EXPECT_EQ(decoded.values, answer.values);
        EXPECT_EQ(decoded.valueLists, answer.valueLists);
        EXPECT_EQ(decoded.guids, answer.guids);
        EXPECT_EQ(decoded.event.droppedBefore, answer.event.droppedBefore);
        EXPECT_EQ(decoded.event.sensorId, answer.event.sensorId);
        EXPECT_TRUE(IsEqualGUID(decoded.event.eventId, answer.event.eventId));
        EXPECT_EQ(decoded.event.parameters, answer.event.parameters);
    }
}

TEST(MessageFormatTest, NumbersKeepTheirBitsNotANumberIncluded) {
    const double nan = std::nan("0x5");
    const float negativeZero = -0.0f;
    message::Answer answer;
    answer.command = Command::kGetDataFields;
    answer.values = {{SENSOR_DATA_TYPE_LATITUDE_DEGREES, nan},
                     {SENSOR_DATA_TYPE_SPEED_KNOTS, negativeZero}};
    message::Answer decoded;
    ASSERT_EQ(message::DecodeAnswer(message::EncodeAnswer(answer), &decoded), S_OK);
    ASSERT_EQ(decoded.values.size(), 2u);
    const double nanBack = std::get<double>(decoded.values[0].value);
    const float zeroBack = std::get<float>(decoded.values[1].value);
    EXPECT_EQ(std::memcmp(&nanBack, &nan, sizeof(nan)), 0);
    EXPECT_EQ(std::memcmp(&zeroBack, &negativeZero, sizeof(negativeZero)), 0);
}

TEST(MessageFormatTest, AFailedAnswerIsTheHeaderAlone) {
    message::Answer answer = EveryAnswer()[4];  // get-properties, with values
    answer.status = E_UNEXPECTED;
    const std::vector<std::uint8_t> bytes = message::EncodeAnswer(answer);
    EXPECT_EQ(bytes.size(), message::kHeaderBytes);
    message::Answer decoded;
    ASSERT_EQ(message::DecodeAnswer(bytes, &decoded), S_OK);
    EXPECT_EQ(decoded.status, E_UNEXPECTED);
    EXPECT_TRUE(decoded.values.empty());
}

TEST(MessageFormatTest, ATooSmallAnswerNamesTheBodyItNeeds) {
    const std::vector<std::uint8_t> bytes =
        message::EncodeBufferTooSmall(Command::kWaitForEvent, 5000);
    EXPECT_EQ(bytes.size(), message::kHeaderBytes);
    message::Answer decoded;
    ASSERT_EQ(message::DecodeAnswer(bytes, &decoded), S_OK);
    EXPECT_EQ(decoded.command, Command::kWaitForEvent);
    EXPECT_EQ(decoded.status, message::kStatusBufferTooSmall);
    EXPECT_EQ(decoded.neededBodyBytes, 5000u);
}

// What no message can carry is refused by the encoders rather than sent mangled.
TEST(MessageFormatTest, EncodersRefuseWhatTheFormatCannotCarry) {
    struct Case {
        const char* legend;
        message::Value value;
    };
    const Case cases[] = {
        {"a NUL inside text", std::wstring(L"a\0b", 3)},
        {"a lone surrogate code point", std::wstring(1, static_cast<wchar_t>(0xD800))},
        {"a code point beyond Unicode", std::wstring(1, static_cast<wchar_t>(0x110000))},
        {"text over the unit limit", std::wstring(message::kMaxStringUnits + 1, L'x')},
        {"bytes over the limit", message::Bytes(message::kMaxByteVector + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        message::Request request;
        request.command = Command::kSetProperties;
        request.values = {{SENSOR_PROPERTY_MODEL, c.value}};
        EXPECT_TRUE(message::EncodeRequest(request).empty());
    }
    message::Request tooMany;
    tooMany.command = Command::kGetProperties;
    tooMany.keys.resize(message::kMaxCollectionCount + 1);
    EXPECT_TRUE(message::EncodeRequest(tooMany).empty());
}

// A message cut short anywhere is refused, never read past its end.
TEST(MessageFormatTest, EveryTruncationIsRefused) {
    for (const message::Request& request : EveryRequest()) {
        const std::vector<std::uint8_t> bytes = message::EncodeRequest(request);
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + length);
            message::Request decoded;
            EXPECT_EQ(message::DecodeRequest(cut, &decoded), message::kStatusMalformed)
                << "request cut to " << length << " of " << bytes.size() << " bytes";
        }
    }
    for (const message::Answer& answer : EveryAnswer()) {
        const std::vector<std::uint8_t> bytes = message::EncodeAnswer(answer);
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + length);
            message::Answer decoded;
            EXPECT_EQ(message::DecodeAnswer(cut, &decoded), message::kStatusMalformed)
                << "answer cut to " << length << " of " << bytes.size() << " bytes";
        }
    }
}

// Broken requests, each made from a valid get-properties request for one key:
// header (16) | sensor ID count (4) + "S" (2) | key count (4) | key (20).
TEST(MessageFormatTest, RefusesBrokenRequests) {
    message::Request valid;
    valid.command = Command::kGetProperties;
    valid.sensorId = L"S";
    valid.keys = {SENSOR_PROPERTY_STATE};
    const std::vector<std::uint8_t> base = message::EncodeRequest(valid);
    ASSERT_EQ(base.size(), 46u);
    constexpr std::size_t kKeyCount = 22;

    struct Case {
        const char* legend;
        HRESULT expected;
        void (*edit)(std::vector<std::uint8_t>&);
    };
    const Case cases[] = {
        {"wrong magic", message::kStatusMalformed, [](auto& b) { b[0] = 'X'; }},
        {"another version", message::kStatusNotSupported, [](auto& b) { PutU16(b, 4, 2); }},
        {"command 0", message::kStatusNotSupported, [](auto& b) { PutU16(b, 6, 0); }},
        {"command 13", message::kStatusNotSupported, [](auto& b) { PutU16(b, 6, 13); }},
        {"a status in a request", message::kStatusMalformed, [](auto& b) { PutU32(b, 8, 1); }},
        {"body length one too many", message::kStatusMalformed, [](auto& b) { PutU32(b, 12, 31); }},
        {"body length one too few", message::kStatusMalformed, [](auto& b) { PutU32(b, 12, 29); }},
        {"a byte after the payload", message::kStatusMalformed,
         [](auto& b) {
             b.push_back(0);
             FixBodyLength(b);
         }},
        {"key count past the bytes", message::kStatusMalformed,
         [](auto& b) { PutU32(b, kKeyCount, 2); }},
        {"key count of 2^32-1", message::kStatusMalformed,
         [](auto& b) { PutU32(b, kKeyCount, 0xFFFFFFFFu); }},
        {"key count over the limit, bytes there", message::kStatusMalformed,
         [](auto& b) {
             PutU32(b, kKeyCount, message::kMaxCollectionCount + 1);
             b.resize(kKeyCount + 4 + 20 * (message::kMaxCollectionCount + 1));
             FixBodyLength(b);
         }},
        {"sensor ID count past the bytes", message::kStatusMalformed,
         [](auto& b) { PutU32(b, 16, 1000); }},
        {"sensor ID with a NUL unit", message::kStatusMalformed, [](auto& b) { PutU16(b, 20, 0); }},
        {"sensor ID of a lone high surrogate", message::kStatusMalformed,
         [](auto& b) { PutU16(b, 20, 0xD83D); }},
        {"sensor ID of a lone low surrogate", message::kStatusMalformed,
         [](auto& b) { PutU16(b, 20, 0xDE00); }},
        {"a message over the size limit", message::kStatusMalformed,
         [](auto& b) {
             b.resize(message::kMaxMessageBytes + 1);
             FixBodyLength(b);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<std::uint8_t> bytes = base;
        c.edit(bytes);
        message::Request decoded;
        EXPECT_EQ(message::DecodeRequest(bytes, &decoded), c.expected);
    }
}

// Broken values, each the one value of a set-properties request for sensor "S".
TEST(MessageFormatTest, RefusesBrokenValues) {
    auto request = [](std::initializer_list<int> value) {
        std::vector<std::uint8_t> bytes = {'Z', 'S', 'N', 'M', 1, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        AppendU32(bytes, 1);
        AppendU16(bytes, 'S');
        AppendU32(bytes, 1);                    // one value
        bytes.resize(bytes.size() + 20, 0x11);  // its key
        for (const int b : value) {
            bytes.push_back(static_cast<std::uint8_t>(b));
        }
        FixBodyLength(bytes);
        return bytes;
    };
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> bytes;
        HRESULT expected;
    };
    const Case cases[] = {
        {"VT_UI4, whole", request({19, 0, 1, 2, 3, 4}), S_OK},
        {"VT_UI4, one byte short", request({19, 0, 1, 2, 3}), message::kStatusMalformed},
        {"VT_I2, a type the format does not carry", request({2, 0, 1, 0}),
         message::kStatusMalformed},
        {"VT_UNKNOWN", request({13, 0}), message::kStatusMalformed},
        {"VT_VECTOR|VT_R8", request({5, 0x10, 0, 0, 0, 0}), message::kStatusMalformed},
        {"VT_BOOL true", request({11, 0, 0xFF, 0xFF}), S_OK},
        {"VT_BOOL 1, not VARIANT_TRUE", request({11, 0, 1, 0}), message::kStatusMalformed},
        {"VT_VECTOR|VT_UI1 of 2, whole", request({0x11, 0x10, 2, 0, 0, 0, 7, 8}), S_OK},
        {"VT_VECTOR|VT_UI1 count past the bytes", request({0x11, 0x10, 3, 0, 0, 0, 7, 8}),
         message::kStatusMalformed},
        {"VT_VECTOR|VT_UI1 count of 2^32-1", request({0x11, 0x10, 0xFF, 0xFF, 0xFF, 0xFF}),
         message::kStatusMalformed},
        {"VT_LPWSTR count past the bytes", request({31, 0, 9, 0, 0, 0, 'a', 0}),
         message::kStatusMalformed},
        {"VT_LPWSTR with a surrogate pair", request({31, 0, 2, 0, 0, 0, 0x3D, 0xD8, 0, 0xDE}),
         S_OK},
        {"VT_LPWSTR with the pair reversed", request({31, 0, 2, 0, 0, 0, 0, 0xDE, 0x3D, 0xD8}),
         message::kStatusMalformed},
        {"VT_CLSID, eight bytes short", request({72, 0, 1, 2, 3, 4, 5, 6, 7, 8}),
         message::kStatusMalformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        message::Request decoded;
        EXPECT_EQ(message::DecodeRequest(c.bytes, &decoded), c.expected);
    }
}

TEST(MessageFormatTest, RefusesBrokenAnswers) {
    message::Answer connect;
    connect.command = Command::kConnect;
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<std::uint8_t> failedWithBody = message::EncodeRefusal(Command::kConnect, E_FAIL);
    failedWithBody.push_back(0);
    FixBodyLength(failedWithBody);
    std::vector<std::uint8_t> tooSmallWithBody =
        message::EncodeBufferTooSmall(Command::kConnect, 4);
    tooSmallWithBody.push_back(0);
    std::vector<std::uint8_t> unknownCommand = message::EncodeAnswer(connect);
    PutU16(unknownCommand, 6, 77);
    const Case cases[] = {
        {"a failed answer with a body", failedWithBody},
        {"a too-small answer with a body", tooSmallWithBody},
        {"a successful answer to no known command", unknownCommand},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        message::Answer decoded;
        EXPECT_TRUE(FAILED(message::DecodeAnswer(c.bytes, &decoded)));
    }
}

// Random damage to valid messages: every result is a clean refusal or a message that encodes
// back to exactly the same bytes (the format has one encoding for each message).
TEST(MessageFormatTest, DamagedMessagesAreRefusedOrReadExactly) {
    std::mt19937 random(20240323);
    std::vector<std::vector<std::uint8_t>> requests;
    std::vector<std::vector<std::uint8_t>> answers;
    for (const message::Request& request : EveryRequest()) {
        requests.push_back(message::EncodeRequest(request));
    }
    for (const message::Answer& answer : EveryAnswer()) {
        answers.push_back(message::EncodeAnswer(answer));
    }
    int readBack = 0;
    for (int round = 0; round < 20000; ++round) {
        const bool isRequest = round % 2 == 0;
        const auto& pool = isRequest ? requests : answers;
        std::vector<std::uint8_t> bytes = pool[random() % pool.size()];
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % bytes.size();
            switch (random() % 3) {
                case 0:
                    bytes[at] = static_cast<std::uint8_t>(random());
                    break;
                case 1:
                    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
                    FixBodyLength(bytes);
                    break;
                default:
                    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 static_cast<std::uint8_t>(random()));
                    FixBodyLength(bytes);
                    break;
            }
        }
        if (isRequest) {
            message::Request decoded;
            if (SUCCEEDED(message::DecodeRequest(bytes, &decoded))) {
                ++readBack;
                EXPECT_EQ(message::EncodeRequest(decoded), bytes) << "round " << round;
            }
        } else {
            message::Answer decoded;
            if (SUCCEEDED(message::DecodeAnswer(bytes, &decoded)) &&
                decoded.status != message::kStatusBufferTooSmall) {
                ++readBack;
                EXPECT_EQ(message::EncodeAnswer(decoded), bytes) << "round " << round;
            }
        }
    }
    // Damage inside a value's bytes often leaves a valid message; some must have been read.
    EXPECT_GT(readBack, 0);
}

TEST(MessageFormatTest, EveryCommandHasOneRowAndANumberThatFindsIt) {
    for (const message::CommandInfo& info : message::kCommands) {
        EXPECT_EQ(message::FindCommand(static_cast<std::uint16_t>(info.command)), &info);
    }
    EXPECT_EQ(message::FindCommand(0), nullptr);
    EXPECT_EQ(message::FindCommand(13), nullptr);
}

TEST(MessageFormatTest, DescribesStatusesByNameAndMeaning) {
    EXPECT_EQ(message::DescribeStatus(E_UNEXPECTED).rfind("E_UNEXPECTED (0x8000FFFF): ", 0), 0u);
    EXPECT_EQ(message::DescribeStatus(message::kStatusEnded)
                  .rfind("ERROR_OPERATION_ABORTED (0x800703E3): ", 0),
              0u);
    EXPECT_EQ(message::DescribeStatus(static_cast<HRESULT>(0x80041234u)), "0x80041234: failure");
}

}  // namespace
}  // namespace zntr::test
