// The driver's debug log as a test reads it: every message written to the debugger output while
// the object lives (an older log still sees them), with the thread that wrote it. A hook may run,
// on the writing thread, when a given message is written, before it is counted: the moment a
// thread of the driver reaches that line. It runs while the debugger output is held, so it must
// not write there, nor wait for a thread that does.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "standin/control.h"

namespace zntr::test {

class DriverLog {
  public:
    DriverLog();
    ~DriverLog() { zntr::platform::SetDebugOutputSink(std::move(previous_)); }
    DriverLog(const DriverLog&) = delete;
    DriverLog& operator=(const DriverLog&) = delete;

    // The messages since the last Take, in order; TakeOwn keeps those of the calling thread.
    std::vector<std::string> Take(bool own = false);
    std::vector<std::string> TakeOwn() { return Take(true); }
    // How often the message came since the last Take; waiting until it came (false after 30 s).
    std::size_t Count(const std::string& message);
    bool WaitFor(const std::string& message, std::size_t times = 1);
    void OnMessage(const std::string& message, std::function<void()> hook);

  private:
    std::mutex mutex_;
    std::vector<std::pair<std::thread::id, std::string>> messages_;
    std::map<std::string, std::function<void()>> hooks_;
    zntr::platform::DebugOutputSink previous_;
};

}  // namespace zntr::test
