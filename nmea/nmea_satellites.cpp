// Decoders of the satellite sentences: GSA (satellites used, dilutions) and GSV (satellites in
// view, assembled over a group of sentences).
#include "nmea_parser.h"

namespace {
constexpr int kGSAPRNSlots = 12;
constexpr int kGSVSatellitesPerSentence = 4;
}  // namespace

// $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
//   1     selection mode, A or M     (skipped)
//   2     fix mode 1/2/3             -> mFixMode
//   3-14  PRNs of satellites used    -> mSatellitePRNs (empty slots add nothing)
//   15    PDOP                       -> mPDOP
//   16    HDOP                       -> mHDOP
//   17    VDOP                       -> mVDOP
// mSatellitesUsed becomes the number of PRNs listed.
void cNMEAParser::ParseGSA(std::wstring_view fields) {
    SkipField(fields);
    GetIntField(fields, mFixMode);
    mSatellitePRNs.clear();
    for (int slot = 0; slot < kGSAPRNSlots; ++slot) {
        // Each slot starts at the marker, so a slot missing altogether (a sentence cut short)
        // appends nothing, exactly like an empty one.
        double prn = NO_DOUBLE_VALUE;
        GetDoubleField(fields, prn);
        if (prn != NO_DOUBLE_VALUE) {
            mSatellitePRNs.push_back(prn);
        }
    }
    mSatellitesUsed = static_cast<INT>(mSatellitePRNs.size());
    GetDoubleField(fields, mPDOP);
    GetDoubleField(fields, mHDOP);
    GetDoubleField(fields, mVDOP);
}

// $GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75
//   1     sentences in the group     -> mGSVMessageCount
//   2     number of this sentence    -> mGSVMessageNumber
//   3     satellites in view         -> mSatellitesInView
//   4-7   PRN, elevation, azimuth, SNR of a satellite; up to four satellites per sentence
// Sentence 1 starts a new list; a sentence adds no records once the list holds the count it
// announces, so sentences of a group whose first was lost go on filling the previous list.
void cNMEAParser::ParseGSV(std::wstring_view fields) {
    GetIntField(fields, mGSVMessageCount);
    GetIntField(fields, mGSVMessageNumber);
    GetIntField(fields, mSatellitesInView);
    if (mGSVMessageCount < 1) {
        return;
    }
    if (mGSVMessageNumber == 1) {
        mSatellitesInViewList.clear();
    }
    for (int read = 0; read < kGSVSatellitesPerSentence &&
                       static_cast<long long>(mSatellitesInViewList.size()) < mSatellitesInView;
         ++read) {
        // A field the sentence does not supply (an untracked satellite's empty SNR before "*")
        // keeps the no-value marker rather than a neighbour's value.
        SatelliteInfo satellite = {NO_DOUBLE_VALUE, NO_DOUBLE_VALUE, NO_INT_VALUE, NO_DOUBLE_VALUE};
        GetDoubleField(fields, satellite.PRN);
        GetDoubleField(fields, satellite.Elevation);
        GetIntField(fields, satellite.Azimuth);
        GetDoubleField(fields, satellite.SNR);
        mSatellitesInViewList.push_back(satellite);
    }
}
