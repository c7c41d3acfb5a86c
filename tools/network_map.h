// The network map that sends the driver's hotspot endpoints to a simulator on loopback.
#pragma once

#include <string>

#include "simulator/simulator.h"

namespace zntr::tools {

// A ZNTR_NETMAP value: the hotspot's host name resolves to the simulator's address, and the
// status page's endpoints (by name and by the hotspot's LAN address) and the default stream
// endpoint lead to the simulator's ports.
std::string NetworkMapFor(const hotspot::HotspotSimulator& simulator);

}  // namespace zntr::tools
