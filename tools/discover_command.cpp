// zntr discover: runs the driver's port discovery once, as the sensor's receive thread does.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "standin/control.h"
#include "standin/network_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "gps_port_info.h"
#include "hotspot_device.h"

namespace zntr::tools {
namespace {

struct DiscoverOptions {
    bool log = false;
    double timeout_seconds = 0.0;
    std::string netmap;
    bool netmap_given = false;
    bool lan = false;
};

// What the discovery thread works on; the address buffer and the port start as the receive
// loop's do.
struct Discovery {
    char address[PORT_QUERY_ADDRESS_SIZE] = {};
    int port = HOTSPOT_DEFAULT_STREAM_PORT;
    int result = 0;
};

DWORD WINAPI DiscoveryThread(LPVOID parameter) {
    auto* discovery = static_cast<Discovery*>(parameter);
    discovery->result = QueryGpsPortInfo(discovery->address, &discovery->port, nullptr);
    return 0;
}

// Closes the thread handle on every way out.
struct ThreadHandle {
    HANDLE handle;
    ~ThreadHandle() {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
};

void RunDiscover(const DiscoverOptions& options) {
    if (options.netmap_given || options.lan) {
        const char* environmentMap = std::getenv("ZNTR_NETMAP");
        platform::NetworkSettings settings;
        settings.map = options.netmap_given ? options.netmap
                                            : (environmentMap == nullptr ? "" : environmentMap);
        settings.allowLan = options.lan;
        std::string error;
        if (!platform::SetNetworkSettings(settings, &error)) {
            std::fprintf(stderr, "zntr discover: bad network map: %s\n", error.c_str());
            SetExitCode(2);
            return;
        }
    }
    if (options.log) {
        platform::SetDebugOutputToStderr();
        gEnableLog = 1;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        std::fprintf(stderr, "zntr discover: WSAStartup failed\n");
        SetExitCode(1);
        return;
    }
    // TerminateThread returns only once the thread no longer runs, so the record the thread
    // writes can live on this stack even when the attempt is ended by force.
    Discovery discovery;
    ThreadHandle thread{CreateThread(nullptr, 0, DiscoveryThread, &discovery, 0, nullptr)};
    if (thread.handle == nullptr) {
        std::fprintf(stderr, "zntr discover: cannot start the discovery thread\n");
        WSACleanup();
        SetExitCode(1);
        return;
    }
    const DWORD wait = options.timeout_seconds > 0
                           ? static_cast<DWORD>(options.timeout_seconds * 1000.0)
                           : INFINITE;
    if (WaitForSingleObject(thread.handle, wait) != WAIT_OBJECT_0) {
        TerminateThread(thread.handle, 0);
        WSACleanup();
        std::fprintf(stderr,
                     "zntr discover: the hotspot's web interface gave no answer within %g s; "
                     "the attempt was ended\n",
                     options.timeout_seconds);
        SetExitCode(3);
        return;
    }
    WSACleanup();
    const nlohmann::ordered_json line = {
        {"result", discovery.result}, {"address", discovery.address}, {"port", discovery.port}};
    // The address is whatever the answer held; bytes that are not UTF-8 print as U+FFFD.
    std::printf("%s\n",
                line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    SetExitCode(discovery.result == 1 ? 0 : 1);
}

}  // namespace

void AddDiscoverCommand(CLI::App& app) {
    auto options = std::make_shared<DiscoverOptions>();
    CLI::App* command = app.add_subcommand(
        "discover",
        "Ask the hotspot's web interface where its GPS stream is, as the sensor does, and print "
        "{\"result\":R,\"address\":\"A\",\"port\":P}");
    command->add_flag("--log", options->log, "Write the driver's debug log to standard error");
    command
        ->add_option("--timeout", options->timeout_seconds,
                     "Give up after this many seconds (exit status 3); the sensor's path "
                     "retries for ever while the web interface refuses connections")
        ->check(CLI::NonNegativeNumber);
    command
        ->add_option("--netmap", options->netmap,
                     "Network map to use instead of ZNTR_NETMAP (NAME=ADDRESS and "
                     "ADDRESS:PORT=ADDRESS:PORT entries separated by ';')")
        ->each([options](const std::string&) { options->netmap_given = true; });
    command->add_flag("--lan", options->lan,
                      "Allow names and addresses beyond loopback (a real hotspot); as "
                      "ZNTR_ALLOW_LAN=1");
    command->footer(
        "Exit status: 0 when the result is 1, 1 when it is 0, 3 when --timeout ended it.\n\n"
        "Example, against `zntr hotspot --http-port 18080`:\n"
        "  ZNTR_NETMAP='" HOTSPOT_WEB_API_HOST_NAME
        "=127.0.0.1;127.0.0.1:80=127.0.0.1:18080' zntr discover --log");
    command->callback([options] { RunDiscover(*options); });
}

}  // namespace zntr::tools
