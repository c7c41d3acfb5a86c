#include "host_report.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace zntr::host {
namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

HostReportSink& Sink() {
    static HostReportSink sink;
    return sink;
}

void Report(ReportKind kind, std::string_view message) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) {
        Sink()(kind, message);
        return;
    }
    std::fprintf(stderr, "zntr host: %s%.*s\n", kind == ReportKind::kError ? "error: " : "",
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

}  // namespace

HostReportSink SetHostReportSink(HostReportSink sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    return std::exchange(Sink(), std::move(sink));
}

void ReportHostError(std::string_view message) {
    Report(ReportKind::kError, message);
}

void ReportHostNotice(std::string_view message) {
    Report(ReportKind::kNotice, message);
}

std::string StatusText(HRESULT status) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

}  // namespace zntr::host
