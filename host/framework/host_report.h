// What the framework host reports about itself, apart from the driver's debugger output: errors
// (a driver breaking the framework's rules, such as completing a request twice, or a module that
// cannot be unloaded) and notices (a client that sent a malformed message). Both go to standard
// error unless a sink is installed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "standin/winerror.h"

namespace zntr::host {

enum class ReportKind { kError, kNotice };

using HostReportSink = std::function<void(ReportKind kind, std::string_view message)>;

// Installs a sink and returns the one it replaces; an empty sink restores standard error.
HostReportSink SetHostReportSink(HostReportSink sink);

void ReportHostError(std::string_view message);
void ReportHostNotice(std::string_view message);

// "0x%08X" of a status, the way the host prints every HRESULT.
std::string StatusText(HRESULT status);

}  // namespace zntr::host
