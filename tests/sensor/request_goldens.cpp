// The sensor-request goldens: each table of tests/data/requests is one session with the driver's
// sensor (cSensorDDI) initialised on a framework device, behind the real sensor class extension.
// Its rows run in order; each names who acts, what it does and with what, and holds the answer
// expected, written as text (see the legend of the tables). ZNTR_REBUILD_GOLDEN=1 writes the
// answers the session gives instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <sstream>

#include "framework_device.h"
#include "nmea_line_sink.h"
#include "offline_sensor.h"
#include "sensor_catalogue.h"
#include "sensor_key_names.h"
#include "standin/com_control.h"
#include "standin/control.h"
#include "standin/device_database_control.h"
#include "standin/network_control.h"
#include "standin/portabledevice.h"
#include "table.h"
#include "temporary_folder.h"

// Declared after the sensor's headers: the class extension's own headers need theirs first.
#include "sensor_class_extension.h"

namespace {

namespace message = zntr::sensor_message;
using Microsoft::WRL::ComPtr;
using zntr::test::TableRow;

const std::filesystem::path kTables = std::filesystem::path(ZNTR_TEST_DATA) / "requests";
// The unique ID the device's store holds before the sensor first starts, so answers are the same
// every run.
constexpr wchar_t kStoredUniqueId[] = L"{0C15D503-D017-47CE-9016-7B3F978721CC}";
constexpr wchar_t kSensorId[] = L"ZntrVComLocation";
// The clock of a session: 2024-03-23 12:00 UTC, the date the timestamps carry.
constexpr std::uint64_t kNoon = 133556688000000000ull;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        const size_t first = part.find_first_not_of(' ');
        if (first != std::string::npos) {
            parts.push_back(part.substr(first, part.find_last_not_of(' ') - first + 1));
        }
    }
    return parts;
}

std::string StatusText(HRESULT status) {
    const std::string described = message::DescribeStatus(status);
    return described.substr(0, described.find_first_of(" :"));
}

std::string ValueText(const message::Value& value) {
    static const std::pair<VARTYPE, const char*> kTypes[] = {
        {VT_EMPTY, "VT_EMPTY"},
        {VT_R8, "VT_R8"},
        {VT_R4, "VT_R4"},
        {VT_I4, "VT_I4"},
        {VT_UI4, "VT_UI4"},
        {VT_LPWSTR, "VT_LPWSTR"},
        {VT_CLSID, "VT_CLSID"},
        {VT_FILETIME, "VT_FILETIME"},
        {VT_ERROR, "VT_ERROR"},
        {VT_BOOL, "VT_BOOL"},
        {VT_VECTOR | VT_UI1, "VT_VECTOR VT_UI1"}};
    std::string type = "VT(" + std::to_string(message::VarTypeOf(value)) + ")";
    for (const auto& [vt, name] : kTypes) {
        type = vt == message::VarTypeOf(value) ? name : type;
    }
    if (const auto* error = std::get_if<message::ErrorCode>(&value)) {
        return type + " " + StatusText(error->code);
    }
    return std::holds_alternative<std::monostate>(value)
               ? type
               : type + " " + zntr::client::FormatValue(value);
}

std::string ValuesText(const message::ValueList& values) {
    std::string text;
    for (const message::KeyedValue& entry : values) {
        text += (text.empty() ? "" : "; ") + zntr::client::KeyName(entry.key) + "=" +
                ValueText(entry.value);
    }
    return text;
}

std::string AnswerText(const message::Answer& answer) {
    std::string text;
    for (const message::ValueList& list : answer.valueLists) {
        text += (text.empty() ? "" : " // ") + ValuesText(list);
    }
    for (const PROPERTYKEY& key : answer.keys) {
        text += (text.empty() ? "" : "; ") + zntr::client::KeyName(key);
    }
    for (const GUID& guid : answer.guids) {
        text += (text.empty() ? "" : "; ") + zntr::client::EventName(guid);
    }
    return text + ValuesText(answer.values);
}

// A key the rows name: one of the catalogue's, SENSOR_PROPERTY_DESCRIPTION (a key the sensor does
// not support) or "{fmtid},pid". The answers print names through the client's own table, so a
// wrong catalogue entry still shows.
PROPERTYKEY KeyOf(const std::string& name) {
    for (const std::span<const cCatalogueEntry> catalogue :
         {std::span<const cCatalogueEntry>(kSensorPropertyCatalogue),
          std::span<const cCatalogueEntry>(kSensorDataFieldCatalogue)}) {
        for (const cCatalogueEntry& entry : catalogue) {
            if (name == entry.mName) {
                return entry.mKey;
            }
        }
    }
    if (name == "SENSOR_PROPERTY_DESCRIPTION") {
        return SENSOR_PROPERTY_DESCRIPTION;
    }
    PROPERTYKEY key{};
    const size_t comma = name.find(',');
    const std::wstring fmtid(name.begin(), name.begin() + std::min(comma, name.size()));
    if (comma == std::string::npos || FAILED(CLSIDFromString(fmtid.c_str(), &key.fmtid))) {
        ADD_FAILURE() << "no key named " << name;
    } else {
        key.pid = static_cast<DWORD>(std::stoul(name.substr(comma + 1)));
    }
    return key;
}

// "KEY=VT_UI4 1" or "KEY=VT_LPWSTR text": the values a set request carries.
message::KeyedValue KeyedValueOf(const std::string& text) {
    const size_t equals = text.find('=');
    const size_t space = text.find(' ', equals);
    const std::string type = text.substr(equals + 1, space - equals - 1);
    const std::string value = space == std::string::npos ? "" : text.substr(space + 1);
    message::KeyedValue keyed{KeyOf(text.substr(0, equals)), {}};
    if (type == "VT_UI4") {
        keyed.value = static_cast<std::uint32_t>(std::stoul(value));
    } else {
        EXPECT_EQ(type, "VT_LPWSTR") << text;
        keyed.value = std::wstring(value.begin(), value.end());
    }
    return keyed;
}

// One sensor on its device behind the class extension, with the clients' files, the network map
// that sends the feed's hotspot to a loopback port where nobody listens, and the shipped device
// database.
class Session {
  public:
    Session()
        : network_({"gps-hotspot.internal=127.0.0.1; 192.168.1.1:80=127.0.0.1:1", false}),
          database_(zntr::platform::DefaultDeviceDatabasePath()) {
        zntr::platform::SetSystemTimeOverride(kNoon);
    }
    ~Session() {
        Stop();
        zntr::platform::SetSystemTimeOverride(std::nullopt);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The cells a row gives: its status and its answer.
    std::vector<std::string> Run(const TableRow& row) {
        const std::string& who = row[0];
        const std::string& what = row[1];
        std::vector<std::string> result;
        if (who == "device" && what == "initialize") {
            result = Initialize(Split(row[2], ';'));
        } else if (who == "device" && what == "fail") {
            Fail(row[2]);
            result = {"", ""};
        } else if (!sensor_) {
            ADD_FAILURE() << "a table starts with: device | initialize";
            return {};
        } else if (who == "device") {
            what == "sleep" ? sensor_->Sensor().PrepareToSleep()
                            : sensor_->Sensor().PrepareRemoval();
            result = {StateText(), EventsText()};
        } else if (who == "line") {
            ProcessNMEALine(what == "Dummy" ? what.c_str() : (what + "\r\n").c_str());
            result = {StateText(), EventsText()};
        } else if (who == "driver") {
            result = {StatusText(CallDriver(what)), ""};
        } else {
            result = Request(who, what, row[2]);
        }
        EventsText();  // what a row signalled belongs to it alone
        return result;
    }

  private:
    // "CLSID_... after N" or "IPortableDevice...::METHOD after N": that class's creations or that
    // method's calls fail with E_OUTOFMEMORY after N successes, until the next "fail" (empty
    // heals).
    void Fail(const std::string& what) {
        failure_.reset();
        methodFailure_.reset();
        const std::vector<std::string> words = Split(what, ' ');
        if (words.size() == 3 && words[0].find("::") != std::string::npos) {
            methodFailure_.emplace(words[0], E_OUTOFMEMORY, std::stoul(words[2]));
        } else if (words.size() == 3) {
            const CLSID clsid = words[0] == "CLSID_PortableDeviceValues"
                                    ? CLSID_PortableDeviceValues
                                : words[0] == "CLSID_PortableDeviceKeyCollection"
                                    ? CLSID_PortableDeviceKeyCollection
                                    : CLSID_PortableDeviceValuesCollection;
            failure_.emplace(clsid, E_OUTOFMEMORY, std::stoul(words[2]));
        }
    }

    // The device instance ID, then "fail ..." for the sensor's start, or "unique ID TEXT" for
    // what the device's store holds instead of kStoredUniqueId.
    std::vector<std::string> Initialize(const std::vector<std::string>& with) {
        Stop();
        folder_ = std::make_unique<zntr::test::TemporaryFolder>();
        const std::string instanceId = with.empty() ? "" : with[0];
        zntr::tools::OfflineSensor::Options options{
            std::wstring(instanceId.begin(), instanceId.end()), folder_->path(), false};
        const std::string option = with.size() > 1 ? with[1] : "";
        const std::wstring stored = option.starts_with("unique ID ")
                                        ? std::wstring(option.begin() + 10, option.end())
                                        : kStoredUniqueId;
        ComPtr<IWDFDevice> device;
        ComPtr<IWDFNamedPropertyStore> store;
        PROPVARIANT id{};
        id.vt = VT_LPWSTR;
        id.pwszVal = const_cast<wchar_t*>(stored.c_str());
        if (SUCCEEDED(zntr::host::CreateFrameworkDevice(options.deviceInstanceId, folder_->path(),
                                                        device.GetAddressOf())) &&
            SUCCEEDED(device->RetrieveDevicePropertyStore(nullptr, WdfPropertyStoreCreateIfMissing,
                                                          store.GetAddressOf(), nullptr))) {
            EXPECT_EQ(store->SetNamedValue(kSensorId, &id), S_OK);
        }
        store = nullptr;
        device = nullptr;

        if (option.starts_with("fail ")) {
            Fail(option.substr(5));
        }
        sensor_ = std::make_unique<zntr::tools::OfflineSensor>();
        const HRESULT hr = sensor_->Start(options);
        Fail("");
        DWORD properties = 0;
        DWORD dataFields = 0;
        cSensorDDI& sensor = sensor_->Sensor();
        if (sensor.mpSupportedProperties && sensor.mpSupportedDataFields) {
            sensor.mpSupportedProperties->GetCount(&properties);
            sensor.mpSupportedDataFields->GetCount(&dataFields);
        }
        EXPECT_EQ(zntr::host::CreateSensorClassExtension(
                      IID_ISensorClassExtension,
                      reinterpret_cast<void**>(classExtension_.GetAddressOf())),
                  S_OK);
        EXPECT_EQ(
            classExtension_->Initialize(sensor_->Device(), static_cast<ISensorDriver*>(&sensor)),
            S_OK);
        return {StatusText(hr), std::to_string(properties) + " properties, " +
                                    std::to_string(dataFields) + " data fields"};
    }

    // The class extension takes its files off the sensor; what the driver rows connected is
    // taken off here, so that no feed outlives the sensor.
    void Stop() {
        Fail("");
        if (classExtension_) {
            classExtension_->Uninitialize();
            classExtension_ = nullptr;
        }
        files_.clear();
        while (sensor_ && sensor_->Sensor().mClientCount > 0) {
            CallDriver("disconnect");
        }
        sensor_.reset();
        folder_.reset();
    }

    HRESULT CallDriver(const std::string& call) {
        std::wstring sensorId = kSensorId;
        cSensorDDI& sensor = sensor_->Sensor();
        return call == "connect"      ? sensor.OnClientConnect(nullptr, sensorId.data())
               : call == "disconnect" ? sensor.OnClientDisconnect(nullptr, sensorId.data())
               : call == "subscribe"
                   ? sensor.OnClientSubscribeToEvents(nullptr, sensorId.data())
                   : sensor.OnClientUnsubscribeFromEvents(nullptr, sensorId.data());
    }

    std::vector<std::string> Request(const std::string& fileName, const std::string& command,
                                     const std::string& with) {
        message::Request request;
        request.sensorId = kSensorId;
        const message::CommandInfo* info = nullptr;
        for (const message::CommandInfo& candidate : message::kCommands) {
            info = command == candidate.name ? &candidate : info;
        }
        if (info == nullptr) {
            ADD_FAILURE() << "no request named " << command;
            return {};
        }
        request.command = info->command;
        for (const std::string& item : Split(with, ';')) {
            if (info->request == message::Payload::kKeys) {
                request.keys.push_back(KeyOf(item));
            } else {
                request.values.push_back(KeyedValueOf(item));
            }
        }
        ComPtr<zntr::host::FrameworkFile>& file = files_[fileName];
        if (!file) {
            file = zntr::host::FrameworkFile::Create(sensor_->Device());
        }
        std::optional<zntr::host::RequestResult> completion;
        const std::vector<std::uint8_t> bytes = message::EncodeRequest(request);
        const auto framework = zntr::host::FrameworkRequest::DeviceIoControlRequest(
            file, IOCTL_WPD_MESSAGE_READWRITE_ACCESS, bytes, 1 << 16,
            [&completion](const zntr::host::RequestResult& result) { completion = result; });
        classExtension_->ProcessIoControl(framework.Get());
        message::Answer answer;
        if (!completion || FAILED(completion->status)) {
            return {completion ? StatusText(completion->status) : "pending", "refused"};
        }
        EXPECT_EQ(message::DecodeAnswer(completion->data, &answer), S_OK);
        return {StatusText(answer.status), AnswerText(answer)};
    }

    std::string StateText() const {
        return zntr::client::SensorStateName(sensor_->Sensor().mSensorState);
    }
    std::string EventsText() {
        const bool data = sensor_ && sensor_->DataEventSet();
        const bool state = sensor_ && sensor_->StateEventSet();
        return data && state ? "data event, state event"
               : data        ? "data event"
               : state       ? "state event"
                             : "no event";
    }

    zntr::platform::ScopedNetworkSettings network_;
    zntr::platform::ScopedDeviceDatabase database_;
    std::unique_ptr<zntr::test::TemporaryFolder> folder_;
    std::unique_ptr<zntr::tools::OfflineSensor> sensor_;
    ComPtr<ISensorClassExtension> classExtension_;
    std::map<std::string, ComPtr<zntr::host::FrameworkFile>> files_;
    std::optional<zntr::platform::ComCreationFailure> failure_;
    std::optional<zntr::platform::ComMethodFailure> methodFailure_;
};

class RequestGolden : public testing::TestWithParam<std::filesystem::path> {};

TEST_P(RequestGolden, AnswersAsReviewed) {
    const zntr::test::Table table = zntr::test::ReadTable(GetParam());
    std::vector<TableRow> rebuilt;
    Session session;
    for (const TableRow& row : table.rows) {
        std::vector<std::string> cells(row.cells.begin(),
                                       row.cells.begin() + std::min<size_t>(3, row.cells.size()));
        cells.resize(3);
        const std::vector<std::string> answer = session.Run(row);
        const std::vector<std::string> expected(
            row.cells.begin() + static_cast<long>(std::min<size_t>(3, row.cells.size())),
            row.cells.end());
        if (zntr::test::RebuildingGoldens()) {
            cells.insert(cells.end(), answer.begin(), answer.end());
            rebuilt.push_back({row.line, cells});
        } else {
            EXPECT_EQ(expected, answer) << table.Where(row);
        }
    }
    if (zntr::test::RebuildingGoldens()) {
        zntr::test::RewriteTable(table, rebuilt);
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, RequestGolden,
                         testing::ValuesIn(zntr::test::FilesEndingIn(kTables, ".table")),
                         [](const auto& test) {
                             std::string name = test.param.stem().string();
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
