#include "decode_fix.h"

#include <string>
#include <vector>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "decode_input.h"
#include "json_output.h"
#include "nmea_parser.h"
#include "nmea_text.h"
#include "standin/control.h"

namespace zntr::tools {
namespace {

void AppendDoubleMember(std::string& out, const char* name, double value) {
    out += '"';
    out += name;
    out += "\":";
    AppendJsonDouble(out, value);
    out += ',';
}

void AppendIntMember(std::string& out, const char* name, INT value) {
    out += '"';
    out += name;
    out += "\":";
    AppendJsonInteger(out, value);
    out += ',';
}

// Every member of the fix record, in declaration order, read under the parser's lock.
void AppendFixRecord(std::string& out, cNMEAParser& parser) {
    cCriticalSectionLock lock(parser.mLock);
    out += '{';
    AppendDoubleMember(out, "mLatitude", parser.mLatitude);
    AppendDoubleMember(out, "mLongitude", parser.mLongitude);
    AppendDoubleMember(out, "mAltitude", parser.mAltitude);
    AppendDoubleMember(out, "mTrueCourse", parser.mTrueCourse);
    AppendDoubleMember(out, "mSpeedKnots", parser.mSpeedKnots);
    AppendIntMember(out, "mFixQuality", parser.mFixQuality);
    AppendIntMember(out, "mSatellitesInView", parser.mSatellitesInView);
    AppendDoubleMember(out, "mUTCTime", parser.mUTCTime);
    AppendIntMember(out, "mGSVMessageCount", parser.mGSVMessageCount);
    AppendIntMember(out, "mGSVMessageNumber", parser.mGSVMessageNumber);
    AppendDoubleMember(out, "mHDOP", parser.mHDOP);
    AppendDoubleMember(out, "mGeoidSeparation", parser.mGeoidSeparation);
    AppendDoubleMember(out, "mErrorRadius", parser.mErrorRadius);
    AppendIntMember(out, "mFixMode", parser.mFixMode);
    AppendDoubleMember(out, "mMagneticCourse", parser.mMagneticCourse);
    AppendDoubleMember(out, "mMagneticVariation", parser.mMagneticVariation);
    AppendDoubleMember(out, "mPDOP", parser.mPDOP);
    AppendDoubleMember(out, "mVDOP", parser.mVDOP);
    out += "\"mSatellitesInViewList\":[";
    for (size_t i = 0; i < parser.mSatellitesInViewList.size(); ++i) {
        const SatelliteInfo& satellite = parser.mSatellitesInViewList[i];
        out += i == 0 ? "{" : ",{";
        AppendDoubleMember(out, "PRN", satellite.PRN);
        AppendDoubleMember(out, "Elevation", satellite.Elevation);
        AppendIntMember(out, "Azimuth", satellite.Azimuth);
        out += "\"SNR\":";
        AppendJsonDouble(out, satellite.SNR);
        out += '}';
    }
    out += "],";
    AppendIntMember(out, "mSatellitesUsed", parser.mSatellitesUsed);
    out += "\"mSatellitePRNs\":[";
    for (size_t i = 0; i < parser.mSatellitePRNs.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        AppendJsonDouble(out, parser.mSatellitePRNs[i]);
    }
    out += "],\"mPendingData\":";
    AppendJsonString(out, WideToUtf8(parser.mPendingData));
    out += '}';
}

}  // namespace

int RunDecodeFix(std::FILE* input, std::FILE* output) {
    zntr::platform::DebugOutputCapture capture;
    gEnableLog = 1;
    cNMEAParser parser;
    std::string line;
    std::int64_t number = 0;

    const bool read = ForEachDecodePiece(input, [&](const char* text) {
        const NMEASentenceType code = parser.ParseNMEAData(AnsiTextToWide(text));
        const std::vector<std::string> messages = capture.Take();

        line.clear();
        line += "{\"line\":";
        AppendJsonInteger(line, ++number);
        line += ",\"code\":";
        AppendJsonInteger(line, code);
        line += ",\"fix\":";
        AppendFixRecord(line, parser);
        line += ",\"log\":[";
        for (size_t i = 0; i < messages.size(); ++i) {
            if (i > 0) {
                line += ',';
            }
            AppendJsonString(line, AnsiToUtf8(messages[i]));
        }
        line += "]}\n";
        std::fwrite(line.data(), 1, line.size(), output);
    });
    std::fflush(output);
    return read ? 0 : 1;
}

}  // namespace zntr::tools
