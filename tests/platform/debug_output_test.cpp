// Debugger output reaches the installed sink whole, one message at a time.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "standin/control.h"
#include "standin/debugapi.h"

namespace {

TEST(DebugOutputTest, CaptureGetsEachMessageWholeAndInOrder) {
    zntr::platform::DebugOutputCapture capture;
    OutputDebugStringA("first\n");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("second, no line end");
    OutputDebugStringW(L"wide \u00E9\n");
    EXPECT_EQ(capture.Take(),
              (std::vector<std::string>{"first\n", "second, no line end", "wide \xE9\n"}));
    EXPECT_TRUE(capture.Take().empty());
}

TEST(DebugOutputTest, MessagesFromManyThreadsAreNeverInterleaved) {
    zntr::platform::DebugOutputCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string message(200, static_cast<char>('a' + t));
            for (int i = 0; i < 500; ++i) {
                OutputDebugStringA(message.c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::vector<std::string> messages = capture.Take();
    ASSERT_EQ(messages.size(), 2000u);
    for (const std::string& message : messages) {
        EXPECT_EQ(message, std::string(200, message[0]));
    }
}

TEST(DebugOutputTest, WithoutASinkOutputIsDroppedAndAFileSinkAppends) {
    auto previous = zntr::platform::SetDebugOutputSink({});
    OutputDebugStringA("dropped");
    const std::string path = ::testing::TempDir() + "/debug_output_test.log";
    std::remove(path.c_str());
    ASSERT_TRUE(zntr::platform::SetDebugOutputToFile(path));
    OutputDebugStringA("one\n");
    OutputDebugStringA("two\n");
    EXPECT_FALSE(zntr::platform::SetDebugOutputToFile("/nonexistent-folder/x.log"));
    OutputDebugStringA("three\n");
    zntr::platform::SetDebugOutputSink(std::move(previous));
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "one\ntwo\nthree\n");
}

}  // namespace
