// `zntr host`, `zntr power` and `zntr pnp` as a user runs them: the host started with the test
// driver module, the ready line, the commands and their exit statuses, the debugger output file,
// and the stop by signal or command.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback_tools.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::ChildProcess;

struct CommandRun {
    int status = -1;
    std::string output;  // standard output and error
};

CommandRun Shell(const std::string& command) {
    CommandRun run;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), read);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Module(const std::string& name) {
    return std::string(ZNTR_TEST_MODULES) + "/" + name + ".so";
}

constexpr char kTestClass[] = "{5B0C7E4A-3D1F-4C2B-9A8E-7F6D5C4B3A21}";

class HostCli : public ::testing::Test {
  protected:
    // Starts `zntr host` with the test driver and waits for its ready line.
    void StartHost(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {ZNTR_BINARY,      "host",
                                         "--module",       Module("test_driver"),
                                         "--driver-class", kTestClass,
                                         "--socket",       socket_,
                                         "--state",        folder_.path() + "/state",
                                         "--log",          log_};
        argv.insert(argv.end(), extra.begin(), extra.end());
        host_ = ChildProcess::Start(argv, output_);
        ASSERT_TRUE(host_);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (ReadFile(output_).find("ready\n") == std::string::npos && !host_->Exited() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_NE(ReadFile(output_).find("ready\n"), std::string::npos) << ReadFile(output_);
    }
    CommandRun Zntr(const std::string& arguments) {
        return Shell(std::string(ZNTR_BINARY) + " " + arguments + " --socket '" + socket_ + "'");
    }
    // The test driver's lines of the host's debugger output, in order.
    std::vector<std::string> DriverLines() {
        std::vector<std::string> lines;
        std::istringstream text(ReadFile(log_));
        std::string line;
        while (std::getline(text, line)) {
            if (line.rfind("test driver: ", 0) == 0) {
                lines.push_back(line.substr(13));
            }
        }
        return lines;
    }

    zntr::test::TempFolder folder_;
    const std::string socket_ = folder_.path() + "/run/host.sock";
    const std::string log_ = folder_.path() + "/debug.log";
    const std::string output_ = folder_.path() + "/host.out";
    std::unique_ptr<ChildProcess> host_;
};

TEST_F(HostCli, ServesUntilCtrlCAndPrintsWhereItServes) {
    StartHost({"--device-instance-id", "ROOT\\ZNTR_CLI\\0001"});
    EXPECT_NE(ReadFile(output_).find("serving ROOT\\ZNTR_CLI\\0001 at " + socket_ + "\n"),
              std::string::npos)
        << ReadFile(output_);
    const CommandRun status = Zntr("host status");
    EXPECT_EQ(status.status, 0);
    EXPECT_NE(status.output.find("\"pnp\":\"started\""), std::string::npos) << status.output;
    EXPECT_EQ(host_->InterruptAndWait(10s), 0);
    EXPECT_NE(ReadFile(output_).find("stopped\n"), std::string::npos);
    EXPECT_EQ(DriverLines(), (std::vector<std::string>{
                                 "DllMain attach", "OnInitialize",
                                 "OnDeviceAdd ROOT\\ZNTR_CLI\\0001", "OnPrepareHardware",
                                 "OnD0Entry previous=5 action=0", "OnD0Exit target=5 action=0",
                                 "OnReleaseHardware", "OnDeinitialize", "DllMain detach"}));
    EXPECT_FALSE(Zntr("host status").status == 0) << "the socket went with the host";
}

TEST_F(HostCli, PowerAndPnpCommandsDriveTheCallbacksAndSayWhenRefused) {
    StartHost();
    struct Step {
        const char* command;
        int status;
        const char* output;  // part of what it prints
    };
    const Step steps[] = {
        {"power sleep", 0, "power sleep: 0x00000000"},
        {"power hibernate", 1, "refused: ERROR_INVALID_STATE (0x8007139F)"},
        {"power wake", 0, "power wake: 0x00000000"},
        {"power hibernate", 0, "power hibernate: 0x00000000"},
        {"power wake", 0, "power wake: 0x00000000"},
        {"pnp query-remove", 0, "pnp query-remove: 0x00000000"},
        {"pnp query-stop", 0, "pnp query-stop: 0x00000000"},
        {"pnp release", 0, "pnp release: 0x00000000"},
        {"pnp surprise-remove", 1, "refused: ERROR_DEVICE_REMOVED (0x80070651)"},
        {"power dance", 2, "dance not in {sleep,hibernate,wake}"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        const CommandRun run = Zntr(step.command);
        EXPECT_EQ(run.status, step.status) << run.output;
        EXPECT_NE(run.output.find(step.output), std::string::npos) << run.output;
    }
    const CommandRun stop = Zntr("host stop");
    EXPECT_EQ(stop.status, 0) << stop.output;
    EXPECT_EQ(host_->InterruptAndWait(10s), 0);
    const std::vector<std::string> lines = DriverLines();
    ASSERT_GE(lines.size(), 7u);
    const std::vector<std::string> middle(lines.begin() + 5, lines.end() - 2);
    EXPECT_EQ(middle,
              (std::vector<std::string>{
                  "OnD0Exit target=4 action=2", "OnD0Entry previous=4 action=2",
                  "OnD0Exit target=4 action=3", "OnD0Entry previous=4 action=3", "OnQueryRemove",
                  "OnQueryStop", "OnD0Exit target=5 action=0", "OnReleaseHardware"}));
}

TEST_F(HostCli, ExplainsWhyItCannotStartOrReachAHost) {
    struct Case {
        const char* legend;
        std::string command;
        int status;
        std::string output;
    };
    const std::string socket = " --socket '" + folder_.path() + "/none.sock'";
    const std::string hostOptions = socket + " --state '" + folder_.path() + "/state'";
    const Case cases[] = {
        {"no such module", "host --module " + Module("missing") + hostOptions, 1,
         "zntr host: cannot start: cannot load " + Module("missing") + ": no such file"},
        {"a module of another framework version",
         "host --driver-class " + std::string(kTestClass) + " --module " +
             Module("test_driver_v1_10") + hostOptions,
         1, "is built for framework version 1.10.0; this host runs 1.9.0"},
        {"a module that refuses its attach",
         "host --driver-class " + std::string(kTestClass) + " --module " +
             Module("test_driver_refuses") + hostOptions,
         1, "DllMain refused the process attach"},
        {"a class identifier that is not one", "host --driver-class nonsense" + hostOptions, 2,
         "not a class identifier"},
        {"no host for a power command", "power sleep" + socket, 1,
         "zntr power sleep: no host is running: " + folder_.path() + "/none.sock does not exist"},
        {"no host for a pnp command", "pnp release" + socket, 1, "no host is running"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const CommandRun run = Shell(std::string(ZNTR_BINARY) + " " + c.command);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.output), std::string::npos) << run.output;
    }
}

TEST_F(HostCli, RefusesToServeWhereAnotherHostServes) {
    StartHost();
    const CommandRun second =
        Shell(std::string(ZNTR_BINARY) + " host --driver-class " + kTestClass + " --module " +
              Module("test_driver") + " --socket '" + socket_ + "'");
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.output.find("a host is already serving at " + socket_), std::string::npos)
        << second.output;
    EXPECT_EQ(Zntr("host status").status, 0) << "the first host is unharmed";
}

}  // namespace
