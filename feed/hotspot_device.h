// The hotspot's two endpoints as the driver knows them: its web interface (HTTP, port 80), at a
// fixed host name or at its fixed LAN address, and the default endpoint of its NMEA stream.
// Plain constants with no includes, so that the tools can name the same endpoints.
#pragma once

// The web interface's host name: resolved before each discovery attempt and put in the Host line
// of the name request. A neutral name under the ".internal" domain, which is kept for private
// networks and never delegated, so it cannot name anyone's real host.
#define HOTSPOT_WEB_API_HOST_NAME "gps-hotspot.internal"

// The hotspot's address on its own Wi-Fi network: the web interface's address when the name
// does not resolve, and the stream's address when the answer names none.
#define HOTSPOT_DEFAULT_ADDRESS "192.168.1.1"

// The web interface's port and service name.
constexpr int HOTSPOT_HTTP_PORT = 80;
#define HOTSPOT_HTTP_SERVICE "80"

// The stream's port when the answer leaves the driver to default; also the start value of the
// receive loop's port variable (the NMEA 0183 over IP port).
constexpr int HOTSPOT_DEFAULT_STREAM_PORT = 10110;
