// A device database file of a test's own (the format of data/README.md), written from a list of
// devices, or from raw text, and removed when the test ends.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zntr::test {

// Interface classes as the database writes them.
inline constexpr const char* kComPortClass = "{86E0D1E0-8089-11D0-9CE4-08003E301F73}";
inline constexpr const char* kNetworkAdapterClass = "{AD498944-762F-11D0-8DCB-00C04FC3358C}";

struct TestInterface {
    std::string interfaceClass;
    std::string path;  // as the device lists it, single backslashes
};

struct TestDevice {
    std::string instanceId;
    bool present = true;
    std::optional<std::string> friendlyName;
    std::vector<TestInterface> interfaces;
};

// A made-up instance ID, different at each call.
inline std::string NextInstanceId() {
    static std::atomic<int> counter{0};
    return "TEST\\DEVICE\\" + std::to_string(counter++);
}

// A serial port or a network adapter with one interface, the usual devices of these tests.
inline TestDevice ComPort(std::string path, std::optional<std::string> name, bool present = true) {
    return {NextInstanceId(), present, std::move(name), {{kComPortClass, std::move(path)}}};
}
inline TestDevice NetworkAdapter(std::string path, bool present = true) {
    return {NextInstanceId(), present, std::nullopt, {{kNetworkAdapterClass, std::move(path)}}};
}

class DeviceDatabaseFile {
  public:
    explicit DeviceDatabaseFile(const std::vector<TestDevice>& devices)
        : DeviceDatabaseFile(Json(devices)) {}
    explicit DeviceDatabaseFile(std::string_view text) {
        static std::atomic<int> counter{0};
        path_ = (std::filesystem::temp_directory_path() /
                 ("zntr-devices-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
                  ".json"))
                    .string();
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~DeviceDatabaseFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    DeviceDatabaseFile(const DeviceDatabaseFile&) = delete;
    DeviceDatabaseFile& operator=(const DeviceDatabaseFile&) = delete;

    const std::string& path() const { return path_; }

    static std::string Quoted(std::string_view text) {
        std::string quoted = "\"";
        for (const char c : text) {
            if (c == '\\' || c == '"') {
                quoted += '\\';
            }
            quoted += c;
        }
        return quoted + "\"";
    }

    static std::string Json(const std::vector<TestDevice>& devices) {
        std::string json = "{\"devices\": [";
        for (size_t d = 0; d < devices.size(); ++d) {
            const TestDevice& device = devices[d];
            json += d == 0 ? "\n" : ",\n";
            json += "{\"instanceId\": " + Quoted(device.instanceId) +
                    ", \"present\": " + (device.present ? "true" : "false");
            if (device.friendlyName) {
                json += ", \"friendlyName\": " + Quoted(*device.friendlyName);
            }
            json += ", \"interfaces\": [";
            for (size_t i = 0; i < device.interfaces.size(); ++i) {
                json += std::string(i == 0 ? "" : ", ") +
                        "{\"class\": " + Quoted(device.interfaces[i].interfaceClass) +
                        ", \"path\": " + Quoted(device.interfaces[i].path) + "}";
            }
            json += "]}";
        }
        return json + "\n]}\n";
    }

  private:
    std::string path_;
};

}  // namespace zntr::test
