// Controls of the stand-in that have no Windows counterpart: where debugger output goes, and a
// clock that tests can set. The framework host, the tools and the tests use these; driver code
// never does.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zntr::platform {

// Receives each OutputDebugStringA text whole; calls are serialised, so a sink sees one message
// at a time and never a message cut by another thread's.
using DebugOutputSink = std::function<void(std::string_view text)>;

// Installs a sink and returns the one it replaces. An empty sink drops the output.
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);

// Sends debugger output to standard error.
void SetDebugOutputToStderr();

// Appends debugger output to a file; false (and the sink unchanged) when it cannot be opened.
bool SetDebugOutputToFile(const std::string& path);

// Collects debugger output for as long as it lives, then puts the previous sink back. Header
// only, so that it serves the Windows build's sink too.
class DebugOutputCapture {
  public:
    DebugOutputCapture() {
        previous_ = SetDebugOutputSink([this](std::string_view text) {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.emplace_back(text);
        });
    }
    ~DebugOutputCapture() { SetDebugOutputSink(std::move(previous_)); }
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    // The messages written since the last call, in order.
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(messages_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
    DebugOutputSink previous_;
};

// Makes GetSystemTime and GetSystemTimeAsFileTime report a fixed UTC time, given as a FILETIME
// count; std::nullopt goes back to the real clock.
void SetSystemTimeOverride(std::optional<std::uint64_t> filetime);

}  // namespace zntr::platform
