#include "gpx_track.h"

#include <stdexcept>
#include <variant>

#include "standin/sensors.h"

namespace zntr::tools {
namespace {

constexpr char kTail[] = "    </trkseg>\n  </trk>\n</gpx>\n";

std::string Number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

// GPX's fix element from the GSA fix mode the driver reports (1 none, 2 2D, 3 3D).
const char* GpxFix(std::optional<double> fixType) {
    if (!fixType) {
        return nullptr;
    }
    switch (static_cast<int>(*fixType)) {
        case 1:
            return "none";
        case 2:
            return "2d";
        case 3:
            return "3d";
        default:
            return nullptr;
    }
}

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

GpxTrack::GpxTrack(const std::string& path, const std::string& trackName)
    : file_(std::fopen(path.c_str(), "w"), std::fclose) {
    if (!file_) {
        throw std::runtime_error("cannot write " + path);
    }
    Write(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"zntr watch\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
        "  <trk>\n    <name>" +
        XmlEscaped(trackName) + "</name>\n    <trkseg>\n");
}

GpxTrack::~GpxTrack() {
    Close();
}

void GpxTrack::Write(const std::string& body) {
    if (tailAt_ >= 0) {
        std::fseek(file_.get(), tailAt_, SEEK_SET);
    }
    std::fwrite(body.data(), 1, body.size(), file_.get());
    // A pipe or a character device cannot go back: its tail is written once, at Close().
    tailAt_ = std::ftell(file_.get());
    if (tailAt_ >= 0) {
        std::fputs(kTail, file_.get());
    }
    std::fflush(file_.get());
}

bool GpxTrack::Add(const ValueList& fields) {
    const auto latitude = NumberAt(fields, SENSOR_DATA_TYPE_LATITUDE_DEGREES);
    const auto longitude = NumberAt(fields, SENSOR_DATA_TYPE_LONGITUDE_DEGREES);
    if (!file_ || !latitude || !longitude || (*latitude == 0.0 && *longitude == 0.0)) {
        return false;
    }
    // GPX's element order: ele, time, fix, sat, hdop, vdop, pdop.
    std::string point =
        "      <trkpt lat=\"" + Number(*latitude, 7) + "\" lon=\"" + Number(*longitude, 7) + "\">";
    if (const auto altitude = NumberAt(fields, SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS)) {
        point += "<ele>" + Number(*altitude, 2) + "</ele>";
    }
    const Value* time = sensor_message::FindValue(fields, SENSOR_DATA_TYPE_TIMESTAMP);
    if (time != nullptr && std::holds_alternative<sensor_message::FileTime>(*time)) {
        point += "<time>" + IsoTime(std::get<sensor_message::FileTime>(*time)) + "</time>";
    }
    if (const char* fix = GpxFix(NumberAt(fields, SENSOR_DATA_TYPE_FIX_TYPE))) {
        point += std::string("<fix>") + fix + "</fix>";
    }
    if (const auto used = NumberAt(fields, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT);
        used && *used >= 0) {
        point += "<sat>" + Number(*used, 0) + "</sat>";
    }
    const std::pair<const char*, PROPERTYKEY> dilutions[] = {
        {"hdop", SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION},
        {"vdop", SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION},
        {"pdop", SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION},
    };
    for (const auto& [name, key] : dilutions) {
        if (const auto dilution = NumberAt(fields, key)) {
            point += std::string("<") + name + ">" + Number(*dilution, 2) + "</" + name + ">";
        }
    }
    Write(point + "</trkpt>\n");
    ++points_;
    return true;
}

void GpxTrack::Close() {
    if (!file_) {
        return;
    }
    if (tailAt_ < 0) {
        std::fputs(kTail, file_.get());
    }
    file_.reset();
}

}  // namespace zntr::tools
