// The framework host, from tables of tests/data/wire (this program registers every table's rows,
// the class extension's too): frames.table, what the host's frame reader makes of byte streams;
// host.table, scenarios of steps against a host in this process with the test driver module. In
// C++: callbacks in parallel, a file's cleanup after its callbacks, completions of a closed file
// dropped, a second completion reported; protocol damage closing its own connection only; and the
// driver module itself served to the client library.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

#include "default_device.h"
#include "device_file.h"
#include "device_server.h"
#include "device_state.h"
#include "driver_class.h"
#include "framework_host.h"
#include "host_commands.h"
#include "host_control.h"
#include "host_report.h"
#include "host_status.h"
#include "sensor_class_extension.h"
#include "sensor_client.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"
#include "standin/sensors.h"
#include "temporary_folder.h"
#include "test_driver.h"
#include "wait_until.h"
#include "wire_tables.h"

namespace zntr::test {
namespace {

using namespace std::chrono_literals;
// A host in this process serving a driver module at a socket of its own, with a platform
// component whose registration is recorded with the module's calls (TestDriverCalls, reset when
// the host is made and when it goes), and so are the host's errors: "HostError(text)".
class TestHost {
  public:
    TestHost() {
        calls_.Reset();
        previous_ = host::SetHostReportSink([this](host::ReportKind kind, std::string_view text) {
            if (kind == host::ReportKind::kError) {
                calls_.Record("HostError(" + std::string(text) + ")");
            }
        });
    }
    ~TestHost() {
        calls_.Reset();  // opens every gate
        Stop();
        host::SetHostReportSink(std::move(previous_));
    }
    // The sensor class extension is registered too, for the driver module itself.
    void Start(const std::string& module = TestDriverModule(),
               const CLSID& clsid = kTestDriverClass,
               const std::wstring& instanceId = L"ROOT\\ZNTR_TEST\\0000") {
        host::FrameworkHostOptions options{module, clsid, instanceId, folder_.path() / "state", {}};
        options.components = {
            {"component", [this](DWORD*) { return calls_.Record("component add"); },
             [this](DWORD) { return calls_.Record("component remove"); }},
            {"sensor class extension", host::RegisterSensorClassExtension,
             host::RevokeSensorClassExtension}};
        host_ = host::FrameworkHost::Start(std::move(options));
        server_ =
            std::make_unique<host::DeviceServer>(*host_, socket_, false, [this] { ++stops_; });
    }
    // The orderly stop; whether everything went by the rules.
    bool Stop() {
        server_.reset();
        const bool clean = host_ ? host_->Stop() : true;
        host_.reset();
        return clean;
    }
    std::unique_ptr<client::DeviceFile> Open() { return client::DeviceFile::Open(socket_); }

    CallRecorder& calls_ = TestDriverCalls();
    TemporaryFolder folder_;
    const std::string socket_ = (folder_.path() / "host.sock").string();
    std::unique_ptr<host::FrameworkHost> host_;
    std::unique_ptr<host::DeviceServer> server_;
    std::atomic<int> stops_{0};

  private:
    host::HostReportSink previous_;
};

std::string Describe(const protocol::Message& message) {
    return std::visit(
        [](const auto& m) -> std::string {
            using T = std::decay_t<decltype(m)>;
            auto status = [](HRESULT hr) { return host::StatusText(hr); };
            if constexpr (std::is_same_v<T, protocol::OpenMessage>) {
                return "open v" + std::to_string(m.version) + " \"" + m.fileName + "\"";
            } else if constexpr (std::is_same_v<T, protocol::ControlMessage>) {
                const auto& name = protocol::NameOf(m.command);
                return "control v" + std::to_string(m.version) + " " + std::string(name.group) +
                       " " + std::string(name.verb);
            } else if constexpr (std::is_same_v<T, protocol::ReadMessage>) {
                return "read #" + std::to_string(m.requestId) + " of " + std::to_string(m.length);
            } else if constexpr (std::is_same_v<T, protocol::DeviceIoControlMessage>) {
                return "ioctl #" + std::to_string(m.requestId) + " " +
                       status(HRESULT(m.controlCode)) + " out " + std::to_string(m.outputLength) +
                       " in " + std::to_string(m.input.size());
            } else if constexpr (std::is_same_v<T, protocol::OpenedMessage>) {
                return "opened " + status(m.status);
            } else if constexpr (std::is_same_v<T, protocol::ControlResultMessage>) {
                return "control result " + status(m.status) + " " + m.text;
            } else {
                return "completed #" + std::to_string(m.requestId) + " " + status(m.status) +
                       " with " + std::to_string(m.data.size());
            }
        },
        message);
}

// What the host's frame reader makes of the stream.
std::string Frames(const Bytes& stream) {
    protocol::FrameReader reader;
    reader.Append(stream);
    std::string decoding;
    protocol::Message message;
    std::string problem;
    for (auto result = reader.Next(message, &problem);
         result != protocol::FrameReader::Result::kNeedMore;
         result = reader.Next(message, &problem)) {
        if (result == protocol::FrameReader::Result::kMalformed) {
            return decoding + "malformed: " + problem;
        }
        decoding += Describe(message) + "; ";
    }
    return decoding + std::to_string(reader.Buffered()) + " bytes left";
}

sockaddr_un Address(const std::string& socket) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
    return address;
}

struct Run {
    std::vector<std::future<client::Completion>> reads;  // ended by the file's close at the latest
    TestHost host;
    std::unique_ptr<client::DeviceFile> file;
    std::string module = TestDriverModule();

    // Closes the file and waits for the reads still inside it before it goes.
    void CloseFile() {
        if (file) {
            file->Close();
        }
        reads.clear();
        file.reset();
    }
    ~Run() { CloseFile(); }
};

// The step's own outcome (host.table's legend).
std::string Step(Run& run, const std::string& verb, const std::string& argument) {
    std::string outcome;
    if (verb == "answer") {  // METHOD=HRESULT
        const std::size_t equals = argument.find('=');
        run.host.calls_.SetAnswer(argument.substr(0, equals),
                                  std::stol(argument.substr(equals + 1), nullptr, 16));
    } else if (verb == "start") {
        if (argument == "copy") {  // a module of its own, which may stay mapped alone
            run.module = (run.host.folder_.path() / "copy.so").string();
            std::filesystem::copy_file(TestDriverModule(), run.module);
        } else if (argument == "platform") {
            run.module = ZNTR_PLATFORM_LIBRARY;
        } else if (!argument.empty() && argument != "no-class") {
            run.module = TestDriverModule(argument);
        }
        try {
            run.host.Start(run.module, argument == "no-class" ? GUID_NULL : kTestDriverClass);
            outcome = "started";
        } catch (const host::HostStartError& error) {
            outcome = error.what();
        }
    } else if (verb == "open") {
        try {
            std::unique_ptr<client::DeviceFile> opened = run.host.Open();
            run.CloseFile();
            run.file = std::move(opened);
            outcome = "opened";
        } catch (const client::DeviceError& error) {
            outcome = error.what();
        }
    } else if (verb == "read") {  // left pending
        client::DeviceFile* file = run.file.get();
        run.reads.push_back(std::async(std::launch::async, [file] { return file->Read(8); }));
        outcome = run.host.calls_.WaitForCalls("OnRead", run.reads.size()) ? "pending" : "";
    } else if (verb == "close") {  // and wait for its cleanup
        const std::size_t cleanups = run.host.calls_.Count("OnCleanupFile");
        run.CloseFile();
        outcome = run.host.calls_.WaitForCalls("OnCleanupFile", cleanups + 1) ? "cleaned up" : "";
    } else if (verb == "stop") {
        outcome = run.host.Stop() ? "clean" : "unclean";
    } else if (verb == "state") {  // the device's state file holds the rest of the step
        std::filesystem::create_directories(run.host.folder_.path() / "state");
        std::ofstream(host::DeviceState::StateFile(L"ROOT\\ZNTR_TEST\\0000",
                                                   run.host.folder_.path() / "state"))
            << argument;
    } else if (verb == "serve-again") {  // a second server at the host's socket
        try {
            host::DeviceServer(*run.host.host_, run.host.socket_, false, nullptr);
        } catch (const std::runtime_error& error) {
            outcome = error.what();
        }
    } else if (verb == "leave-socket") {  // as a host that died leaves it
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = Address(run.host.socket_);
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        ::close(fd);
    } else if (const auto command = protocol::FindHostCommand(verb, argument)) {
        const auto result = client::RunHostCommand(run.host.socket_, *command);
        if (command != protocol::HostCommand::kStatus) {
            return host::StatusText(result.status);
        }
        const auto status = nlohmann::json::parse(result.text);
        for (const char* field : {"pnp", "power", "lowPowerAction", "openFiles"}) {
            outcome +=
                (outcome.empty() ? "" : ", ") + std::string(field) + " " + status[field].dump();
        }
    }
    return outcome;
}

// Every step's outcome: the driver's calls, and its own.
Outcomes RunHostScenario(const std::vector<std::string>& steps) {
    Run run;
    Outcomes outcomes;
    for (const std::string& step : steps) {
        const std::size_t before = run.host.calls_.Calls().size();
        const std::size_t space = std::min(step.find(' '), step.size());
        outcomes.push_back(
            {"", Step(run, step.substr(0, space), step.substr(std::min(space + 1, step.size())))});
        outcomes.back()[0] = CallsSince(run.host.calls_, before);
        for (std::string& cell : outcomes.back()) {  // paths as MODULE and FOLDER
            for (const auto& [path, name] :
                 {std::pair{run.module, "MODULE"},
                  std::pair{run.host.folder_.path().string(), "FOLDER"}}) {
                for (std::size_t at; (at = cell.find(path)) != std::string::npos;) {
                    cell.replace(at, path.size(), name);
                }
            }
        }
    }
    return outcomes;
}

class Host : public ::testing::Test, public TestHost {
  protected:
    static std::string Control(client::DeviceFile& file, ULONG code, const std::string& input,
                               std::size_t output = 64) {
        const auto done = file.DeviceIoControl(code, Bytes(input.begin(), input.end()), output);
        return FAILED(done.status) ? host::StatusText(done.status)
                                   : std::string(done.data.begin(), done.data.end());
    }
};

TEST_F(Host, ServesRequestsAsTheDriverCompletesThemInParallel) {
    Start();
    // The futures go before the file, whose close ends whatever they still wait for.
    std::future<client::Completion> read;
    std::vector<std::future<std::string>> answers;
    auto file = Open();
    read = std::async(std::launch::async, [&] { return file->Read(8); });
    ASSERT_TRUE(calls_.WaitForCalls("OnRead", 1));
    // Four requests at once inside the driver, each answered to its caller while the read waits.
    calls_.CloseGate("OnDeviceIoControl");
    for (int i = 0; i < 4; ++i) {
        answers.push_back(std::async(std::launch::async, [&, i] {
            return Control(*file, kTestDriverEcho, std::to_string(i) + " cut", 1);
        }));
    }
    EXPECT_TRUE(calls_.WaitForCalls("OnDeviceIoControl", 4)) << "the callbacks run in parallel";
    calls_.OpenGate("OnDeviceIoControl");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(answers[i].get(), std::to_string(i)) << "cut to the output buffer";
    }
    EXPECT_EQ(Control(*file, kTestDriverCompleteTwice, ""), "") << "the first completion counts";
    ASSERT_TRUE(calls_.WaitForCalls("HostError", 1));
    EXPECT_NE(calls_.Calls("HostError")[0].find("completed a second time (status 0x80004005)"),
              std::string::npos);
    // A file's cleanup waits for the callbacks of its requests; the driver's completions of a
    // closed file's requests are dropped.
    calls_.CloseGate("OnDeviceIoControl");
    answers.push_back(std::async(std::launch::async, [&] { return Control(*file, 0, ""); }));
    ASSERT_TRUE(calls_.WaitForCalls("OnDeviceIoControl", 6));
    file->Close();
    EXPECT_EQ(answers.back().get(), "0x8007048F") << "ERROR_DEVICE_NOT_CONNECTED";
    EXPECT_EQ(read.get().status, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    const std::size_t opened = calls_.Calls().size();
    calls_.OpenGate("OnDeviceIoControl");
    ASSERT_TRUE(calls_.WaitForCalls("OnCleanupFile", 1));
    EXPECT_EQ(calls_.Calls().at(opened), "OnCleanupFile()") << "not before the callback returned";
    EXPECT_EQ(host_->Device().OutstandingRequests(), 1u) << "the read stays with the driver";
}

// Whether the host closes a connection that sends it the bytes, rather than wait for more.
bool ClosedAfter(const std::string& socket, const Bytes& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = Address(socket);
    const timeval patience{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::uint8_t buffer[4096];
    ssize_t received;
    while ((received = ::recv(fd, buffer, sizeof(buffer), 0)) > 0) {
    }
    const bool closed = received == 0 || errno == ECONNRESET;
    ::close(fd);
    return closed;
}

// Every malformed stream of frames.table closes its connection, and only that one.
TEST_F(Host, ProtocolDamageClosesItsOwnConnectionOnly) {
    Start();
    auto witness = Open();
    for (const TableRow& row : ReadTable(kWire / "frames.table").rows) {
        if (row[1].find("malformed") != std::string::npos) {
            EXPECT_TRUE(ClosedAfter(socket_, ReadBytes(kWire / "frames" / row[0]))) << row[0];
        }
    }
    EXPECT_EQ(Control(*witness, kTestDriverEcho, "unharmed"), "unharmed");
    EXPECT_EQ(client::RunHostCommand(socket_, protocol::HostCommand::kStop).status, S_OK);
    EXPECT_TRUE(WaitUntil([this] { return stops_ == 1; }, 30s)) << "a stop asked for";
}

// The driver module itself with the sensor class extension, fed by the hotspot simulator on
// loopback (the network map sends the driver's endpoints there; the guard stays closed), through
// the client library: a raw reader's file, once closed, no longer holds the device; a sensor
// client gets positions and states as events until the device is released, which ends them; the
// host stops cleanly (the module unloads); the sensor's unique ID is the same after a restart.
class RealModule : public Host {
  protected:
    void Start() {
        TestHost::Start(ZNTR_DRIVER_MODULE, CLSID_ZntrLocationDriver,
                        host::kDefaultDeviceInstanceId);
    }
    // Opens once the device takes a new file (not while a closed file's raw stream winds down).
    std::unique_ptr<client::DeviceFile> OpenWhenFree() {
        for (auto deadline = std::chrono::steady_clock::now() + 30s;;
             std::this_thread::sleep_for(20ms)) {
            try {
                return Open();
            } catch (const client::DeviceError&) {
                if (std::chrono::steady_clock::now() > deadline) {
                    throw;
                }
            }
        }
    }
    GUID UniqueId() {
        const auto file = OpenWhenFree();
        const PROPERTYKEY key[] = {SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID};
        const auto answer = client::SensorClient(*file).GetProperties(key);
        const auto* id = answer.Find(key[0]);
        return id != nullptr && std::holds_alternative<GUID>(*id) ? std::get<GUID>(*id) : GUID_NULL;
    }

    hotspot::HotspotSimulator hotspot_{[] {
        hotspot::SimulatorOptions options;
        options.answer.address = "192.168.1.1";
        options.answer.port = 10110;
        options.track.period_seconds = 0.05;
        return options;
    }()};
    platform::ScopedNetworkSettings network_{
        {"gps-hotspot.internal=192.168.1.1;192.168.1.1:80=127.0.0.1:" +
             std::to_string(hotspot_.http_port()) +
             ";192.168.1.1:10110=127.0.0.1:" + std::to_string(hotspot_.stream_port()),
         false}};
};

TEST_F(RealModule, ServesTheSensorUntilReleasedAndKeepsItsUniqueIdAcrossARestart) {
    Start();
    client::EventQueue events;  // outlives the client, whose event thread fills it to the end
    {
        const auto reader = OpenWhenFree();
        client::Completion raw;
        EXPECT_TRUE(WaitUntil([&] { return !(raw = reader->Read(64)).data.empty(); }, 30s));
    }
    const GUID id = UniqueId();  // opened once the raw reader's file has let the stream go
    EXPECT_FALSE(IsEqualGUID(id, GUID_NULL));
    const auto file = OpenWhenFree();
    client::SensorClient sensor(*file);
    try {
        sensor.Subscribe(events.Callback());
        ADD_FAILURE() << "subscribed without a connection";
    } catch (const client::SensorError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("subscribe: ERROR_INVALID_STATE", 0), 0u);
    }
    ASSERT_EQ(sensor.Connect(), S_OK);
    ASSERT_EQ(sensor.Subscribe(events.Callback()), S_OK);
    for (bool position = false; !position;) {  // the drive's positions arrive as events
        const std::optional<client::SensorEvent> event = events.Next(30s);
        ASSERT_TRUE(event.has_value() && event->kind != client::SensorEvent::Kind::kEnded);
        position = event->Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES) != nullptr;
    }
    EXPECT_EQ(client::RunHostCommand(socket_, protocol::HostCommand::kRelease).status, S_OK);
    std::optional<client::SensorEvent> last;
    while ((last = events.Next(30s)) && last->kind != client::SensorEvent::Kind::kEnded) {
    }
    EXPECT_TRUE(last.has_value()) << "the release ends the events";
    EXPECT_TRUE(Stop()) << "every request completed and the module unloaded";
    Start();
    EXPECT_TRUE(IsEqualGUID(UniqueId(), id));
    EXPECT_TRUE(Stop());
}

}  // namespace
}  // namespace zntr::test

int main(int argc, char** argv) {
    using namespace zntr::test;
    testing::InitGoogleTest(&argc, argv);
    auto decoded = [](auto decode, const char* folder) {
        return [=](const Table&, const TableRow& row) -> std::vector<std::string> {
            return {decode(ReadBytes(kWire / folder / row[0]))};
        };
    };
    RegisterTableRows("Frames", {kWire / "frames.table"}, 1, decoded(Frames, "frames"));
    RegisterTableRows("SensorRequests", {kWire / "requests.table"}, 1,
                      decoded(AsRequest, "sensor"));
    RegisterTableRows("SensorAnswers", {kWire / "answers.table"}, 1, decoded(AsAnswer, "sensor"));
    RegisterScenarioRows("HostSteps", "host.table", RunHostScenario);
    RegisterScenarioRows("ClassExtensionSteps", "class_extension.table", RunClassExtensionScenario);
    return RUN_ALL_TESTS();
}
