#include "call_recorder.h"

namespace zntr::test {

std::string CallRecorder::MethodOf(std::string_view call) {
    return std::string(call.substr(0, call.find('(')));
}

HresultValue CallRecorder::Record(std::string call) {
    const std::string method = MethodOf(call);
    std::unique_lock lock(mutex_);
    calls_.push_back(std::move(call));
    changed_.notify_all();
    changed_.wait(lock, [&] { return closedGates_.count(method) == 0; });
    const auto answer = answers_.find(method);
    return answer == answers_.end() ? 0 : answer->second;
}

void CallRecorder::SetAnswer(std::string_view method, HresultValue answer) {
    std::lock_guard lock(mutex_);
    answers_[std::string(method)] = answer;
}

void CallRecorder::CloseGate(std::string_view method) {
    std::lock_guard lock(mutex_);
    closedGates_.insert(std::string(method));
}

void CallRecorder::OpenGate(std::string_view method) {
    std::lock_guard lock(mutex_);
    closedGates_.erase(std::string(method));
    changed_.notify_all();
}

bool CallRecorder::WaitForCalls(std::string_view method, std::size_t count,
                                std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        std::size_t seen = 0;
        for (const std::string& call : calls_) {
            seen += MethodOf(call) == method ? 1 : 0;
        }
        return seen >= count;
    });
}

std::vector<std::string> CallRecorder::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> CallRecorder::Calls(std::string_view method) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> matching;
    for (const std::string& call : calls_) {
        if (MethodOf(call) == method) {
            matching.push_back(call);
        }
    }
    return matching;
}

std::size_t CallRecorder::Count(std::string_view method) const {
    return Calls(method).size();
}

void CallRecorder::Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void CallRecorder::Reset() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    answers_.clear();
    closedGates_.clear();
    changed_.notify_all();
}

}  // namespace zntr::test
