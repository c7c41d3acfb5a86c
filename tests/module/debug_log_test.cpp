// DebugLog: the gate, vsprintf formatting with Windows' sizes and the trace placeholders, no
// prefix or line end added, and the 1024-byte buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debug_log.h"
#include "standin/control.h"

namespace {

using Messages = std::vector<std::string>;

TEST(DebugLogTest, FormatsAsTheDriversMessagesNeedAndOnlyWhileSwitchedOn) {
    zntr::platform::DebugOutputCapture capture;
    for (const int flag : {0, -1, 2}) {
        gEnableLog = flag;
        DebugLog("flag %d\n", flag);
    }
    gEnableLog = 1;
    DebugLog("OnGetProperties: failed to get property count %d", -2147024809);
    DebugLog("%010.03f|%-4s|%+d|%5.1f|%%|%c|%*d|%.*f|", 5.25, "ab", 7, 3.14159, 'z', 5, 42, 2,
             1.005);
    DebugLog("failed, %!hresult!\n", E_OUTOFMEMORY);
    DebugLog("%!bool! %!bool! %!bool!", TRUE, FALSE, 5);
    DebugLog("%ws %ls %wc %ws %s", L"\\\\?\\usb#\u00E9", L"x", L'\u00FC',
             static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr));
    // "l" is 32 bits on Windows; 64-bit values need "ll" or "I64".
    DebugLog("%ld %lu %lld %I64X %hd %hhu %p %hhd %hx %Lf%n", -1, 4294967295u, -9000000000LL,
             0x1122334455ULL, 70000, 300, reinterpret_cast<void*>(0xABCDEF), 300, 0x1FFFF, 1.5L,
             nullptr);
    DebugLog("%!unknown! %d %y %", 5);
    DebugLog("head %s", std::string(3000, 'x').c_str());
    gEnableLog = 0;
    const Messages messages = capture.Take();
    ASSERT_EQ(messages.size(), 9u);
    EXPECT_EQ(
        Messages(messages.begin(), messages.end() - 1),
        (Messages{"flag 2\n", "OnGetProperties: failed to get property count -2147024809",
                  "000005.250|ab  |+7|  3.1|%|z|   42|1.00|", "failed, 0x8007000E\n",
                  "TRUE FALSE TRUE", "\\\\?\\usb#\xE9 x \xFC (null) (null)",
                  "-1 4294967295 -9000000000 1122334455 4464 44 0000000000ABCDEF 44 ffff 1.500000",
                  "%!unknown! 5 %y %"}));
    EXPECT_EQ(messages.back(), ("head " + std::string(3000, 'x')).substr(0, 1023))
        << "cut to the buffer";
}

TEST(DebugLogTest, AFormattedMessageIsAlwaysTerminatedWithinItsBuffer) {
    char buffer[8];
    auto format = [&](const char* f, ...) {
        va_list args;
        va_start(args, f);
        const size_t length = FormatDebugMessage(buffer, sizeof(buffer), f, args);
        va_end(args);
        return std::string(buffer, length) + (buffer[length] == '\0' ? "" : "!");
    };
    EXPECT_EQ(format("%s", "abcdefghij"), "abcdefg");
    EXPECT_EQ(format("%!hresult!", E_FAIL), "0x80004");
    EXPECT_EQ(format("%2000d|", 1), "       ");
    EXPECT_EQ(format("ok"), "ok");
}

}  // namespace
