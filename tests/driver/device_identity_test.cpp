// The device identity lookups of the sensor: the serial port's friendly name and the sibling
// network adapter's interface path, against device databases of the tests' own and the shipped
// one.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "default_device.h"
#include "device_database_file.h"
#include "identity_strings.h"
#include "sensor_test_support.h"
#include "standin/device_database_control.h"

namespace {

using zntr::platform::ScopedDeviceDatabase;
using zntr::test::ComPort;
using zntr::test::DeviceDatabaseFile;
using zntr::test::NetworkAdapter;
using zntr::test::SensorTest;
using zntr::test::TestDevice;

// The instance ID of these tests: function 2 of a composite USB device.
constexpr wchar_t kPortId[] = L"USB\\VID_F00D&PID_7E57&MI_02\\7&2F3E4D5C&0&0002";
const std::string kOwnPort =
    "\\\\?\\USB#VID_F00D&PID_7E57&MI_02#7&2F3E4D5C&0&0002#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::string kSiblingPort =
    "\\\\?\\USB#VID_F00D&PID_7E57&MI_01#7&2F3E4D5C&0&0001#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::string kSiblingAdapter =
    "\\\\?\\USB#VID_F00D&PID_7E57&MI_00#7&2F3E4D5C&0&0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}"
    "\\{5A1C0E7B-93D2-4F6A-8B1E-2C4D6E8F0A13}";
const std::string kMissingDatabase = "/nonexistent/zntr-devices.json";

std::wstring Lowered(const std::string& text) {
    std::wstring wide(text.begin(), text.end());
    LowerCase(wide);
    return wide;
}

class DeviceIdentityTest : public SensorTest {
  protected:
    void TearDown() override {
        EXPECT_EQ(zntr::platform::CountDeviceInfoSets(), setsBefore_) << "a set was left open";
        SensorTest::TearDown();
    }

    // A new sensor in gpSensorDDI in place of the one there, for the next row of a table.
    void FreshSensor() {
        gpSensorDDI->Release();
        gpSensorDDI = nullptr;
        ASSERT_EQ(cSensorDDI::CreateInstance(&gpSensorDDI), S_OK);
        gpSensorDDI->AddRef();
    }

    // An initialised sensor for the instance ID and a database of the given devices.
    void Start(const std::vector<TestDevice>& devices, const std::wstring& portId = kPortId) {
        file_.emplace(devices);
        UseDatabase(file_->path());
        ASSERT_EQ(Initialize(portId), S_OK);
        Log();
    }
    void UseDatabase(const std::string& path) {
        database_.reset();
        database_.emplace(path);
    }

    std::optional<DeviceDatabaseFile> file_;
    std::optional<ScopedDeviceDatabase> database_;
    size_t setsBefore_ = zntr::platform::CountDeviceInfoSets();
};

TEST(IdentityTokenTest, ATokenIsTheNthNonEmptyPiece) {
    struct Case {
        const wchar_t* text;
        WCHAR delimiter;
        size_t number;
        const wchar_t* token;
    };
    const Case cases[] = {
        {L"usb\\vid_1&pid_2&mi_02\\7&2f&0&0002", L'\\', 1, L"usb"},  // the enumerator
        {L"usb\\vid_1&pid_2&mi_02\\7&2f&0&0002", L'\\', 2, L"vid_1&pid_2&mi_02"},
        {L"usb\\vid_1&pid_2&mi_02\\7&2f&0&0002", L'\\', 3, L"7&2f&0&0002"},
        {L"usb\\vid_1&pid_2&mi_02\\7&2f&0&0002", L'\\', 4, L""},  // past the end
        {L"\\\\usb\\\\\\vid\\", L'\\', 1, L"usb"},                // leading run skipped
        {L"\\\\usb\\\\\\vid\\", L'\\', 2, L"vid"},                // a run is one delimiter
        {L"\\\\usb\\\\\\vid\\", L'\\', 3, L""},                   // trailing run: no token
        {L"", L'#', 1, L""},                                      // nothing at all
        {L"\\\\?\\usb#a#b#{c}\\{r}", L'#', 1, L"\\\\?\\usb"},     // a path's prefix
        {L"\\\\?\\usb#a#b#{c}\\{r}", L'#', 4, L"{c}\\{r}"},       // class and reference
        {L"{c}\\{r}", L'\\', 2, L"{r}"},                          // the reference string
        {L"{c}", L'\\', 2, L""},                                  // no reference string
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetToken(c.text, c.delimiter, c.number), c.token)
            << "token " << c.number << " of " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST_F(DeviceIdentityTest, TheShippedDatabaseNamesTheDefaultDeviceAndFindsItsAdapter) {
    UseDatabase(zntr::platform::DefaultDeviceDatabasePath());
    ASSERT_EQ(Initialize(zntr::host::kDefaultDeviceInstanceId), S_OK);
    Log();
    Sensor().SetDeviceName();
    EXPECT_EQ(Sensor().mDeviceName, L"ZNTR GPS Serial Port (COM7)");
    EXPECT_EQ(Property(SENSOR_PROPERTY_FRIENDLY_NAME).text, L"ZNTR GPS Serial Port (COM7)");
    EXPECT_EQ(Sensor().SetNetworkDevicePath(), S_OK);
    const std::wstring adapter =
        L"\\\\?\\usb#vid_f00d&pid_7e57&mi_00#7&2f3e4d5c&0&0000#{ad498944-762f-11d0-8dcb-"
        L"00c04fc3358c}\\{5a1c0e7b-93d2-4f6a-8b1e-2c4d6e8f0a13}";
    EXPECT_EQ(Sensor().mNetDevicePath, adapter);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "GetDeviceName: ZNTR GPS Serial Port (COM7)",
                         "GetNetworkDevicePath: " + std::string(adapter.begin(), adapter.end())}));
}

TEST_F(DeviceIdentityTest, TheNameComesFromTheLastPresentPortWhosePathHoldsBothWholeTokens) {
    const std::string lastDigitsLonger =
        "\\\\?\\USB#VID_F00D&PID_7E57&MI_02#7&2F3E4D5C&0&00021#{86e0d1e0-8089-11d0-9ce4-"
        "08003e301f73}";
    std::string upperCase = kOwnPort;
    for (char& c : upperCase) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    struct Case {
        const char* legend;
        std::vector<TestDevice> devices;
        std::string name;  // "": none found, the default stays
    };
    const Case cases[] = {
        {"own port among siblings",
         {ComPort(kSiblingPort, "Sibling"), ComPort(kOwnPort, "Own")},
         "Own"},
        {"a sibling alone: the whole tokens do not reach it",
         {ComPort(kSiblingPort, "Sibling")},
         ""},
        {"own port not present", {ComPort(kOwnPort, "Own", false)}, ""},
        {"two matches: the later one",
         {ComPort(kOwnPort, "First"), ComPort(lastDigitsLonger, "Second")},
         "Second"},
        {"a later match without a friendly name gives none",
         {ComPort(kOwnPort, "First"), ComPort(lastDigitsLonger, std::nullopt)},
         ""},
        {"an upper-case path", {ComPort(upperCase, "Upper")}, "Upper"},
        {"a name of 259 characters fits",
         {ComPort(kOwnPort, std::string(259, 'n'))},
         std::string(259, 'n')},
        {"a name of 260 characters does not", {ComPort(kOwnPort, std::string(260, 'n'))}, ""},
        {"an adapter with the port's path is no port",
         {{"USB\\X\\1", true, "Adapter", {{zntr::test::kNetworkAdapterClass, kOwnPort}}}},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        FreshSensor();
        Start(c.devices);
        Sensor().SetDeviceName();
        const std::wstring name(c.name.begin(), c.name.end());
        EXPECT_EQ(Sensor().mDeviceName, name);
        EXPECT_EQ(Property(SENSOR_PROPERTY_FRIENDLY_NAME).text,
                  c.name.empty() ? L"ZNTR VCOM NMEA" : name);
        EXPECT_EQ(Log(), (std::vector<std::string>{"GetDeviceName: " + c.name}));
    }
}

TEST_F(DeviceIdentityTest, TheAdapterIsTheLastOneWithBothCutTokensAndAReferenceString) {
    const std::string otherAdapter =
        "\\\\?\\USB#VID_F00D&PID_7E57&MI_03#7&2F3E4D5C&0&0003#{ad498944-762f-11d0-8dcb-"
        "00c04fc3358c}\\{0B7F3A52-6C1D-4E89-9A40-5D2E1F7C8B36}";
    const std::string noReference =
        "\\\\?\\USB#VID_F00D&PID_7E57&MI_00#7&2F3E4D5C&0&0000#{ad498944-762f-11d0-8dcb-"
        "00c04fc3358c}";
    const std::string otherDevice =
        "\\\\?\\USB#VID_F00D&PID_7E58&MI_00#7&2F3E4D5C&0&0000#{ad498944-762f-11d0-8dcb-"
        "00c04fc3358c}\\{1}";
    const std::string shortHardware =
        "\\\\?\\USB#VID_1&PID_2#7&2F3E4D5C&0&0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{1}";
    struct Case {
        const char* legend;
        std::vector<TestDevice> devices;
        std::wstring portId;
        std::string path;  // "": none found
    };
    const Case cases[] = {
        {"the sibling adapter", {NetworkAdapter(kSiblingAdapter)}, kPortId, kSiblingAdapter},
        {"an adapter that is not present counts",
         {NetworkAdapter(kSiblingAdapter, false)},
         kPortId,
         kSiblingAdapter},
        {"two matches: the later one",
         {NetworkAdapter(kSiblingAdapter), NetworkAdapter(otherAdapter)},
         kPortId,
         otherAdapter},
        {"no reference string after the class", {NetworkAdapter(noReference)}, kPortId, ""},
        {"another product", {NetworkAdapter(otherDevice)}, kPortId, ""},
        {"a port with the adapter's path is no adapter",
         {ComPort(kSiblingAdapter, "Port")},
         kPortId,
         ""},
        {"a hardware token of five characters is searched whole",
         {NetworkAdapter(shortHardware)},
         L"USB\\VID_1\\7&2F3E4D5C&0&0002",
         shortHardware},
        {"a hardware token of six characters keeps its first",
         {NetworkAdapter(shortHardware)},
         L"USB\\PID_2X\\7&2F3E4D5C&0&0002",
         shortHardware},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        FreshSensor();
        Start(c.devices, c.portId);
        const std::wstring expected = c.path.empty() ? L"" : Lowered(c.path);
        EXPECT_EQ(Sensor().SetNetworkDevicePath(), c.path.empty() ? E_FAIL : S_OK);
        EXPECT_EQ(Sensor().mNetDevicePath, expected);
        std::vector<std::string> log = {"GetNetworkDevicePath: " +
                                        std::string(expected.begin(), expected.end())};
        if (c.path.empty()) {
            log.push_back("SetNetworkDevicePath: failed to get Net device path");
        }
        EXPECT_EQ(Log(), log);
    }
}

TEST_F(DeviceIdentityTest, LookupsThatCannotSearchLogWhyAndFindNothing) {
    struct Case {
        const char* legend;
        std::wstring portId;         // "": the sensor is not initialised
        std::string database;        // the file to use; the test's own when empty
        bool emptyPortIdAfterwards;  // mNMEAPortID emptied after Initialize
        std::vector<std::string> nameLog;
        std::vector<std::string> pathLog;
    };
    const std::vector<std::string> pathNotFound = {
        "GetNetworkDevicePath: invalid parameters",
        "SetNetworkDevicePath: failed to get Net device path"};
    const Case cases[] = {
        {"no property collection",
         L"",
         "",
         false,
         {"SetDeviceName: mpSensorProperties == 0"},
         pathNotFound},
        {"an empty instance ID",
         kPortId,
         "",
         true,
         {"SetDeviceName: mNMEAPortID is empty"},
         pathNotFound},
        {"an instance ID of two parts",
         L"ROOT\\ZNTR",
         "",
         false,
         {"GetDeviceName: invalid parameters"},
         pathNotFound},
        {"no database",
         kPortId,
         kMissingDatabase,
         false,
         {"GetDeviceName: SetupDiGetClassDevs failed"},
         {"GetNetworkDevicePath: SetupDiGetClassDevs failed",
          "SetNetworkDevicePath: failed to get Net device path"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        FreshSensor();
        file_.emplace(
            std::vector<TestDevice>{ComPort(kOwnPort, "Own"), NetworkAdapter(kSiblingAdapter)});
        UseDatabase(c.database.empty() ? file_->path() : c.database);
        if (!c.portId.empty()) {
            ASSERT_EQ(Initialize(c.portId), S_OK);
        }
        if (c.emptyPortIdAfterwards) {
            Sensor().mNMEAPortID.clear();
        }
        Log();
        Sensor().SetDeviceName();
        EXPECT_EQ(Log(), c.nameLog);
        EXPECT_TRUE(Sensor().mDeviceName.empty());
        EXPECT_EQ(Sensor().SetNetworkDevicePath(), E_FAIL);
        EXPECT_EQ(Log(), c.pathLog);
        EXPECT_TRUE(Sensor().mNetDevicePath.empty());
    }
}

TEST_F(DeviceIdentityTest, AKnownPathIsKeptWithoutLookingAgain) {
    Start({NetworkAdapter(kSiblingAdapter)});
    ASSERT_EQ(Sensor().SetNetworkDevicePath(), S_OK);
    const std::wstring found = Sensor().mNetDevicePath;
    Log();
    // With the database gone, any enumeration would fail and log.
    UseDatabase(kMissingDatabase);
    EXPECT_EQ(Sensor().SetNetworkDevicePath(), S_OK);
    EXPECT_EQ(Sensor().mNetDevicePath, found);
    EXPECT_TRUE(Log().empty());
}

}  // namespace
