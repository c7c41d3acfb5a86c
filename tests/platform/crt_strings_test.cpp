// strtok as the Windows C runtime has it: a run of delimiters is one separator, no empty token is
// ever returned, and each thread keeps its own position, so two threads may split two texts at
// the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "driver_platform.h"

namespace {

std::vector<std::string> Tokens(std::string text, const char* delim) {
    std::vector<std::string> tokens;
    for (char* token = strtok(text.data(), delim); token != nullptr;
         token = strtok(nullptr, delim)) {
        tokens.emplace_back(token);
    }
    return tokens;
}

using List = std::vector<std::string>;

TEST(CrtStringsTest, StrtokSkipsRunsOfDelimitersAndNeverReturnsAnEmptyToken) {
    struct Case {
        const char* legend;
        const char* text;
        const char* delim;
        List tokens;
    } const cases[] = {
        {"doubled and trailing delimiters", "a,,b,", ",", {"a", "b"}},
        {"leading delimiters", ",,a", ",", {"a"}},
        {"an empty text", "", ",", {}},
        {"delimiters only", ",,,", ",", {}},
        {"no delimiter at all", "abc", ",", {"abc"}},
        {"any of several delimiters", "a\r\nb\n\nc", "\r\n", {"a", "b", "c"}},
        {"a carriage return is kept when only line feeds split",
         "$A*00\r\n$B*01\r\n",
         "\n",
         {"$A*00\r", "$B*01\r"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Tokens(c.text, c.delim), c.tokens) << c.legend;
    }
}

TEST(CrtStringsTest, EachThreadKeepsItsOwnPosition) {
    // Each thread takes its first token, waits for the other to do the same, then finishes: with
    // one position for the process, one of them would continue in the other's text.
    std::atomic<int> started{0};
    List first, second;
    auto split = [&started](const char* source, List& out) {
        std::string text = source;
        out.emplace_back(strtok(text.data(), ","));
        ++started;
        while (started.load() < 2) {
            std::this_thread::yield();
        }
        for (char* token = strtok(nullptr, ","); token != nullptr; token = strtok(nullptr, ",")) {
            out.emplace_back(token);
        }
    };
    std::thread a(split, "a1,a2,a3", std::ref(first));
    std::thread b(split, "b1,b2", std::ref(second));
    a.join();
    b.join();
    EXPECT_EQ(first, (List{"a1", "a2", "a3"}));
    EXPECT_EQ(second, (List{"b1", "b2"}));
}

}  // namespace
