#include "driver_log.h"

#include <algorithm>
#include <utility>

#include "wait_until.h"

namespace zntr::test {

DriverLog::DriverLog() {
    previous_ = zntr::platform::SetDebugOutputSink([this](std::string_view text) {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto found = hooks_.find(std::string(text));
            hook = found != hooks_.end() ? found->second : nullptr;
        }
        if (hook) {
            hook();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.emplace_back(std::this_thread::get_id(), std::string(text));
        }
        if (previous_) {
            previous_(text);
        }
    });
}

std::vector<std::string> DriverLog::Take(bool own) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> taken;
    for (auto& [thread, text] : std::exchange(messages_, {})) {
        if (!own || thread == std::this_thread::get_id()) {
            taken.push_back(std::move(text));
        }
    }
    return taken;
}

std::size_t DriverLog::Count(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::count_if(messages_.begin(), messages_.end(),
                         [&](const auto& written) { return written.second == message; });
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
