// The sensor's device identity lookups as a table (tests/data/identity): for an instance ID and a
// device database, the friendly name the sensor reports, the network adapter's interface path it
// keeps, and the lines it logs. Also the program's main, for the event thread's tests beside it.
#include <fstream>
#include <optional>
#include <sstream>

#include "default_device.h"
#include "driver_log.h"
#include "framework_device.h"
#include "standin/device_database_control.h"
#include "table_tests.h"
#include "temporary_folder.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "prop_variant.h"
#include "sensor_ddi.h"

namespace {

using Microsoft::WRL::ComPtr;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.replace(at, what.size(), with);
    }
    return text;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += (c == '\\' || c == '"' ? "\\" : "") + std::string(1, c);
    }
    return quoted + "\"";
}

// The device database (the format of data/README.md) of a cell: "port|adapter[-absent] PATH[ =
// NAME]", devices separated by " ; ", each with one interface; {port} and {net} stand for the two
// interface classes. The instance IDs are made up.
std::string Database(const std::string& cell) {
    const std::string port = "{86E0D1E0-8089-11D0-9CE4-08003E301F73}";
    const std::string net = "{AD498944-762F-11D0-8DCB-00C04FC3358C}";
    std::string devices;
    std::istringstream list(cell + " ; ");
    std::string kind, path, equals, name;
    for (int n = 0; list >> kind >> path >> equals; ++n) {
        devices += std::string(n == 0 ? "" : ",\n") + "{\"instanceId\": \"TEST\\\\DEVICE\\\\" +
                   std::to_string(n) +
                   "\", \"present\": " + (kind.ends_with("-absent") ? "false" : "true");
        if (equals == "=") {
            std::getline(list, name, ';');
            devices += ", \"friendlyName\": " + Quoted(name.substr(1, name.size() - 2));
        }
        devices += ", \"interfaces\": [{\"class\": \"" + (kind.starts_with("port") ? port : net) +
                   "\", \"path\": " + Quoted(Replace(Replace(path, "{port}", port), "{net}", net)) +
                   "}]}";
    }
    return "{\"devices\": [\n" + devices + "\n]}\n";
}

std::vector<std::string> Lookup(const zntr::test::Table&, const zntr::test::TableRow& row) {
    gEnableLog = 1;
    const std::wstring id(row[0].begin(), row[0].end());
    const zntr::test::TemporaryFolder folder;
    std::optional<std::string> database;
    if (row[1] == "shipped") {
        database = zntr::platform::DefaultDeviceDatabasePath();
    } else if (row[1] != "none") {
        database = (folder.path() / "devices.json").string();
        std::ofstream(*database) << Database(row[1]);
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
