// The subcommands of zntr. Each Add* function registers one subcommand with its options and
// the callback that runs it; the callback leaves its exit status for ExitCode().
#pragma once

#include <CLI/CLI.hpp>

namespace zntr::tools {

void AddDecodeCommand(CLI::App& app);
void AddTrackCommand(CLI::App& app);
void AddHotspotCommand(CLI::App& app);
void AddDiscoverCommand(CLI::App& app);
void AddHostCommand(CLI::App& app);
void AddPowerCommand(CLI::App& app);
void AddPnpCommand(CLI::App& app);
void AddDemoCommand(CLI::App& app);
void AddWatchCommand(CLI::App& app);
void AddGetCommand(CLI::App& app);
void AddCatCommand(CLI::App& app);

// The exit status the subcommand that ran has set (0 until one sets another).
int ExitCode();
void SetExitCode(int code);

}  // namespace zntr::tools
