#include "driver_log.h"

#include "wait_until.h"

namespace zntr::test {

DriverLog::DriverLog() {
    // The hook runs before the message is counted: whoever waits for the message finds the
    // hook's work done.
    previous_ = zntr::platform::SetDebugOutputSink([this](std::string_view text) {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto found = hooks_.find(std::string(text));
            if (found != hooks_.end()) {
                hook = found->second;
            }
        }
        if (hook) {
            hook();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.emplace_back(std::this_thread::get_id(), std::string(text));
        }
        // A log made before this one sees the messages too.
        if (previous_) {
            previous_(text);
        }
    });
}

DriverLog::~DriverLog() {
    zntr::platform::SetDebugOutputSink(std::move(previous_));
}

std::vector<std::string> DriverLog::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> taken;
    for (auto& [thread, text] : messages_) {
        taken.push_back(std::move(text));
    }
    messages_.clear();
    return taken;
}

std::vector<std::string> DriverLog::TakeOwn() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> taken;
    for (auto& [thread, text] : messages_) {
        if (thread == std::this_thread::get_id()) {
            taken.push_back(std::move(text));
        }
    }
    messages_.clear();
    return taken;
}

std::size_t DriverLog::Count(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t count = 0;
    for (const auto& [thread, text] : messages_) {
        count += text == message ? 1 : 0;
    }
    return count;
}

bool DriverLog::WaitFor(const std::string& message, std::size_t times) {
    return WaitUntil([&] { return Count(message) >= times; }, std::chrono::seconds(30),
                     std::chrono::milliseconds(2));
}

void DriverLog::OnMessage(const std::string& message, std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hooks_[message] = std::move(hook);
}

}  // namespace zntr::test
