#include "process_metrics.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <unistd.h>

namespace zntr::test {
namespace {

std::string ProcFolder(int pid) {
    return pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(pid);
}

std::optional<std::size_t> CountEntries(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) {
        return std::nullopt;
    }
    std::size_t entries = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            return std::nullopt;
        }
        ++entries;
    }
    return entries;
}

}  // namespace

std::optional<ProcessMetrics> ReadProcessMetrics(int pid) {
    const std::string folder = ProcFolder(pid);
    std::ifstream status(folder + "/status");
    if (!status) {
        return std::nullopt;
    }
    ProcessMetrics metrics;
    bool sawThreads = false;
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string key;
        std::size_t value = 0;
        fields >> key >> value;
        if (key == "Threads:") {
            metrics.threads = value;
            sawThreads = true;
        } else if (key == "VmRSS:") {
            metrics.residentKiB = value;
        } else if (key == "VmHWM:") {
            metrics.peakResidentKiB = value;
        }
    }
    const auto descriptors = CountEntries(folder + "/fd");
    if (!sawThreads || !descriptors) {
        return std::nullopt;
    }
    // Listing our own descriptors holds one open for the listing itself.
    metrics.descriptors = pid == 0 || pid == ::getpid() ? *descriptors - 1 : *descriptors;
    return metrics;
}

std::optional<double> ReadProcessCpuSeconds(int pid) {
    std::ifstream stat(ProcFolder(pid) + "/stat");
    std::string content;
    if (!std::getline(stat, content)) {
        return std::nullopt;
    }
    // The command name (field 2) is in parentheses and may hold spaces; utime and stime are
    // fields 14 and 15, counted from the closing parenthesis.
    const auto close = content.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(content.substr(close + 1));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
        }
    }
    if (!fields) {
        return std::nullopt;
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace zntr::test
