// The device database file: which file is in force, and its parsing. A database is checked
// strictly, unknown members included, so that a misspelt "friendlyName" is reported rather than
// read as a device without a name.
#include "device_database.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

#include "codepage_utf8.h"
#include "standin/combaseapi.h"
#include "standin/device_database_control.h"
#include "standin/winerror.h"

#ifndef ZNTR_DEFAULT_DEVICE_DB
#error "the build must define ZNTR_DEFAULT_DEVICE_DB, the path of the shipped device database"
#endif

namespace zntr::platform::detail {
namespace {

using Json = nlohmann::json;

// A database that does not have the expected shape; the text says where.
struct FormatError {
    std::string reason;
};

std::wstring Wide(const std::string& utf8) {
    const int length = Utf8ToWide(0, utf8.data(), utf8.size(), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    Utf8ToWide(0, utf8.data(), utf8.size(), wide.data(), length);
    return wide;
}

void CheckMembers(const Json& object, const std::string& where,
                  std::initializer_list<std::string_view> known) {
    if (!object.is_object()) {
        throw FormatError{where + " is not an object"};
    }
    for (const auto& member : object.items()) {
        bool isKnown = member.key() == "comment";
        for (std::string_view name : known) {
            isKnown = isKnown || member.key() == name;
        }
        if (!isKnown) {
            throw FormatError{where + " has an unknown member \"" + member.key() + "\""};
        }
    }
}

std::wstring Text(const Json& object, const char* name, const std::string& where) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string() || found->get<std::string>().empty()) {
        throw FormatError{where + " needs \"" + name + "\", a non-empty string"};
    }
    return Wide(found->get<std::string>());
}

DeviceInterfaceRecord ParseInterface(const Json& object, const std::string& where) {
    CheckMembers(object, where, {"class", "path"});
    DeviceInterfaceRecord record;
    const std::wstring classText = Text(object, "class", where);
    if (FAILED(CLSIDFromString(classText.c_str(), &record.interfaceClass))) {
        throw FormatError{where +
                          ": \"class\" is not a braced GUID such as "
                          "{86E0D1E0-8089-11D0-9CE4-08003E301F73}"};
    }
    record.path = Text(object, "path", where);
    return record;
}

DeviceRecord ParseDevice(const Json& object, const std::string& where) {
    CheckMembers(object, where, {"instanceId", "present", "friendlyName", "interfaces"});
    DeviceRecord record;
    record.instanceId = Text(object, "instanceId", where);
    if (const auto present = object.find("present"); present != object.end()) {
        if (!present->is_boolean()) {
            throw FormatError{where + ": \"present\" is not true or false"};
        }
        record.present = present->get<bool>();
    }
    if (const auto name = object.find("friendlyName"); name != object.end()) {
        if (!name->is_string()) {
            throw FormatError{where + ": \"friendlyName\" is not a string"};
        }
        record.friendlyName = Wide(name->get<std::string>());
    }
    const auto interfaces = object.find("interfaces");
    if (interfaces == object.end() || !interfaces->is_array()) {
        throw FormatError{where + " needs \"interfaces\", an array"};
    }
    for (size_t i = 0; i < interfaces->size(); ++i) {
        record.interfaces.push_back(
            ParseInterface((*interfaces)[i], where + " interface " + std::to_string(i)));
    }
    return record;
}

struct ProgramSetting {
    std::mutex mutex;
    std::optional<std::string> path;
};

ProgramSetting& Program() {
    static ProgramSetting program;
    return program;
}

// Warns once per file and reason, so that a broken database is seen but not repeated at every
// enumeration.
void WarnAboutDatabase(const std::string& path, const std::string& reason) {
    static std::mutex mutex;
    static std::set<std::pair<std::string, std::string>> warned;
    std::lock_guard<std::mutex> lock(mutex);
    if (warned.emplace(path, reason).second) {
        std::fprintf(stderr, "warning: device database %s: %s\n", path.c_str(), reason.c_str());
    }
}

}  // namespace

std::optional<DeviceDatabase> ParseDeviceDatabase(std::string_view text, std::string* reason) {
    try {
        const Json root = Json::parse(text);
        CheckMembers(root, "the database", {"devices"});
        const auto devices = root.find("devices");
        if (devices == root.end() || !devices->is_array()) {
            throw FormatError{"the database needs \"devices\", an array"};
        }
        DeviceDatabase database;
        for (size_t i = 0; i < devices->size(); ++i) {
            database.devices.push_back(ParseDevice((*devices)[i], "device " + std::to_string(i)));
        }
        return database;
    } catch (const Json::exception& error) {
        *reason = error.what();
    } catch (const FormatError& error) {
        *reason = error.reason;
    }
    return std::nullopt;
}

std::optional<DeviceDatabase> LoadDeviceDatabase(DWORD* error) {
    const std::string path = CurrentDeviceDatabasePath();
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf())) {
        *error = ERROR_FILE_NOT_FOUND;
        return std::nullopt;
    }
    std::string reason;
    std::optional<DeviceDatabase> database = ParseDeviceDatabase(text.str(), &reason);
    if (!database) {
        WarnAboutDatabase(path, reason);
        *error = ERROR_INVALID_DATA;
    }
    return database;
}

}  // namespace zntr::platform::detail

namespace zntr::platform {

std::string DefaultDeviceDatabasePath() {
    return ZNTR_DEFAULT_DEVICE_DB;
}

std::string CurrentDeviceDatabasePath() {
    {
        detail::ProgramSetting& program = detail::Program();
        std::lock_guard<std::mutex> lock(program.mutex);
        if (program.path) {
            return *program.path;
        }
    }
    const char* environment = std::getenv("ZNTR_DEVICE_DB");
    return environment != nullptr && *environment != '\0' ? environment
                                                          : DefaultDeviceDatabasePath();
}

ScopedDeviceDatabase::ScopedDeviceDatabase(std::optional<std::string> path) {
    detail::ProgramSetting& program = detail::Program();
    std::lock_guard<std::mutex> lock(program.mutex);
    previous_ = std::exchange(program.path, std::move(path));
}

ScopedDeviceDatabase::~ScopedDeviceDatabase() {
    detail::ProgramSetting& program = detail::Program();
    std::lock_guard<std::mutex> lock(program.mutex);
    program.path = std::move(previous_);
}

}  // namespace zntr::platform
