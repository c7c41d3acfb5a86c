// zntr host: runs the framework host with a driver module until it is stopped (Ctrl-C, SIGTERM
// or `zntr host stop`), and `zntr host status|stop` to a running one.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "commands.h"
#include "default_device.h"
#include "default_socket.h"
#include "device_error.h"
#include "device_server.h"
#include "driver_class.h"
#include "framework_host.h"
#include "host_commands.h"
#include "host_control.h"
#include "host_report.h"
#include "sensor_class_extension.h"
#include "standin/combaseapi.h"
#include "standin/control.h"
#include "standin/stringapiset.h"

#ifndef ZNTR_DEFAULT_MODULE
#error "ZNTR_DEFAULT_MODULE names the driver module the build makes"
#endif

namespace zntr::tools {
namespace {

struct HostOptions {
    std::string module = ZNTR_DEFAULT_MODULE;
    std::string driverClass;
    std::string socket;
    std::string deviceInstanceId;
    std::string state;
    std::string log;
    std::string registry;
    std::string socketGroup;
    bool lan = false;
};

std::wstring Wide(const std::string& text) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            size);
    }
    return wide;
}

std::string Narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                            size, nullptr, nullptr);
    }
    return narrow;
}

// $XDG_STATE_HOME/zntr, else ~/.local/state/zntr; without a home, the state stays in memory.
std::string DefaultStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/zntr";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/zntr";
    }
    return "";
}

std::string DefaultDriverClass() {
    wchar_t text[64] = {};
    StringFromGUID2(CLSID_ZntrLocationDriver, text, 64);
    return Narrow(text);
}

int RunHost(const HostOptions& options) {
    // The environment is set before any thread runs: the driver reads it through the platform.
    if (!options.registry.empty()) {
        ::setenv("ZNTR_REGISTRY", options.registry.c_str(), 1);
    }
    if (options.lan) {
        ::setenv("ZNTR_ALLOW_LAN", "1", 1);
    }
    if (options.log == "-") {
        platform::SetDebugOutputToStderr();
    } else if (!options.log.empty() && !platform::SetDebugOutputToFile(options.log)) {
        std::fprintf(stderr, "zntr host: cannot write the log %s\n", options.log.c_str());
        return 1;
    }

    host::FrameworkHostOptions hostOptions;
    hostOptions.modulePath = options.module;
    const std::string driverClass =
        options.driverClass.empty() ? DefaultDriverClass() : options.driverClass;
    if (FAILED(CLSIDFromString(Wide(driverClass).c_str(), &hostOptions.driverClass))) {
        std::fprintf(stderr, "zntr host: --driver-class: not a class identifier: %s\n",
                     driverClass.c_str());
        return 2;
    }
    if (!options.deviceInstanceId.empty()) {
        hostOptions.deviceInstanceId = Wide(options.deviceInstanceId);
    }
    hostOptions.stateFolder = options.state;
    hostOptions.components.push_back({"sensor class extension", host::RegisterSensorClassExtension,
                                      host::RevokeSensorClassExtension});

    // Only the main thread's wait takes the stop signals: they are blocked before any thread
    // starts, and every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<host::FrameworkHost> running;
    try {
        running = host::FrameworkHost::Start(hostOptions);
    } catch (const host::HostStartError& error) {
        std::fprintf(stderr, "zntr host: cannot start: %s\n", error.what());
        return 1;
    }
    const std::string socket =
        options.socket.empty() ? client::DefaultSocketPath() : options.socket;
    std::unique_ptr<host::DeviceServer> server;
    try {
        server = std::make_unique<host::DeviceServer>(*running, socket,
                                                      socket == client::DefaultSocketPath(),
                                                      [] { ::kill(::getpid(), SIGTERM); },
                                                      options.socketGroup);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr host: cannot serve: %s\n", error.what());
        running->Stop();
        return 1;
    }
    std::printf("serving %s at %s\nready\n", Narrow(hostOptions.deviceInstanceId).c_str(),
                server->SocketPath().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&signals, &signal);
    server->Stop();
    server.reset();
    const bool clean = running->Stop();
    running.reset();
    std::printf("stopped%s\n", clean ? "" : " (with host errors)");
    std::fflush(stdout);
    return clean ? 0 : 3;
}

int RunControl(const std::string& socketPath, protocol::HostCommand command) {
    const auto& name = protocol::NameOf(command);
    const std::string socket = socketPath.empty() ? client::DefaultSocketPath() : socketPath;
    const std::string label = "zntr " + std::string(name.group) + " " + std::string(name.verb);
    try {
        const client::HostCommandResult result = client::RunHostCommand(socket, command);
        if (FAILED(result.status)) {
            std::fprintf(stderr, "%s: refused: %s\n", label.c_str(),
                         client::DescribeDeviceStatus(result.status).c_str());
            return 1;
        }
        std::printf("%s\n",
                    command == protocol::HostCommand::kStatus
                        ? result.text.c_str()
                        : (label.substr(5) + ": " + host::StatusText(result.status)).c_str());
        return 0;
    } catch (const client::DeviceError& error) {
        std::fprintf(stderr, "%s: %s\n", label.c_str(), error.what());
        return 1;
    }
}

// The power and pnp commands: one action of the command table's group.
void AddControlCommand(CLI::App& command, const std::string& group) {
    auto socket = std::make_shared<std::string>();
    auto verb = std::make_shared<std::string>();
    std::vector<std::string> verbs;
    std::string table;
    for (const auto& name : protocol::kHostCommandNames) {
        if (name.group == group) {
            verbs.emplace_back(name.verb);
            table += "  " + std::string(name.verb) + std::string(16 - name.verb.size(), ' ') +
                     std::string(name.effect) + "\n";
        }
    }
    command.add_option("action", *verb, "What to do")->required()->check(CLI::IsMember(verbs));
    command.add_option("--socket", *socket,
                       "The host's socket (default: " + client::DefaultSocketPath() + ")");
    command.footer("Actions:\n" + table + "\nExample:\n  zntr " + group + " " + verbs.front() +
                   " --socket /tmp/zntr-test/host.sock");
    command.callback([socket, verb, group] {
        const auto found = protocol::FindHostCommand(group, *verb);
        SetExitCode(found ? RunControl(*socket, *found) : 2);
    });
}

}  // namespace

void AddHostCommand(CLI::App& app) {
    auto options = std::make_shared<HostOptions>();
    CLI::App* command = app.add_subcommand(
        "host", "Run the framework host: load the driver module and serve its device");
    command->add_option("--module", options->module, "The driver module to load")
        ->capture_default_str();
    command->add_option("--driver-class", options->driverClass,
                        "The module's driver class (default: " + DefaultDriverClass() + ")");
    command->add_option("--socket", options->socket,
                        "Where to serve the device (default: " + client::DefaultSocketPath() + ")");
    command->add_option(
        "--device-instance-id", options->deviceInstanceId,
        "The device instance ID (default: " + Narrow(host::kDefaultDeviceInstanceId) + ")");
    command->add_option(
        "--state", options->state,
        "Folder of the device's property store (default: " + DefaultStateFolder() + ")");
    command->add_option("--log", options->log,
                        "Where the debugger output goes: a file, or - for standard error "
                        "(default: nowhere)");
    command->add_option("--registry", options->registry,
                        "The .reg file the driver reads its settings from (sets ZNTR_REGISTRY)");
    command->add_option("--socket-group", options->socketGroup,
                        "Let this group (name or number) connect too (socket mode 0660)");
    command->add_flag("--lan", options->lan,
                      "Let the driver reach real, non-loopback addresses (ZNTR_ALLOW_LAN=1)");
    command->footer(
        "Prints \"serving <device> at <socket>\" and \"ready\" once clients may open the device; "
        "runs until Ctrl-C, SIGTERM or `zntr host stop`, then releases the device and unloads "
        "the module (exit status 0, or 3 when the host saw the driver break a rule).\n\n"
        "The driver's own log is switched on by EnableLog=dword:00000001 under "
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zentrova\\ZADOdizEzud] in the --registry file.\n\n"
        "Examples:\n"
        "  zntr host --log - --registry data/registry/enable-log.reg\n"
        "  zntr host --socket /tmp/zntr-test/host.sock --state /tmp/zntr-test/state\n"
        "  zntr host status\n"
        "  zntr host stop");
    command->require_subcommand(0, 1);
    for (const protocol::HostCommand verb :
         {protocol::HostCommand::kStatus, protocol::HostCommand::kStop}) {
        const auto& name = protocol::NameOf(verb);
        CLI::App* sub = command->add_subcommand(std::string(name.verb), std::string(name.effect));
        auto socket = std::make_shared<std::string>();
        sub->add_option("--socket", *socket,
                        "The host's socket (default: " + client::DefaultSocketPath() + ")");
        sub->callback([socket, verb] { SetExitCode(RunControl(*socket, verb)); });
    }
    command->callback([options, command] {
        if (command->get_subcommands().empty()) {
            if (options->state.empty()) {
                options->state = DefaultStateFolder();
            }
            SetExitCode(RunHost(*options));
        }
    });
}

void AddPowerCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand(
        "power", "Drive the device's power callbacks in a running host: sleep, hibernate, wake");
    AddControlCommand(*command, "power");
}

void AddPnpCommand(CLI::App& app) {
    CLI::App* command =
        app.add_subcommand("pnp", "Drive the device's Plug and Play callbacks in a running host");
    AddControlCommand(*command, "pnp");
}

}  // namespace zntr::tools
