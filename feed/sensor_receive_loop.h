// The sensor's receive loop: the thread that connects to the hotspot's NMEA stream, gathers what
// it receives in the sensor's circular buffer and hands each complete line to the line sink.
// The sensor's first client starts it and its last client ends it (sensor_clients.cpp).
#pragma once

#include "circular_buffer.h"
#include "driver_platform.h"

class cSensorDDI;

// The pass counter: counts the passes that took lines out of the buffer, so that every sixth
// runs the "Dummy" update. Module-wide, 0 when the module is loaded, used by the receive thread
// only; it carries over from one receive thread to the next.
extern ULONG gRecvPassCount;

// 1 when the sensor has a connected stream socket in mSocket (at once when it already holds
// one), 0 when none could be created, the hotspot offers no stream or the connect failed; the
// socket is then closed and mSocket is 0. Without a stop event the discovery retries until the
// hotspot's web interface accepts a connection.
int SocketCreateAndConnect(cSensorDDI* pSensorDDI);

// The receive thread; its parameter is the sensor. Ends by itself only when it cannot set up
// (no sensor, no storage, no connection); otherwise it runs until it is terminated. Exit code 0.
DWORD WINAPI GpsRecvThreadProc(LPVOID pParameter);

// Frees the buffer's storage (when there is any) and clears its pointer and both indices. Called
// by the receive thread when it gives up, and by the owner once the thread no longer runs.
void ReleaseRecvBufferStorage(CircularBuffer& buffer);
