#include "network_map.h"

#include "hotspot_device.h"

namespace zntr::tools {

std::string NetworkMapFor(const hotspot::HotspotSimulator& simulator) {
    const std::string address = simulator.address();
    const std::string http = address + ":" + std::to_string(simulator.http_port());
    return std::string(HOTSPOT_WEB_API_HOST_NAME) + "=" + address + ";" + address + ":" +
           std::to_string(HOTSPOT_HTTP_PORT) + "=" + http + ";" + HOTSPOT_DEFAULT_ADDRESS + ":" +
           std::to_string(HOTSPOT_HTTP_PORT) + "=" + http + ";" + HOTSPOT_DEFAULT_ADDRESS + ":" +
           std::to_string(HOTSPOT_DEFAULT_STREAM_PORT) + "=" + address + ":" +
           std::to_string(simulator.stream_port());
}

}  // namespace zntr::tools
