#include "device_open.h"

#include <cstdio>

#include "default_socket.h"
#include "device_error.h"

namespace zntr::tools {

void AddSocketOption(CLI::App& command, std::string& socket) {
    command.add_option("--socket", socket,
                       "The host's socket (default: " + client::DefaultSocketPath() + ")");
}

std::unique_ptr<client::DeviceFile> OpenDevice(const std::string& name, const std::string& socket) {
    const std::string path = socket.empty() ? client::DefaultSocketPath() : socket;
    try {
        return client::DeviceFile::Open(path);
    } catch (const client::DeviceError& error) {
        std::string hint;
        if (error.GetKind() == client::DeviceError::Kind::kHostNotRunning) {
            hint =
                "\nStart a host first (`zntr host`, see `zntr host --help`), or try "
                "`zntr demo`, which runs a simulated hotspot, a host and a watcher together.";
        } else if (error.Status() == STG_E_ACCESSDENIED) {
            hint =
                "\nAnother program is reading the device's raw stream (`zntr cat`): while it "
                "does, the device takes no other open.";
        }
        std::fprintf(stderr, "%s: %s%s\n", name.c_str(), error.what(), hint.c_str());
        return nullptr;
    }
}

}  // namespace zntr::tools
