#include "decode_fix.h"

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
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

// The members of the fix record as they open in the JSON object, in declaration order.
constexpr std::array<std::string_view, 22> kMemberOpenings = {
    "\"mLatitude\":",
    "\"mLongitude\":",
    "\"mAltitude\":",
    "\"mTrueCourse\":",
    "\"mSpeedKnots\":",
    "\"mFixQuality\":",
    "\"mSatellitesInView\":",
    "\"mUTCTime\":",
    "\"mGSVMessageCount\":",
    "\"mGSVMessageNumber\":",
    "\"mHDOP\":",
    "\"mGeoidSeparation\":",
    "\"mErrorRadius\":",
    "\"mFixMode\":",
    "\"mMagneticCourse\":",
    "\"mMagneticVariation\":",
    "\"mPDOP\":",
    "\"mVDOP\":",
    "\"mSatellitesInViewList\":",
    "\"mSatellitesUsed\":",
    "\"mSatellitePRNs\":",
    "\"mPendingData\":",
};

// Same bits: the same text in either number form (a NaN's payload included).
bool SameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool SameSatellites(const std::vector<SatelliteInfo>& a, const std::vector<SatelliteInfo>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameBits(a[i].PRN, b[i].PRN) || !SameBits(a[i].Elevation, b[i].Elevation) ||
            a[i].Azimuth != b[i].Azimuth || !SameBits(a[i].SNR, b[i].SNR)) {
            return false;
        }
    }
    return true;
}

bool SameNumbers(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameBits(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

// The text of every fix-record member, kept from one piece to the next. A piece changes a few
// members at most, and writing a double's digits costs far more than comparing its bits, so a
// member's text is made again only when its value changed. The texts, the copies of the lists
// and the line are reused, so a steady stream allocates nothing here.
class FixRecordText {
  public:
    explicit FixRecordText(bool shortest) : shortest_(shortest) {}

    // Brings the texts up to the parser's fix record; the caller holds the parser's lock.
    void Update(const cNMEAParser& parser) {
        Number(0, parser.mLatitude);
        Number(1, parser.mLongitude);
        Number(2, parser.mAltitude);
        Number(3, parser.mTrueCourse);
        Number(4, parser.mSpeedKnots);
        Number(5, parser.mFixQuality);
        Number(6, parser.mSatellitesInView);
        Number(7, parser.mUTCTime);
        Number(8, parser.mGSVMessageCount);
        Number(9, parser.mGSVMessageNumber);
        Number(10, parser.mHDOP);
        Number(11, parser.mGeoidSeparation);
        Number(12, parser.mErrorRadius);
        Number(13, parser.mFixMode);
        Number(14, parser.mMagneticCourse);
        Number(15, parser.mMagneticVariation);
        Number(16, parser.mPDOP);
        Number(17, parser.mVDOP);
        Satellites(18, parser.mSatellitesInViewList);
        Number(19, parser.mSatellitesUsed);
        Prns(20, parser.mSatellitePRNs);
        Pending(21, parser.mPendingData);
        known_ = true;
    }

    // Appends ,"fix":{...} with every member, or with onlyChanges those whose text the last
    // Update changed, and nothing when there are none.
    void Append(std::string& line, bool onlyChanges) const {
        const size_t start = line.size();
        line += ",\"fix\":{";
        bool any = false;
        for (size_t i = 0; i < members_.size(); ++i) {
            if (!onlyChanges || members_[i].changed) {
                if (any) {
                    line += ',';
                }
                line += kMemberOpenings[i];
                line += members_[i].text;
                any = true;
            }
        }
        if (onlyChanges && !any) {
            line.resize(start);
            return;
        }
        line += '}';
    }

  private:
    struct Member {
        std::uint64_t key = 0;
        std::string text;
        bool changed = false;
    };

    void AppendNumber(std::string& out, double value) const {
        shortest_ ? AppendJsonShortest(out, value) : AppendJsonDouble(out, value);
    }

    // Makes the member's text from scratch_ (its new text): changed when it differs.
    void Replace(Member& member) {
        member.changed = scratch_ != member.text;
        member.text.swap(scratch_);
    }

    void Number(size_t index, double value) {
        Member& member = members_[index];
        const std::uint64_t key = std::bit_cast<std::uint64_t>(value);
        if (known_ && key == member.key) {
            member.changed = false;
            return;
        }
        member.key = key;
        scratch_.clear();
        AppendNumber(scratch_, value);
        Replace(member);
    }

    void Number(size_t index, INT value) {
        Member& member = members_[index];
        const auto key = static_cast<std::uint64_t>(static_cast<std::uint32_t>(value));
        if (known_ && key == member.key) {
            member.changed = false;
            return;
        }
        member.key = key;
        scratch_.clear();
        AppendJsonInteger(scratch_, value);
        Replace(member);
    }

    // [[PRN,Elevation,Azimuth,SNR],...] in the short form, else [{"PRN":...,"SNR":...},...].
    void Satellites(size_t index, const std::vector<SatelliteInfo>& satellites) {
        if (known_ && SameSatellites(satellites, satellites_)) {
            members_[index].changed = false;
            return;
        }
        satellites_ = satellites;
        scratch_.assign(1, '[');
        for (const SatelliteInfo& satellite : satellites) {
            if (scratch_.size() > 1) {
                scratch_ += ',';
            }
            scratch_ += shortest_ ? "[" : "{\"PRN\":";
            AppendNumber(scratch_, satellite.PRN);
            scratch_ += shortest_ ? "," : ",\"Elevation\":";
            AppendNumber(scratch_, satellite.Elevation);
            scratch_ += shortest_ ? "," : ",\"Azimuth\":";
            AppendJsonInteger(scratch_, satellite.Azimuth);
            scratch_ += shortest_ ? "," : ",\"SNR\":";
            AppendNumber(scratch_, satellite.SNR);
            scratch_ += shortest_ ? ']' : '}';
        }
        scratch_ += ']';
        Replace(members_[index]);
    }

    void Prns(size_t index, const std::vector<double>& prns) {
        if (known_ && SameNumbers(prns, prns_)) {
            members_[index].changed = false;
            return;
        }
        prns_ = prns;
        scratch_.assign(1, '[');
        for (const double prn : prns) {
            if (scratch_.size() > 1) {
                scratch_ += ',';
            }
            AppendNumber(scratch_, prn);
        }
        scratch_ += ']';
        Replace(members_[index]);
    }

    void Pending(size_t index, const std::wstring& pending) {
        if (known_ && pending == pending_) {
            members_[index].changed = false;
            return;
        }
        pending_ = pending;
        scratch_.clear();
        AppendJsonString(scratch_, WideToUtf8(pending));
        Replace(members_[index]);
    }

    const bool shortest_;
    bool known_ = false;  // whether the texts were made once
    std::array<Member, kMemberOpenings.size()> members_;
    std::vector<SatelliteInfo> satellites_;
    std::vector<double> prns_;
    std::wstring pending_;
    std::string scratch_;
};

}  // namespace

int RunDecodeFix(std::FILE* input, const DecodeFixOptions& options, const DecodeOutput& output) {
    zntr::platform::DebugOutputCapture capture;
    gEnableLog = 1;
    cNMEAParser parser;
    FixRecordText fix(options.changes);
    std::string line;
    std::int64_t number = 0;

    const bool read = ForEachDecodePiece(input, [&](const char* text) {
        const NMEASentenceType code = parser.ParseNMEAData(AnsiTextToWide(text));
        const std::vector<std::string> messages = capture.Take();
        // The first line of the short form carries every member.
        const bool onlyChanges = options.changes && number > 0;
        {
            cCriticalSectionLock lock(parser.mLock);
            fix.Update(parser);
        }

        line.assign("{\"line\":");
        AppendJsonInteger(line, ++number);
        line += ",\"code\":";
        AppendJsonInteger(line, code);
        fix.Append(line, onlyChanges);
        if (!options.changes || !messages.empty()) {
            line += ",\"log\":[";
            for (size_t i = 0; i < messages.size(); ++i) {
                if (i > 0) {
                    line += ',';
                }
                AppendJsonString(line, AnsiToUtf8(messages[i]));
            }
            line += ']';
        }
        line += "}\n";
        output(line);
    });
    return read ? 0 : 1;
}

}  // namespace zntr::tools
