// The line sink: decodes a line with the sensor's parser and, by the type code of the sentence
// decoded, copies the fresh fix-record values out under the parser's lock and hands them to the
// matching updater of the sensor, after the lock is left.
#include "nmea_line_sink.h"

#include <cstring>
#include <utility>
#include <vector>

#include "critical_section_lock.h"
#include "nmea_parser.h"
#include "nmea_text.h"
#include "sensor_ddi.h"

namespace {

// $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47
void UpdateFromGGA(cSensorDDI& sensor) {
    cNMEAParser& parser = sensor.mNMEAParser;
    double latitude, longitude, altitude, utcTime, hdop, geoidSeparation;
    INT fixQuality, satellitesUsed;
    {
        cCriticalSectionLock lock(parser.mLock);
        latitude = parser.mLatitude;
        longitude = parser.mLongitude;
        altitude = parser.mAltitude;
        fixQuality = parser.mFixQuality;
        satellitesUsed = parser.mSatellitesUsed;
        utcTime = parser.mUTCTime;
        hdop = parser.mHDOP;
        geoidSeparation = parser.mGeoidSeparation;
    }
    sensor.SetSensorGGAData(latitude, longitude, altitude, fixQuality, satellitesUsed, utcTime,
                            hdop, geoidSeparation);
}

// $GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48
void UpdateFromVTG(cSensorDDI& sensor) {
    cNMEAParser& parser = sensor.mNMEAParser;
    double trueCourse, speedKnots, magneticCourse;
    {
        cCriticalSectionLock lock(parser.mLock);
        trueCourse = parser.mTrueCourse;
        speedKnots = parser.mSpeedKnots;
        magneticCourse = parser.mMagneticCourse;
    }
    sensor.SetSensorVTGData(trueCourse, speedKnots, magneticCourse);
}

// $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
void UpdateFromRMC(cSensorDDI& sensor) {
    cNMEAParser& parser = sensor.mNMEAParser;
    double latitude, longitude, trueCourse, speedKnots, utcTime;
    {
        cCriticalSectionLock lock(parser.mLock);
        latitude = parser.mLatitude;
        longitude = parser.mLongitude;
        trueCourse = parser.mTrueCourse;
        speedKnots = parser.mSpeedKnots;
        utcTime = parser.mUTCTime;
    }
    sensor.SetSensorRMCData(latitude, longitude, trueCourse, speedKnots, utcTime);
}

// $GPGLL,4916.45,N,12311.12,W,225444,A*31
void UpdateFromGLL(cSensorDDI& sensor) {
    cNMEAParser& parser = sensor.mNMEAParser;
    double latitude, longitude, utcTime;
    {
        cCriticalSectionLock lock(parser.mLock);
        latitude = parser.mLatitude;
        longitude = parser.mLongitude;
        utcTime = parser.mUTCTime;
    }
    sensor.SetSensorGLLData(latitude, longitude, utcTime);
}

// $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
void UpdateFromGSA(cSensorDDI& sensor) {
    double hdop = NO_DOUBLE_VALUE;
    INT fixMode = NO_INT_VALUE;
    double pdop = NO_DOUBLE_VALUE;
    double vdop = NO_DOUBLE_VALUE;
    std::vector<double>& satellitePRNs = sensor.mLineSinkPRNs;  // empty: the last update emptied it
    sensor.mNMEAParser.GetGSAData(hdop, fixMode, pdop, vdop, satellitePRNs);
    sensor.SetSensorGSAData(hdop, fixMode, pdop, vdop, satellitePRNs);
}

// $PQXFI,123522.0,4807.040000,N,01131.010000,E,546.0,12.5,20.1,0.3*57, and the "Dummy" pass.
void UpdateFromPQXFI(cSensorDDI& sensor) {
    double latitude = NO_DOUBLE_VALUE;
    double longitude = NO_DOUBLE_VALUE;
    double altitude = NO_DOUBLE_VALUE;
    double utcTime = NO_DOUBLE_VALUE;
    double errorRadius = NO_DOUBLE_VALUE;
    sensor.mNMEAParser.GetPQXFIData(latitude, longitude, altitude, utcTime, errorRadius);
    sensor.SetSensorPQXFIData(latitude, longitude, altitude, utcTime, errorRadius);
}

struct cSentenceUpdate {
    NMEASentenceType mCode;
    void (*mUpdate)(cSensorDDI& sensor);
};

// Which updater a decoded sentence goes to. GSV (satellites in view) is decoded but reported to
// no data field; a code not listed here decoded nothing.
constexpr cSentenceUpdate kSentenceUpdates[] = {
    {NMEA_GPGGA, &UpdateFromGGA},   {NMEA_GPVTG, &UpdateFromVTG}, {NMEA_GPRMC, &UpdateFromRMC},
    {NMEA_GPGLL, &UpdateFromGLL},   {NMEA_GPGSA, &UpdateFromGSA}, {NMEA_GPGSV, nullptr},
    {NMEA_PQXFI, &UpdateFromPQXFI},
};

}  // namespace

void ProcessNMEALine(const char* pLine) {
    // The feed is ended before the sensor is released, so no line should come without a sensor;
    // one that does anyway is dropped rather than followed into a released object.
    cSensorDDI* pSensor = gpSensorDDI;
    if (pSensor == nullptr || pLine == nullptr) {
        return;
    }
    // The receive loop's "Dummy" pass: the position in the fix record, whichever sentence brought
    // it, drives the state and the data event. The text then goes to the reader like any other;
    // holding no "$" it decodes nothing.
    if (std::strcmp(pLine, "Dummy") == 0) {
        UpdateFromPQXFI(*pSensor);
    }
    // The text goes to the reader in the storage of the previous line's, so that a steady stream
    // of lines costs no allocation.
    cNMEAParser& parser = pSensor->mNMEAParser;
    std::wstring text = parser.TakeSpareText();
    AnsiTextToWide(pLine, text);
    const NMEASentenceType code = parser.ParseNMEAData(std::move(text));
    for (const cSentenceUpdate& update : kSentenceUpdates) {
        if (update.mCode == code) {
            if (update.mUpdate != nullptr) {
                update.mUpdate(*pSensor);
            }
            return;
        }
    }
}
