#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "standin/control.h"
#include "standin/debugapi.h"

namespace zntr::platform {
namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

DebugOutputSink& Sink() {
    static DebugOutputSink sink;
    return sink;
}

}  // namespace

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    return std::exchange(Sink(), std::move(sink));
}

void SetDebugOutputToStderr() {
    SetDebugOutputSink([](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    });
}

bool SetDebugOutputToFile(const std::string& path) {
    std::FILE* raw = std::fopen(path.c_str(), "ab");
    if (raw == nullptr) {
        return false;
    }
    std::shared_ptr<std::FILE> file(raw, [](std::FILE* f) { std::fclose(f); });
    SetDebugOutputSink([file](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), file.get());
        std::fflush(file.get());
    });
    return true;
}

}  // namespace zntr::platform

extern "C" void OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(zntr::platform::SinkMutex());
    if (zntr::platform::Sink()) {
        zntr::platform::Sink()(std::string_view(lpOutputString));
    }
}
