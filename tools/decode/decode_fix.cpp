#include "decode_fix.h"

#include <string>
#include <utility>
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

// One member of the fix record as JSON: its name and its value's text.
using FixMembers = std::vector<std::pair<const char*, std::string>>;

// Writes the numbers of one output form: %.17g in the full form, the shortest in the short one.
class NumberForm {
  public:
    explicit NumberForm(bool shortest) : shortest_(shortest) {}
    std::string operator()(double value) const {
        std::string text;
        shortest_ ? AppendJsonShortest(text, value) : AppendJsonDouble(text, value);
        return text;
    }
    std::string operator()(INT value) const {
        std::string text;
        AppendJsonInteger(text, value);
        return text;
    }

  private:
    bool shortest_;
};

std::string SatellitesInView(const std::vector<SatelliteInfo>& satellites, const NumberForm& text,
                             bool compact) {
    std::string out = "[";
    for (const SatelliteInfo& satellite : satellites) {
        out += out.size() > 1 ? "," : "";
        if (compact) {
            out += "[" + text(satellite.PRN) + "," + text(satellite.Elevation) + "," +
                   text(satellite.Azimuth) + "," + text(satellite.SNR) + "]";
        } else {
            out +=
                "{\"PRN\":" + text(satellite.PRN) + ",\"Elevation\":" + text(satellite.Elevation) +
                ",\"Azimuth\":" + text(satellite.Azimuth) + ",\"SNR\":" + text(satellite.SNR) + "}";
        }
    }
    return out + "]";
}

// Every member of the fix record, in declaration order, read under the parser's lock.
FixMembers ReadFixRecord(cNMEAParser& parser, bool shortForm) {
    const NumberForm text(shortForm);
    cCriticalSectionLock lock(parser.mLock);
    std::string prns = "[";
    for (const double prn : parser.mSatellitePRNs) {
        prns += (prns.size() > 1 ? "," : "") + text(prn);
    }
    std::string pending;
    AppendJsonString(pending, WideToUtf8(parser.mPendingData));
    return {
        {"mLatitude", text(parser.mLatitude)},
        {"mLongitude", text(parser.mLongitude)},
        {"mAltitude", text(parser.mAltitude)},
        {"mTrueCourse", text(parser.mTrueCourse)},
        {"mSpeedKnots", text(parser.mSpeedKnots)},
        {"mFixQuality", text(parser.mFixQuality)},
        {"mSatellitesInView", text(parser.mSatellitesInView)},
        {"mUTCTime", text(parser.mUTCTime)},
        {"mGSVMessageCount", text(parser.mGSVMessageCount)},
        {"mGSVMessageNumber", text(parser.mGSVMessageNumber)},
        {"mHDOP", text(parser.mHDOP)},
        {"mGeoidSeparation", text(parser.mGeoidSeparation)},
        {"mErrorRadius", text(parser.mErrorRadius)},
        {"mFixMode", text(parser.mFixMode)},
        {"mMagneticCourse", text(parser.mMagneticCourse)},
        {"mMagneticVariation", text(parser.mMagneticVariation)},
        {"mPDOP", text(parser.mPDOP)},
        {"mVDOP", text(parser.mVDOP)},
        {"mSatellitesInViewList", SatellitesInView(parser.mSatellitesInViewList, text, shortForm)},
        {"mSatellitesUsed", text(parser.mSatellitesUsed)},
        {"mSatellitePRNs", prns + "]"},
        {"mPendingData", pending},
    };
}

}  // namespace

int RunDecodeFix(std::FILE* input, const DecodeFixOptions& options, const DecodeOutput& output) {
    zntr::platform::DebugOutputCapture capture;
    gEnableLog = 1;
    cNMEAParser parser;
    FixMembers previous;
    std::string line;
    std::int64_t number = 0;

    const bool read = ForEachDecodePiece(input, [&](const char* text) {
        const NMEASentenceType code = parser.ParseNMEAData(AnsiTextToWide(text));
        const std::vector<std::string> messages = capture.Take();
        FixMembers members = ReadFixRecord(parser, options.changes);

        line = "{\"line\":";
        AppendJsonInteger(line, ++number);
        line += ",\"code\":";
        AppendJsonInteger(line, code);
        std::string fix;
        for (size_t i = 0; i < members.size(); ++i) {
            if (!options.changes || previous.empty() || previous[i].second != members[i].second) {
                fix += fix.empty() ? "{\"" : ",\"";
                fix += members[i].first + std::string("\":") + members[i].second;
            }
        }
        if (!options.changes || !fix.empty()) {
            line += ",\"fix\":" + (fix.empty() ? "{" : fix) + "}";
        }
        if (!options.changes || !messages.empty()) {
            line += ",\"log\":[";
            for (size_t i = 0; i < messages.size(); ++i) {
                line += i > 0 ? "," : "";
                AppendJsonString(line, AnsiToUtf8(messages[i]));
            }
            line += "]";
        }
        line += "}\n";
        output(line);
        previous = std::move(members);
    });
    return read ? 0 : 1;
}

}  // namespace zntr::tools
