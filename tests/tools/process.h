// Running the zntr binary as a child process and collecting what it prints, and reading what
// it wrote.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

inline std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// A file's bytes; empty when it cannot be read.
inline std::string ReadTextFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// The text cut at line feeds, without them.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace zntr::test
