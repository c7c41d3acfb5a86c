#include "decode_fields.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "decode_input.h"
#include "json_output.h"
#include "nmea_line_sink.h"
#include "offline_sensor.h"
#include "sensor_catalogue.h"
#include "sensor_ddi.h"
#include "standin/com_helpers.h"
#include "standin/control.h"

namespace zntr::tools {
namespace {

using zntr::platform::PropVariant;

struct VarTypeName {
    VARTYPE vt;
    const char* name;
};
constexpr VarTypeName kVarTypeNames[] = {
    {VT_EMPTY, "VT_EMPTY"},
    {VT_R8, "VT_R8"},
    {VT_R4, "VT_R4"},
    {VT_I4, "VT_I4"},
    {VT_UI4, "VT_UI4"},
    {VT_FILETIME, "VT_FILETIME"},
    {VT_VECTOR | VT_UI1, "VT_VECTOR|VT_UI1"},
    {VT_ERROR, "VT_ERROR"},
};

const char* VarTypeNameOf(VARTYPE vt) {
    for (const VarTypeName& entry : kVarTypeNames) {
        if (entry.vt == vt) {
            return entry.name;
        }
    }
    return nullptr;
}

const char* StateName(ULONG state) {
    switch (state) {
        case SENSOR_STATE_READY:
            return "READY";
        case SENSOR_STATE_NOT_AVAILABLE:
            return "NOT_AVAILABLE";
        case SENSOR_STATE_NO_DATA:
            return "NO_DATA";
        case SENSOR_STATE_INITIALIZING:
            return "INITIALIZING";
        case SENSOR_STATE_ACCESS_DENIED:
            return "ACCESS_DENIED";
        case SENSOR_STATE_ERROR:
            return "ERROR";
        default:
            return "?";
    }
}

ULONGLONG FileTimeCount(const FILETIME& fileTime) {
    return (static_cast<ULONGLONG>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

void AppendUnsigned(std::string& out, std::uint64_t value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    out.append(text, result.ptr);
}

// A 32-bit float: its exact value widened to double, with nine significant digits (%.9g), which
// is enough to give back the same float; non-finite values as for doubles.
void AppendJsonSingle(std::string& out, FLOAT value) {
    if (!std::isfinite(value)) {
        AppendJsonDouble(out, value);
        return;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof(text), static_cast<double>(value),
                                      std::chars_format::general, 9);
    out.append(text, result.ptr);
}

// {"vt":VT,"value":V}
void AppendJsonField(std::string& out, const PROPVARIANT& value) {
    static constexpr char kHex[] = "0123456789abcdef";
    const char* name = VarTypeNameOf(value.vt);
    out += "{\"vt\":";
    if (name == nullptr) {
        AppendJsonString(out, "VT(" + std::to_string(value.vt) + ")");
        out += ",\"value\":null}";
        return;
    }
    AppendJsonString(out, name);
    out += ",\"value\":";
    switch (value.vt) {
        case VT_R8:
            AppendJsonDouble(out, value.dblVal);
            break;
        case VT_R4:
            AppendJsonSingle(out, value.fltVal);
            break;
        case VT_I4:
            AppendJsonInteger(out, value.lVal);
            break;
        case VT_UI4:
            AppendUnsigned(out, value.ulVal);
            break;
        case VT_ERROR:
            AppendUnsigned(out, static_cast<std::uint32_t>(value.scode));
            break;
        case VT_FILETIME:
            AppendUnsigned(out, FileTimeCount(value.filetime));
            break;
        case VT_VECTOR | VT_UI1:
            out += '"';
            for (ULONG i = 0; i < value.caub.cElems; ++i) {
                out += kHex[value.caub.pElems[i] >> 4];
                out += kHex[value.caub.pElems[i] & 0xF];
            }
            out += '"';
            break;
        default:
            out += "null";
            break;
    }
    out += '}';
}

void AppendJsonLine(std::string& line, std::int64_t number, ULONG state, bool dataEvent,
                    bool stateEvent, IPortableDeviceValues* fields,
                    const std::vector<std::string>& messages) {
    line += "{\"line\":";
    AppendJsonInteger(line, number);
    line += ",\"state\":";
    AppendUnsigned(line, state);
    line += dataEvent ? ",\"data_event\":true" : ",\"data_event\":false";
    line += stateEvent ? ",\"state_event\":true" : ",\"state_event\":false";
    line += ",\"fields\":{";
    bool first = true;
    for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
        line += first ? "\"" : ",\"";
        first = false;
        line += entry.mName;
        line += "\":";
        PropVariant value;
        if (SUCCEEDED(fields->GetValue(entry.mKey, &value))) {
            AppendJsonField(line, value);
        } else {
            line += "null";
        }
    }
    line += "},\"log\":[";
    for (size_t i = 0; i < messages.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        AppendJsonString(line, AnsiToUtf8(messages[i]));
    }
    line += "]}\n";
}

// Table columns: the reading's time of day (UTC), position, sea-level altitude, speed, true
// heading, satellites used, and the state after the piece with the events it caused.
constexpr const char* kTableHeader =
    "  line  time (UTC)     latitude    longitude  alt (m)  speed (kn)  heading  sats  state"
    "         event\n";

std::string TableCell(IPortableDeviceValues* fields, REFPROPERTYKEY key, const char* format) {
    PropVariant value;
    char text[64] = "-";
    if (SUCCEEDED(fields->GetValue(key, &value))) {
        if (value.vt == VT_R8) {
            std::snprintf(text, sizeof(text), format, value.dblVal);
        } else if (value.vt == VT_R4) {
            std::snprintf(text, sizeof(text), format, static_cast<double>(value.fltVal));
        } else if (value.vt == VT_I4) {
            std::snprintf(text, sizeof(text), "%d", static_cast<int>(value.lVal));
        } else if (value.vt == VT_FILETIME) {
            SYSTEMTIME time;
            if (FileTimeToSystemTime(&value.filetime, &time)) {
                std::snprintf(text, sizeof(text), "%02u:%02u:%02u.%03u", time.wHour, time.wMinute,
                              time.wSecond, time.wMilliseconds);
            }
        }
    }
    return text;
}

void AppendTableLine(std::string& line, std::int64_t number, ULONG state, bool dataEvent,
                     bool stateEvent, IPortableDeviceValues* fields) {
    const char* event = dataEvent && stateEvent ? "data+state" : dataEvent ? "data" : "state";
    char text[256];
    std::snprintf(text, sizeof(text), "%6lld  %-12s  %10s  %11s  %7s  %10s  %7s  %4s  %-12s  %s\n",
                  static_cast<long long>(number),
                  TableCell(fields, SENSOR_DATA_TYPE_TIMESTAMP, nullptr).c_str(),
                  TableCell(fields, SENSOR_DATA_TYPE_LATITUDE_DEGREES, "%.6f").c_str(),
                  TableCell(fields, SENSOR_DATA_TYPE_LONGITUDE_DEGREES, "%.6f").c_str(),
                  TableCell(fields, SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS, "%.1f").c_str(),
                  TableCell(fields, SENSOR_DATA_TYPE_SPEED_KNOTS, "%.1f").c_str(),
                  TableCell(fields, SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, "%.1f").c_str(),
                  TableCell(fields, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, nullptr).c_str(),
                  StateName(state), event);
    line += text;
}

// Gives the clock the chosen date for as long as it lives.
class DateOverride {
  public:
    explicit DateOverride(std::optional<std::uint64_t> date) : active_(date.has_value()) {
        if (active_) {
            zntr::platform::SetSystemTimeOverride(*date);
        }
    }
    ~DateOverride() {
        if (active_) {
            zntr::platform::SetSystemTimeOverride(std::nullopt);
        }
    }
    DateOverride(const DateOverride&) = delete;
    DateOverride& operator=(const DateOverride&) = delete;

  private:
    const bool active_;
};

}  // namespace

std::optional<std::uint64_t> ParseDecodeDate(const char* text) {
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    char end = 0;
    if (text == nullptr || std::sscanf(text, "%4u-%2u-%2u%c", &year, &month, &day, &end) != 3) {
        return std::nullopt;
    }
    SYSTEMTIME midnight = {};
    midnight.wYear = static_cast<WORD>(year);
    midnight.wMonth = static_cast<WORD>(month);
    midnight.wDay = static_cast<WORD>(day);
    FILETIME fileTime;
    if (year > 9999 || month > 12 || day > 31 || !SystemTimeToFileTime(&midnight, &fileTime)) {
        return std::nullopt;
    }
    // SystemTimeToFileTime takes a day past the month's end in some months; the way back shows it.
    SYSTEMTIME check;
    if (!FileTimeToSystemTime(&fileTime, &check) || check.wDay != midnight.wDay ||
        check.wMonth != midnight.wMonth) {
        return std::nullopt;
    }
    return FileTimeCount(fileTime);
}

int RunDecodeFields(std::FILE* input, const DecodeFieldsOptions& options,
                    const DecodeOutput& output) {
    zntr::platform::DebugOutputCapture capture;
    gEnableLog = 1;
    const DateOverride date(options.date);
    OfflineSensor sensor;
    const HRESULT hr = sensor.Start();
    if (FAILED(hr)) {
        std::fprintf(stderr, "zntr decode: the sensor could not be initialised (0x%08X)\n",
                     static_cast<unsigned>(hr));
        return 2;
    }
    capture.Take();  // the initialisation's own log lines belong to no piece

    if (options.table) {
        output(kTableHeader);
    }
    std::string line;
    std::int64_t number = 0;
    const bool read = ForEachDecodePiece(input, [&](const char* text) {
        ++number;
        ProcessNMEALine(text);
        const std::vector<std::string> messages = capture.Take();
        const ULONG state = gpSensorDDI->mSensorState;
        const bool dataEvent = sensor.DataEventSet();
        const bool stateEvent = sensor.StateEventSet();
        IPortableDeviceValues* fields = sensor.CopyDataFields();

        line.clear();
        if (!options.table) {
            AppendJsonLine(line, number, state, dataEvent, stateEvent, fields, messages);
        } else if (dataEvent || stateEvent) {
            AppendTableLine(line, number, state, dataEvent, stateEvent, fields);
        }
        if (!line.empty()) {
            output(line);
        }
    });
    return read ? 0 : 1;
}

}  // namespace zntr::tools
