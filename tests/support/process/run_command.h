// A shell command line run to its end: its exit status and standard output.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace zntr::test {

struct ProcessResult {
    int status = -1;     // exit status, or -1 when it did not exit normally
    std::string output;  // standard output (and standard error when merged)
};

// Runs a shell command line and returns its exit status and standard output.
inline ProcessResult RunCommand(const std::string& command) {
    ProcessResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 65536> buffer;
    size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.output.append(buffer.data(), read);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace zntr::test
