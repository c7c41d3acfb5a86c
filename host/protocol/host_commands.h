// The names of the host's control commands, as `zntr host|power|pnp` spell them: one table.
#pragma once

#include <optional>
#include <string_view>

#include "wire_format.h"

namespace zntr::protocol {

struct HostCommandName {
    HostCommand command;
    std::string_view group;  // the zntr subcommand: host, power or pnp
    std::string_view verb;
    std::string_view effect;  // what the host does, for help texts
};

inline constexpr HostCommandName kHostCommandNames[] = {
    {HostCommand::kStatus, "host", "status", "report the device's power and Plug and Play state"},
    {HostCommand::kStop, "host", "stop", "stop the host: clean up files, release, unload"},
    {HostCommand::kPowerSleep, "power", "sleep",
     "D0 exit to D3 while the system goes to sleep (PowerActionSleep)"},
    {HostCommand::kPowerHibernate, "power", "hibernate",
     "D0 exit to D3 while the system hibernates (PowerActionHibernate)"},
    {HostCommand::kPowerWake, "power", "wake",
     "D0 entry from D3 as the system returns from sleep or hibernation"},
    {HostCommand::kQueryRemove, "pnp", "query-remove", "ask the driver whether it may be removed"},
    {HostCommand::kQueryStop, "pnp", "query-stop", "ask the driver whether it may be stopped"},
    {HostCommand::kSurpriseRemove, "pnp", "surprise-remove",
     "the device is gone: surprise removal, D0 exit, hardware release"},
    {HostCommand::kRelease, "pnp", "release", "D0 exit and hardware release: the device stops"},
};

constexpr std::optional<HostCommand> FindHostCommand(std::string_view group,
                                                     std::string_view verb) {
    for (const HostCommandName& name : kHostCommandNames) {
        if (name.group == group && name.verb == verb) {
            return name.command;
        }
    }
    return std::nullopt;
}

constexpr const HostCommandName& NameOf(HostCommand command) {
    for (const HostCommandName& name : kHostCommandNames) {
        if (name.command == command) {
            return name;
        }
    }
    return kHostCommandNames[0];
}

}  // namespace zntr::protocol
