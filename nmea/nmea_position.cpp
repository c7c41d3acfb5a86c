// Decoders of the position, velocity and time sentences: GGA, VTG, RMC and GLL.
#include "nmea_parser.h"

// $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47
//   1     UTC time hhmmss.sss        -> mUTCTime
//   2,3   latitude, N/S              -> mLatitude
//   4,5   longitude, E/W             -> mLongitude
//   6     fix quality (0 no fix)     -> mFixQuality
//   7     satellites used            -> mSatellitesUsed
//   8     HDOP                       -> mHDOP
//   9     altitude above sea level   -> mAltitude
//   10    altitude unit              (skipped, not tested)
//   11    geoid separation           -> mGeoidSeparation
//   12-14 separation unit, age of differential data, station: not read
// Decoded whatever the fix quality says.
void cNMEAParser::ParseGGA(std::wstring_view fields) {
    GetDoubleField(fields, mUTCTime);
    GetLatitude(fields);
    GetLongitude(fields);
    GetIntField(fields, mFixQuality);
    GetIntField(fields, mSatellitesUsed);
    GetDoubleField(fields, mHDOP);
    GetDoubleField(fields, mAltitude);
    SkipField(fields);
    GetDoubleField(fields, mGeoidSeparation);
}

// $GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48
//   1   course over ground, true     -> mTrueCourse
//   2   T                            (skipped)
//   3   course over ground, magnetic -> mMagneticCourse
//   4   M                            (skipped)
//   5   speed over ground, knots     -> mSpeedKnots
//   6-9 N, speed km/h, K, mode: not read
void cNMEAParser::ParseVTG(std::wstring_view fields) {
    GetDoubleField(fields, mTrueCourse);
    SkipField(fields);
    GetDoubleField(fields, mMagneticCourse);
    SkipField(fields);
    GetDoubleField(fields, mSpeedKnots);
}

// $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
//   1     UTC time hhmmss.sss        -> mUTCTime
//   2     status, A valid            (tested first; skipped)
//   3,4   latitude, N/S              -> mLatitude
//   5,6   longitude, E/W             -> mLongitude
//   7     speed over ground, knots   -> mSpeedKnots
//   8     course over ground, true   -> mTrueCourse
//   9     date ddmmyy                (skipped: timestamps take the computer's date)
//   10    magnetic variation         -> mMagneticVariation (unsigned: field 11 is not read)
//   11-12 variation E/W, mode: not read
// Only a status beginning with an upper-case A is decoded; otherwise nothing is written.
void cNMEAParser::ParseRMC(std::wstring_view fields) {
    if (PeekFieldChar(fields, 1) != L'A') {
        return;
    }
    GetDoubleField(fields, mUTCTime);
    SkipField(fields);
    GetLatitude(fields);
    GetLongitude(fields);
    GetDoubleField(fields, mSpeedKnots);
    GetDoubleField(fields, mTrueCourse);
    SkipField(fields);
    GetDoubleField(fields, mMagneticVariation);
}

// $GPGLL,4916.45,N,12311.12,W,225444,A,*1D
//   1,2   latitude, N/S              -> mLatitude
//   3,4   longitude, E/W             -> mLongitude
//   5     UTC time hhmmss.sss        -> mUTCTime
//   6     status, A valid            (tested first)
//   7     mode: not read
// Only a status beginning with an upper-case A is decoded; otherwise nothing is written.
void cNMEAParser::ParseGLL(std::wstring_view fields) {
    if (PeekFieldChar(fields, 5) != L'A') {
        return;
    }
    GetLatitude(fields);
    GetLongitude(fields);
    GetDoubleField(fields, mUTCTime);
}
