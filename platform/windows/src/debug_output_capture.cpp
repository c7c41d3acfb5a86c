// The debugger-output controls on Windows. OutputDebugStringA hands its text to a debugger by
// raising the exception DBG_PRINTEXCEPTION_C (arguments: the length with its terminator, then the
// text), which it handles itself when no debugger takes it. A vectored exception handler sees it
// first, on the thread that wrote the text: it passes the text to the sink and lets the search go
// on, so OutputDebugStringA carries on as it would have.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "standin/control.h"

namespace zntr::platform {
namespace {

#ifndef DBG_PRINTEXCEPTION_C
#define DBG_PRINTEXCEPTION_C 0x40010006L
#endif

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

DebugOutputSink& Sink() {
    static DebugOutputSink sink;
    return sink;
}

LONG CALLBACK OnException(PEXCEPTION_POINTERS pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != static_cast<DWORD>(DBG_PRINTEXCEPTION_C) ||
        record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto length = static_cast<size_t>(record->ExceptionInformation[0]);
    const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    // Wine passes a null text on as an empty one, which the stand-in's sink never sees.
    if (text != nullptr && length > 1) {
        std::lock_guard<std::mutex> lock(SinkMutex());
        if (Sink()) {
            // The length counts the terminator.
            Sink()(std::string_view(text, length - 1));
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void InstallOnce() {
    static std::once_flag installed;
    std::call_once(installed, [] { AddVectoredExceptionHandler(1, &OnException); });
}

}  // namespace

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
    InstallOnce();
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

DebugOutputCapture::DebugOutputCapture() {
    previous_ = SetDebugOutputSink([this](std::string_view text) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.emplace_back(text);
    });
}

DebugOutputCapture::~DebugOutputCapture() {
    SetDebugOutputSink(std::move(previous_));
}

std::vector<std::string> DebugOutputCapture::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(messages_, {});
}

}  // namespace zntr::platform
