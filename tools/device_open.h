// What the client commands (watch, get, cat) share: the --socket option with the default every
// part of the system uses, and opening the device there with a plain message when it fails.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "device_file.h"

namespace zntr::tools {

// Adds --socket to the command; an empty value means the default path.
void AddSocketOption(CLI::App& command, std::string& socket);

// Opens the device at the socket (the default when empty). On failure it prints
// "<name>: <what went wrong>" with a hint on what to do, and returns null.
std::unique_ptr<client::DeviceFile> OpenDevice(const std::string& name, const std::string& socket);

}  // namespace zntr::tools
