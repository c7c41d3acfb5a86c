// zntr: the command line of the GPS sensor driver's world on Linux.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
    CLI::App app{"zntr: the hotspot GPS sensor driver, its host, simulator and tools"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every subcommand");

    zntr::tools::AddDecodeCommand(app);
    zntr::tools::AddTrackCommand(app);
    zntr::tools::AddHotspotCommand(app);
    zntr::tools::AddDiscoverCommand(app);
    zntr::tools::AddHostCommand(app);
    zntr::tools::AddPowerCommand(app);
    zntr::tools::AddPnpCommand(app);
    zntr::tools::AddDemoCommand(app);
    zntr::tools::AddWatchCommand(app);
    zntr::tools::AddGetCommand(app);
    zntr::tools::AddCatCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    return zntr::tools::ExitCode();
}
