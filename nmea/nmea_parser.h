// cNMEAParser: the NMEA 0183 reader and the fix record it decodes sentences into.
#pragma once

#include <utility>

#include "driver_platform.h"

// No-value markers: a fix-record number that was never received, or was received empty, holds
// its marker. Readers compare against the marker exactly before they use a value.
constexpr double NO_DOUBLE_VALUE = 1.7976931348623157e308;  // the largest finite double
constexpr INT NO_INT_VALUE = 2147483647;

// Type code of a decoded sentence, which tells the caller which fix-record members it wrote.
enum NMEASentenceType : INT {
    NMEA_NONE = -1,
    NMEA_GPGGA = 0,
    NMEA_GPVTG = 1,
    NMEA_GPRMC = 2,
    NMEA_GPGLL = 3,
    NMEA_GPGSA = 4,
    NMEA_GPGSV = 5,
    NMEA_PQXFI = 6,
};

// One satellite of a GSV sentence.
struct SatelliteInfo {
    double PRN;
    double Elevation;  // degrees
    INT Azimuth;       // degrees
    double SNR;        // dB
};

class cNMEAParser {
  public:
    cNMEAParser();
    ~cNMEAParser();
    cNMEAParser(const cNMEAParser&) = delete;
    cNMEAParser& operator=(const cNMEAParser&) = delete;

    // Reader (called from one thread only): frames mPendingData followed by newText into
    // sentences, decodes each complete one and returns the code of the last, or NMEA_NONE.
    NMEASentenceType ParseNMEAData(std::wstring newText);
    // The storage of a text ParseNMEAData was given and is done with, emptied, for the caller's
    // next text: a caller that fills it and passes it back costs no allocation per line.
    std::wstring TakeSpareText() { return std::move(mSpareText); }
    // Checks, identifies and decodes one sentence: "$" up to its end, no "\n".
    NMEASentenceType ParseSentence(std::wstring_view sentence);
    bool VerifyChecksum(std::wstring_view sentence);

    // Locked accessors of the fix record.
    HRESULT GetGSAData(double& hdop, INT& fixMode, double& pdop, double& vdop,
                       std::vector<double>& satellitePRNs);
    HRESULT GetPQXFIData(double& latitude, double& longitude, double& altitude, double& utcTime,
                         double& errorRadius);

    // Field converters. A decoder's field text is its own view of the sentence's fields; each
    // converter reads the next field from the front of it and removes what it has read.
    void GetDoubleField(std::wstring_view& fields, double& destination);
    void GetIntField(std::wstring_view& fields, INT& destination);
    void GetLatitude(std::wstring_view& fields);
    void GetLongitude(std::wstring_view& fields);
    void SkipField(std::wstring_view& fields);
    WCHAR PeekFieldChar(std::wstring_view fields, INT n);

    // Sentence decoders; each takes the text after the tag's "," up to the sentence's end.
    void ParseGGA(std::wstring_view fields);
    void ParseVTG(std::wstring_view fields);
    void ParseRMC(std::wstring_view fields);
    void ParseGLL(std::wstring_view fields);
    void ParseGSA(std::wstring_view fields);
    void ParseGSV(std::wstring_view fields);
    void ParsePQXFI(std::wstring_view fields);

    // The fix record: the latest value of every decoded field, guarded by mLock. The reading
    // update copies members directly under mLock, so they are public.
    double mLatitude;
    double mLongitude;
    double mAltitude;
    double mTrueCourse;
    double mSpeedKnots;
    INT mFixQuality;
    INT mSatellitesInView;
    double mUTCTime;
    INT mGSVMessageCount;
    INT mGSVMessageNumber;
    double mHDOP;
    double mGeoidSeparation;
    double mErrorRadius;
    INT mFixMode;
    double mMagneticCourse;
    double mMagneticVariation;
    double mPDOP;
    double mVDOP;
    std::vector<SatelliteInfo> mSatellitesInViewList;
    INT mSatellitesUsed;
    std::vector<double> mSatellitePRNs;
    // Unfinished tail of the previous call's text: empty, or "$" and no "\n" after it. Only the
    // reader's thread touches it, so mLock does not guard it.
    std::wstring mPendingData;
    // Kept for TakeSpareText; the reader's thread only, like mPendingData.
    std::wstring mSpareText;
    CRITICAL_SECTION mLock;

  private:
    // Latitude and longitude differ only in the width of their degree digits, the hemisphere
    // letter that makes them negative and the member they set.
    void GetCoordinate(std::wstring_view& fields, size_t degreeDigits, WCHAR negativeHemisphere,
                       double& destination);
};
