// The line sink: where the receive loop hands each NMEA line it cuts out of the hotspot's stream.
#pragma once

// Runs one NUL-terminated narrow text through the sensor's parser and writes what it decoded into
// the sensor's data fields: a line ending in "\n", or the text "Dummy", which first runs the
// proprietary-sentence update on the position currently in the fix record. Reaches the sensor
// through gpSensorDDI and does nothing while that is null. Runs on the receive thread only and is
// not re-entered.
void ProcessNMEALine(const char* pLine);
