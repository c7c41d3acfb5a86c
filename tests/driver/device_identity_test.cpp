// The sensor's device identity lookups as a table (tests/data/identity): for an instance ID and a
// device database, the friendly name the sensor reports, the network adapter's interface path it
// keeps, and the lines it logs. Also the program's main, for the event thread's tests beside it.
#include <optional>
#include <sstream>

#include "default_device.h"
#include "device_database_file.h"
#include "driver_log.h"
#include "framework_device.h"
#include "standin/device_database_control.h"
#include "table_tests.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "prop_variant.h"
#include "sensor_ddi.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::test::TestDevice;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.replace(at, what.size(), with);
    }
    return text;
}

// "port|adapter[-absent] PATH[ = NAME]", devices separated by " ; "; {port} and {net} stand for
// the two interface classes.
std::vector<TestDevice> Devices(const std::string& cell) {
    std::vector<TestDevice> devices;
    std::istringstream list(cell + " ; ");
    std::string kind, path, equals, name;
    while (list >> kind >> path >> equals) {
        std::optional<std::string> friendly;
        if (equals == "=") {
            std::getline(list, name, ';');
            friendly = name.substr(1, name.size() - 2);
        }
        path = Replace(Replace(path, "{port}", zntr::test::kComPortClass), "{net}",
                       zntr::test::kNetworkAdapterClass);
        const bool port = kind.starts_with("port");
        devices.push_back(
            {zntr::test::NextInstanceId(),
             !kind.ends_with("-absent"),
             friendly,
             {{port ? zntr::test::kComPortClass : zntr::test::kNetworkAdapterClass, path}}});
    }
    return devices;
}

std::vector<std::string> Lookup(const zntr::test::Table&, const zntr::test::TableRow& row) {
    gEnableLog = 1;
    const std::wstring id(row[0].begin(), row[0].end());
    std::optional<zntr::test::DeviceDatabaseFile> file;
    std::optional<std::string> database;
    if (row[1] == "shipped") {
        database = zntr::platform::DefaultDeviceDatabasePath();
    } else if (row[1] != "none") {
        file.emplace(Devices(row[1]));
        database = file->path();
    }
    zntr::platform::ScopedDeviceDatabase scoped(database.value_or("/nonexistent/devices.json"));
    zntr::test::DriverLog log;
    ComPtr<IWDFDevice> device;
    zntr::host::CreateFrameworkDevice(id, {}, device.GetAddressOf());
    cSensorDDI* sensor = nullptr;
    cSensorDDI::CreateInstance(&sensor);
    sensor->AddRef();
    if (row[0] != "-" && FAILED(sensor->Initialize(id.empty() ? L"x" : id, device.Get()))) {
        ADD_FAILURE() << "the sensor did not initialise";
    }
    if (id.empty()) {
        sensor->mNMEAPortID.clear();
    }
    log.Take();
    sensor->SetDeviceName();
    cPropVariant name;
    sensor->GetPropertyValue(SENSOR_PROPERTY_FRIENDLY_NAME, &name);
    const HRESULT hr = sensor->SetNetworkDevicePath();
    std::string lines;
    for (const std::string& line : log.Take()) {
        lines += (lines.empty() ? "" : " / ") + line;
    }
    const std::string path = hr == S_OK ? Narrow(sensor->mNetDevicePath) : "E_FAIL";
    if (hr == S_OK) {
        // Found once, the path is kept: no second search, no line.
        zntr::platform::ScopedDeviceDatabase gone("/nonexistent/devices.json");
        EXPECT_EQ(sensor->SetNetworkDevicePath(), S_OK);
        EXPECT_EQ(Narrow(sensor->mNetDevicePath), path);
        EXPECT_EQ(log.Take(), std::vector<std::string>{});
    }
    sensor->Release();
    return {name.vt == VT_LPWSTR ? Narrow(name.pwszVal) : "-", path, lines};
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    zntr::test::RegisterTableRows("DeviceIdentity",
                                  zntr::test::FilesEndingIn(ZNTR_TEST_DATA "/identity", ".table"),
                                  2, Lookup);
    return RUN_ALL_TESTS();
}
