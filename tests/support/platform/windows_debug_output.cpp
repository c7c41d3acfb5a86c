// The debugger-output sink of the Windows build, for the test programs run under Wine.
// OutputDebugStringA hands its text to a debugger by raising DBG_PRINTEXCEPTION_C (arguments:
// the length with its terminator, then the text) and handles the exception itself when no
// debugger takes it. A vectored exception handler sees it first, on the writing thread: it passes
// the text to the sink and lets the search go on.
#include <windows.h>

#include <mutex>
#include <utility>

#include "standin/control.h"

namespace zntr::platform {
namespace {

std::mutex gSinkMutex;
DebugOutputSink gSink;

LONG CALLBACK OnException(PEXCEPTION_POINTERS pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    // 0x40010006 is DBG_PRINTEXCEPTION_C. Wine passes a null text on as an empty one.
    if (record->ExceptionCode == 0x40010006L && record->NumberParameters >= 2 && text != nullptr &&
        record->ExceptionInformation[0] > 1) {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        if (gSink) {
            gSink(std::string_view(text, record->ExceptionInformation[0] - 1));
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
    static const PVOID handler = AddVectoredExceptionHandler(1, &OnException);
    static_cast<void>(handler);
    std::lock_guard<std::mutex> lock(gSinkMutex);
    return std::exchange(gSink, std::move(sink));
}

}  // namespace zntr::platform
