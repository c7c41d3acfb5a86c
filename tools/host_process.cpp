#include "host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace zntr::tools {
namespace {

using namespace std::chrono_literals;

constexpr auto kPoll = 20ms;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool SaysReady(const std::string& output) {
    return output.starts_with("ready\n") || output.find("\nready\n") != std::string::npos;
}

// The parent's environment with the network map replaced and the LAN guard's release left out.
std::vector<std::string> HostEnvironment(const std::string& networkMap) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("ZNTR_NETMAP=") && !text.starts_with("ZNTR_ALLOW_LAN=")) {
            environment.emplace_back(text);
        }
    }
    environment.push_back("ZNTR_NETMAP=" + networkMap);
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::unique_ptr<HostProcess> HostProcess::Start(const HostProcessOptions& options) {
    const std::string socket = options.folder + "/host.sock";
    const std::string output = options.folder + "/host.out";
    std::vector<std::string> arguments{options.program, "host",    "--socket",
                                       socket,          "--state", options.folder + "/state"};
    arguments.insert(arguments.end(), options.extraArguments.begin(), options.extraArguments.end());
    std::vector<std::string> environment = HostEnvironment(options.networkMap);
    // Everything the child needs is made before the fork: after it, the child only makes
    // async-signal-safe calls (the simulator's threads may hold locks the child would need).
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(environment);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        throw std::runtime_error("cannot write " + output + ": " + std::strerror(errno));
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);  // the parent died before the death signal was armed
        }
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    if (pid < 0) {
        throw std::runtime_error(std::string("cannot start the host: ") + std::strerror(errno));
    }
    // Also here, so that the group exists before the parent signals it, whoever runs first.
    ::setpgid(pid, pid);
    std::unique_ptr<HostProcess> host(new HostProcess(pid, socket, output));

    const auto deadline = std::chrono::steady_clock::now() + options.readyTimeout;
    while (!SaysReady(host->Output())) {
        if (host->Reap(false)) {
            throw std::runtime_error("the host ended before it was ready (exit status " +
                                     std::to_string(host->status_) + "):\n" + host->Output());
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            host->Stop(5s);
            throw std::runtime_error("the host was not ready in time:\n" + host->Output());
        }
        std::this_thread::sleep_for(kPoll);
    }
    return host;
}

HostProcess::~HostProcess() {
    Stop();
}

std::string HostProcess::Output() const {
    return ReadText(outputPath_);
}

bool HostProcess::Reap(bool wait) {
    if (reaped_) {
        return true;
    }
    int status = 0;
    pid_t ended = 0;
    do {
        ended = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
    } while (ended < 0 && errno == EINTR);
    if (ended != pid_) {
        return false;
    }
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

int HostProcess::Stop(std::chrono::milliseconds timeout) {
    if (Reap(false)) {
        return status_;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            Reap(true);
            return -1;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return status_;
}

}  // namespace zntr::tools
