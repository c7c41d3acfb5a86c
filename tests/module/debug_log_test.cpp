// DebugLog: the gate, vsprintf formatting with the trace placeholders, no prefix or line end,
// and the 1024-byte buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debug_log.h"
#include "standin/control.h"

namespace {

class DebugLogTest : public ::testing::Test {
  protected:
    void SetUp() override { gEnableLog = 1; }
    void TearDown() override { gEnableLog = 0; }
    zntr::platform::DebugOutputCapture capture_;
};

using Messages = std::vector<std::string>;

TEST_F(DebugLogTest, WritesNothingWhileTheFlagIsNotAboveZero) {
    gEnableLog = 0;
    DebugLog("off\n");
    gEnableLog = -1;
    DebugLog("negative\n");
    gEnableLog = 2;
    DebugLog("on\n");
    EXPECT_EQ(capture_.Take(), Messages{"on\n"});
}

TEST_F(DebugLogTest, FormatsAsVsprintfWithNoPrefixAndNoLineEndAdded) {
    DebugLog("Invalid checksum: expect 0x%02X, received 0x%02X\n", 0x39, 0x38);
    DebugLog("OnGetProperties: failed to get property count %d", -2147024809);
    DebugLog("IP: %s, Port: %d\n", "192.168.1.1", 10110);
    DebugLog("%010.03f|%-4s|%+d|%5.1f|%%|%c", 5.25, "ab", 7, 3.14159, 'z');
    DebugLog("%*d|%.*f|%-*s|", 5, 42, 2, 1.005, 3, "x");
    EXPECT_EQ(capture_.Take(),
              (Messages{"Invalid checksum: expect 0x39, received 0x38\n",
                        "OnGetProperties: failed to get property count -2147024809",
                        "IP: 192.168.1.1, Port: 10110\n", "000005.250|ab  |+7|  3.1|%|z",
                        "   42|1.00|x  |"}));
}

TEST_F(DebugLogTest, RendersTracePlaceholdersAndWideStrings) {
    DebugLog("cMainDevice: failed to create queue, %!hresult!\n", E_OUTOFMEMORY);
    DebugLog("Failed to set unique ID, %!hresult!", S_OK);
    DebugLog("LocationHelperStop: status=%!bool!", TRUE);
    DebugLog("%!bool! %!bool!", FALSE, 5);
    DebugLog("name %ws, path %ls, char %wc", L"ZNTR VCOM NMEA", L"\\\\?\\usb#\u00E9", L'\u00FC');
    DebugLog("null %ws %s", static_cast<const wchar_t*>(nullptr),
             static_cast<const char*>(nullptr));
    EXPECT_EQ(capture_.Take(),
              (Messages{"cMainDevice: failed to create queue, 0x8007000E\n",
                        "Failed to set unique ID, 0x00000000", "LocationHelperStop: status=TRUE",
                        "FALSE TRUE", "name ZNTR VCOM NMEA, path \\\\?\\usb#\xE9, char \xFC",
                        "null (null) (null)"}));
}

TEST_F(DebugLogTest, UsesWindowsSizesForLengthModifiers) {
    // "l" is 32 bits on Windows; 64-bit values need "ll" or "I64".
    DebugLog("%ld %lu %lld %I64X %hd %hhu", -1, 4294967295u, -9000000000LL, 0x1122334455ULL, 70000,
             300);
    DebugLog("%p", reinterpret_cast<void*>(0xABCDEF));
    EXPECT_EQ(capture_.Take(),
              (Messages{"-1 4294967295 -9000000000 1122334455 4464 44", "0000000000ABCDEF"}));
}

TEST_F(DebugLogTest, UnknownConversionsAreShownAsWrittenWithoutTakingAnArgument) {
    DebugLog("%!unknown! %d %y %", 5);
    EXPECT_EQ(capture_.Take(), Messages{"%!unknown! 5 %y %"});
}

TEST_F(DebugLogTest, AMessageLongerThanTheBufferIsCutToFit) {
    const std::string longText(3000, 'x');
    DebugLog("head %s tail", longText.c_str());
    DebugLog("%2000d|", 1);
    const Messages messages = capture_.Take();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].size(), 1023u);
    EXPECT_EQ(messages[0], ("head " + longText).substr(0, 1023));
    EXPECT_EQ(messages[1].size(), 1023u);
    EXPECT_EQ(messages[1], std::string(1023, ' '));
}

TEST(FormatDebugMessageTest, AlwaysTerminatesWithinTheGivenSize) {
    char buffer[8];
    auto format = [&](const char* f, ...) {
        va_list args;
        va_start(args, f);
        const size_t length = FormatDebugMessage(buffer, sizeof(buffer), f, args);
        va_end(args);
        return length;
    };
    EXPECT_EQ(format("%s", "abcdefghij"), 7u);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(format("%!hresult!", E_FAIL), 7u);
    EXPECT_STREQ(buffer, "0x80004");
    EXPECT_EQ(format("ok"), 2u);
    EXPECT_STREQ(buffer, "ok");
}

}  // namespace
