// zntr_soak: runs the whole system for as long as asked (minutes to hours) and checks every
// period that the feed runs exactly while clients are connected, that subscribers keep getting
// events, and that the host's threads, descriptors and resident memory stay flat. Everything
// stays on loopback: the hotspot runs in this process and the host gets a network map that
// sends the driver's hotspot endpoints to it, with the LAN guard closed.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <random>

#include "soak_run.h"

int main(int argc, char** argv) {
    zntr::soak::SoakOptions options;
    options.zntr = ZNTR_TOOL;
    options.seed = std::random_device{}();
    CLI::App app(
        "Soak the driver in its host: clients, raw readers, power, Plug and Play and "
        "hotspot faults on a random, reproducible schedule, with a check every period",
        "zntr_soak");
    app.add_option("--minutes", options.minutes, "How long to run")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--check-every", options.checkEverySeconds, "Seconds between checks")
        ->check(CLI::Range(5.0, 3600.0))
        ->capture_default_str();
    app.add_option("--seed", options.seed, "Seed of the schedule (default: a random one)");
    app.add_option("--log", options.logFile, "Write every action and check to this file");
    app.add_option("--rss-tolerance-mib", options.rssToleranceMiB,
                   "Resident memory the host may gain over its baseline")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--thread-tolerance", options.threadTolerance,
                   "Threads the host may gain over its baseline")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--zntr", options.zntr, "The zntr executable")->capture_default_str();
    app.footer(
        "Exit status 0 when every check held, 1 after the first that did not.\n\n"
        "Example:\n  build/default/bin/zntr_soak --minutes 240 --log soak.log");
    CLI11_PARSE(app, argc, argv);
    // The driver must not reach the LAN from a soak, whatever the caller's environment says.
    ::unsetenv("ZNTR_ALLOW_LAN");
    try {
        zntr::soak::SoakRun run(options);
        return run.Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr_soak: %s\n", error.what());
        return 1;
    }
}
