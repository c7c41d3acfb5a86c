// Decoder of the proprietary fix report PQXFI, which adds a position error estimate to time,
// position and altitude.
#include "nmea_parser.h"

// $PQXFI,123519.0,4807.038000,N,01131.000000,W,545.4,12.5,20.1,0.3*44
//   1     UTC time hhmmss.sss        -> mUTCTime
//   2,3   latitude, N/S              -> mLatitude
//   4,5   longitude, E/W             -> mLongitude
//   6     altitude above sea level   -> mAltitude
//   7     position error estimate, m -> mErrorRadius
//   8-    further error estimates: not read
// No status test: a report without a position sets both coordinates to the marker.
void cNMEAParser::ParsePQXFI(std::wstring_view fields) {
    GetDoubleField(fields, mUTCTime);
    GetLatitude(fields);
    GetLongitude(fields);
    GetDoubleField(fields, mAltitude);
    GetDoubleField(fields, mErrorRadius);
}
