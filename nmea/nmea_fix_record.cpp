// Construction, destruction and the locked accessors of the fix record.
#include "critical_section_lock.h"
#include "nmea_parser.h"

cNMEAParser::cNMEAParser()
    : mLatitude(NO_DOUBLE_VALUE),
      mLongitude(NO_DOUBLE_VALUE),
      mAltitude(NO_DOUBLE_VALUE),
      mTrueCourse(NO_DOUBLE_VALUE),
      mSpeedKnots(NO_DOUBLE_VALUE),
      mFixQuality(NO_INT_VALUE),
      mSatellitesInView(NO_INT_VALUE),
      mUTCTime(NO_DOUBLE_VALUE),
      mGSVMessageCount(NO_INT_VALUE),
      mGSVMessageNumber(NO_INT_VALUE),
      mHDOP(NO_DOUBLE_VALUE),
      mGeoidSeparation(NO_DOUBLE_VALUE),
      mErrorRadius(NO_DOUBLE_VALUE),
      mFixMode(NO_INT_VALUE),
      mMagneticCourse(NO_DOUBLE_VALUE),
      mMagneticVariation(NO_DOUBLE_VALUE),
      mPDOP(NO_DOUBLE_VALUE),
      mVDOP(NO_DOUBLE_VALUE),
      mSatellitesUsed(NO_INT_VALUE) {
    InitializeCriticalSection(&mLock);
}

cNMEAParser::~cNMEAParser() {
    DeleteCriticalSection(&mLock);
}

HRESULT cNMEAParser::GetGSAData(double& hdop, INT& fixMode, double& pdop, double& vdop,
                                std::vector<double>& satellitePRNs) {
    cCriticalSectionLock lock(mLock);
    hdop = mHDOP;
    fixMode = mFixMode;
    pdop = mPDOP;
    vdop = mVDOP;
    satellitePRNs = mSatellitePRNs;
    return S_OK;
}

HRESULT cNMEAParser::GetPQXFIData(double& latitude, double& longitude, double& altitude,
                                  double& utcTime, double& errorRadius) {
    cCriticalSectionLock lock(mLock);
    latitude = mLatitude;
    longitude = mLongitude;
    altitude = mAltitude;
    utcTime = mUTCTime;
    errorRadius = mErrorRadius;
    return S_OK;
}
