// The host serving the test driver to clients: requests in parallel, pending and completed out
// of order, a refused open, files cleaned up when their client closes or is killed, malformed
// messages, the power and Plug and Play commands, and the errors a client is given.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "host_commands.h"
#include "host_control.h"
#include "host_fixture.h"
#include "host_status.h"

namespace {

using namespace std::chrono_literals;
using zntr::client::DeviceError;
using zntr::client::DeviceFile;
using zntr::client::RunHostCommand;
using zntr::protocol::HostCommand;
using zntr::test::Eventually;
using zntr::test::HostFixture;
using zntr::test::RawConnection;
using zntr::test::Text;
namespace codes = zntr::test_driver;

using HostServer = HostFixture;

std::uint32_t Number(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof(value)));
    return value;
}

TEST_F(HostServer, CompletesRequestsInTheOrderTheDriverDoes) {
    StartHost();
    auto file = Open();
    zntr::client::Completion read;
    std::thread reader([&] { read = file->Read(5); });
    ASSERT_TRUE(Eventually([this] { return host_->Device().OutstandingRequests() == 1; }));

    // A request made after the read comes back first: the read is still with the driver.
    const auto echo = Control(*file, codes::kEcho, "hello", 3);
    EXPECT_EQ(echo.status, S_OK);
    EXPECT_EQ(Text(echo.data), "hel") << "cut to the output buffer";
    EXPECT_EQ(host_->Device().OutstandingRequests(), 1u);

    EXPECT_EQ(Control(*file, codes::kCompleteReads, "$GPGGA,1").status, S_OK);
    reader.join();
    EXPECT_EQ(read.status, S_OK);
    EXPECT_EQ(Text(read.data), "$GPGG") << "as much as the read asked for";
    EXPECT_EQ(Control(*file, 0x00220FFC).status, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
}

TEST_F(HostServer, HeldRequestsOfSeveralThreadsEachReturnToTheirCaller) {
    StartHost();
    auto file = Open();
    std::vector<std::string> answers(3);
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            answers[i] = Text(Control(*file, codes::kHold, "tag" + std::to_string(i), 8).data);
        });
    }
    ASSERT_TRUE(Eventually([this] { return host_->Device().OutstandingRequests() == 3; }));
    EXPECT_EQ(Number(Control(*file, codes::kReleaseHeld).data), 3u);
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answers, (std::vector<std::string>{"tag0", "tag1", "tag2"}));
}

TEST_F(HostServer, CallbacksRunInParallelUnlessTheDriverAsksForDeviceLevelLocking) {
    struct Case {
        const wchar_t* instanceId;
        bool parallel;
    };
    for (const Case& c :
         {Case{L"ROOT\\ZNTR_TEST\\0000", true}, Case{L"ROOT\\SERIAL\\0000", false}}) {
        SCOPED_TRACE(c.parallel ? "locking constraint None" : "WdfDeviceLevel");
        StartHost(c.instanceId);
        auto file = Open();
        std::vector<std::thread> sleepers;
        const std::uint32_t ms = 300;
        const std::string input(reinterpret_cast<const char*>(&ms), sizeof(ms));
        const auto started = std::chrono::steady_clock::now();
        for (int i = 0; i < 4; ++i) {
            sleepers.emplace_back([&] { Control(*file, codes::kSleep, input, 0); });
        }
        for (auto& sleeper : sleepers) {
            sleeper.join();
        }
        const auto took = std::chrono::steady_clock::now() - started;
        const std::uint32_t most = Number(Control(*file, codes::kMaxConcurrency).data);
        if (c.parallel) {
            EXPECT_GE(most, 2u);
            EXPECT_LT(took, 1200ms) << "four sleeps of 300 ms overlapped";
        } else {
            EXPECT_EQ(most, 1u);
            EXPECT_GE(took, 1200ms);
        }
        file.reset();
        EXPECT_TRUE(StopHost());
    }
}

TEST_F(HostServer, ASecondOpenIsRefusedWithTheDriversStatusUntilTheFirstIsClosed) {
    StartHost();
    auto first = Open();
    try {
        Open();
        FAIL() << "a second open succeeded";
    } catch (const DeviceError& error) {
        EXPECT_EQ(error.GetKind(), DeviceError::Kind::kOpenRefused);
        EXPECT_EQ(error.Status(), STG_E_ACCESSDENIED);
        EXPECT_NE(std::string(error.what()).find("STG_E_ACCESSDENIED (0x80030005)"),
                  std::string::npos)
            << error.what();
    }
    first.reset();
    auto again = OpenWhenFree();
    ASSERT_TRUE(again) << "the first file's cleanup freed the device";
    EXPECT_NE(CallbackLog(*again).find("OnCreateFile\nOnCreateFile refused\nOnCleanupFile\n"
                                       "OnCreateFile\n"),
              std::string::npos)
        << CallbackLog(*again);
}

TEST_F(HostServer, CompletionsOfAClosedFileAreDropped) {
    StartHost();
    auto first = Open();
    std::thread holder([&] {
        EXPECT_EQ(first->DeviceIoControl(codes::kHold, Text("mine"), 8).status,
                  HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    });
    ASSERT_TRUE(Eventually([this] { return host_->Device().OutstandingRequests() == 1; }));
    first->Close();
    holder.join();
    auto second = OpenWhenFree();
    ASSERT_TRUE(second);
    const auto released = Control(*second, codes::kReleaseHeld);
    EXPECT_EQ(released.status, S_OK);
    EXPECT_EQ(Number(released.data), 1u) << "the closed file's request was still with the driver\n"
                                         << CallbackLog(*second);
    EXPECT_EQ(host_->Device().OutstandingRequests(), 0u);
    EXPECT_EQ(Text(Control(*second, codes::kEcho, "still here").data), "still here");
    EXPECT_EQ(server_->OpenFiles(), 1u);
}

TEST_F(HostServer, AClientKilledWithSigkillHasItsFileCleanedUp) {
    StartHost();
    const std::string output = folder_.path() + "/client.out";
    auto client = zntr::test::ChildProcess::Start({ZNTR_TEST_CLIENT, socket_}, output);
    ASSERT_TRUE(client);
    ASSERT_TRUE(Eventually([&] {
        std::ifstream in(output);
        std::stringstream text;
        text << in.rdbuf();
        return text.str().find("opened") != std::string::npos;
    }));
    ASSERT_TRUE(Eventually([this] { return host_->Device().OutstandingRequests() == 1; }));
    ::kill(client->pid(), SIGKILL);

    auto file = OpenWhenFree();
    ASSERT_TRUE(file) << "the dead client's file was cleaned up";
    EXPECT_NE(CallbackLog(*file).find("OnCleanupFile"), std::string::npos);
    // Its read stays with the driver until the driver completes it; the completion goes nowhere.
    EXPECT_EQ(host_->Device().OutstandingRequests(), 1u);
    EXPECT_EQ(Control(*file, codes::kCompleteReads, "data").status, S_OK);
    EXPECT_EQ(host_->Device().OutstandingRequests(), 0u);
}

TEST_F(HostServer, AMalformedMessageClosesItsConnectionOnly) {
    StartHost();
    auto file = Open();
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"an empty frame", {0, 0, 0, 0}},
        {"a frame too long to wait for", {0xFF, 0xFF, 0xFF, 0x7F}},
        {"a read before any open", zntr::protocol::EncodeFrame(zntr::protocol::ReadMessage{1, 8})},
        {"an answer sent to the host",
         zntr::protocol::EncodeFrame(zntr::protocol::OpenedMessage{S_OK})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        RawConnection raw(socket_);
        ASSERT_TRUE(raw.connected());
        raw.SendBytes(c.bytes);
        EXPECT_FALSE(raw.Receive()) << "closed by the host";
    }
    EXPECT_EQ(Text(Control(*file, codes::kEcho, "unharmed").data), "unharmed");
}

TEST_F(HostServer, ARequestIdInUseClosesTheFileAndCleansItUp) {
    StartHost();
    {
        RawConnection raw(socket_);
        raw.Send(zntr::protocol::OpenMessage{});
        const auto opened = raw.Receive();
        ASSERT_TRUE(opened);
        EXPECT_EQ(std::get<zntr::protocol::OpenedMessage>(*opened).status, S_OK);
        raw.Send(zntr::protocol::ReadMessage{5, 8});
        raw.Send(zntr::protocol::ReadMessage{5, 8});
        EXPECT_FALSE(raw.Receive()) << "the second read reuses a pending id";
    }
    auto file = OpenWhenFree();
    ASSERT_TRUE(file);
    EXPECT_NE(CallbackLog(*file).find("OnCleanupFile"), std::string::npos);
}

TEST_F(HostServer, AClientOfAnotherProtocolVersionIsToldSo) {
    StartHost();
    RawConnection raw(socket_);
    raw.Send(zntr::protocol::OpenMessage{2, ""});
    const auto opened = raw.Receive();
    ASSERT_TRUE(opened);
    EXPECT_EQ(std::get<zntr::protocol::OpenedMessage>(*opened).status,
              HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH));
    EXPECT_FALSE(raw.Receive());
    auto file = Open();
    EXPECT_EQ(CallbackLog(*file).find("OnCreateFile refused"), std::string::npos)
        << "the driver never saw the open";
}

TEST_F(HostServer, PowerAndPlugAndPlayCommandsReachTheDriver) {
    StartHost();
    auto file = Open();
    struct Step {
        HostCommand command;
        HRESULT status;
        const char* logged;  // the driver's log line, or "" for none
    };
    const Step steps[] = {
        {HostCommand::kPowerSleep, S_OK, "OnD0Exit target=4 action=2"},
        {HostCommand::kPowerSleep, HRESULT_FROM_WIN32(ERROR_INVALID_STATE), ""},
        {HostCommand::kPowerWake, S_OK, "OnD0Entry previous=4 action=2"},
        {HostCommand::kPowerHibernate, S_OK, "OnD0Exit target=4 action=3"},
        {HostCommand::kPowerWake, S_OK, "OnD0Entry previous=4 action=3"},
        {HostCommand::kPowerWake, HRESULT_FROM_WIN32(ERROR_INVALID_STATE), ""},
        {HostCommand::kQueryRemove, S_OK, "OnQueryRemove"},
        {HostCommand::kQueryStop, S_OK, "OnQueryStop"},
    };
    for (const Step& step : steps) {
        const auto& name = zntr::protocol::NameOf(step.command);
        SCOPED_TRACE(std::string(name.group) + " " + std::string(name.verb));
        const std::size_t before = CallbackLog(*file).size();
        EXPECT_EQ(RunHostCommand(socket_, step.command).status, step.status);
        const std::string added = CallbackLog(*file).substr(before);
        EXPECT_EQ(added, step.logged[0] == '\0' ? "" : std::string(step.logged) + "\n");
    }
    const auto status = nlohmann::json::parse(RunHostCommand(socket_, HostCommand::kStatus).text);
    EXPECT_EQ(status["pnp"], "started");
    EXPECT_EQ(status["power"], "D0");
    EXPECT_EQ(status["openFiles"], 1);
    EXPECT_EQ(status["device"], "ROOT\\ZNTR_TEST\\0000");
}

TEST_F(HostServer, AReleasedDeviceTakesNoNewOpensOrCommands) {
    StartHost();
    auto file = Open();
    ASSERT_EQ(RunHostCommand(socket_, HostCommand::kPowerSleep).status, S_OK);
    const std::size_t before = CallbackLog(*file).size();
    EXPECT_EQ(RunHostCommand(socket_, HostCommand::kRelease).status, S_OK);
    EXPECT_EQ(CallbackLog(*file).substr(before), "OnReleaseHardware\n") << "already out of D0";
    EXPECT_EQ(RunHostCommand(socket_, HostCommand::kRelease).status,
              HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED));
    EXPECT_EQ(RunHostCommand(socket_, HostCommand::kPowerWake).status,
              HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED));
    file.reset();
    ASSERT_TRUE(Eventually([this] { return server_->OpenFiles() == 0; }));
    try {
        Open();
        FAIL() << "a released device was opened";
    } catch (const DeviceError& error) {
        EXPECT_EQ(error.Status(), HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED));
    }
    const auto status = nlohmann::json::parse(RunHostCommand(socket_, HostCommand::kStatus).text);
    EXPECT_EQ(status["pnp"], "removed");
    EXPECT_TRUE(StopHost()) << "the host stops cleanly after a release";
    const auto lines = DriverLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "OnReleaseHardware"), 1);
}

TEST_F(HostServer, SurpriseRemovalIsFollowedByD0ExitAndRelease) {
    StartHost();
    auto file = Open();
    const std::size_t before = CallbackLog(*file).size();
    EXPECT_EQ(RunHostCommand(socket_, HostCommand::kSurpriseRemove).status, S_OK);
    EXPECT_EQ(CallbackLog(*file).substr(before),
              "OnSurpriseRemoval\nOnD0Exit target=5 action=0\nOnReleaseHardware\n");
}

TEST_F(HostServer, TheStopCommandAsksTheHostToStop) {
    StartHost();
    const auto result = RunHostCommand(socket_, HostCommand::kStop);
    EXPECT_EQ(result.status, S_OK);
    EXPECT_TRUE(Eventually([this] { return stopRequests_ == 1; }));
}

TEST_F(HostServer, ADriverCompletingTwiceIsReportedAndTheClientSeesTheFirst) {
    StartHost();
    auto file = Open();
    EXPECT_EQ(Control(*file, codes::kCompleteTwice).status, S_OK);
    EXPECT_EQ(Text(Control(*file, codes::kEcho, "next").data), "next");
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("completed a second time (status 0x80004005)"), std::string::npos)
        << errors[0];
}

TEST_F(HostServer, TheDriverLearnsWhichProcessMadeARequest) {
    StartHost();
    auto file = Open();
    EXPECT_EQ(Number(Control(*file, codes::kRequestor).data),
              static_cast<std::uint32_t>(::getpid()));
}

TEST_F(HostServer, AClientIsToldPlainlyWhenNoHostServes) {
    struct Case {
        const char* legend;
        bool leaveSocket;
        const char* message;
    };
    for (const Case& c : {Case{"no socket", false, "does not exist (start one with `zntr host`)"},
                          Case{"a socket left by a host that ended", true,
                               "the socket is left from a host that has ended"}}) {
        SCOPED_TRACE(c.legend);
        const std::string path = folder_.path() + "/gone.sock";
        if (c.leaveSocket) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
            ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
            ::close(fd);
        }
        for (const bool control : {false, true}) {
            try {
                if (control) {
                    RunHostCommand(path, HostCommand::kStatus);
                } else {
                    DeviceFile::Open(path);
                }
                FAIL() << "reached a host";
            } catch (const DeviceError& error) {
                EXPECT_EQ(error.GetKind(), DeviceError::Kind::kHostNotRunning);
                EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                    << error.what();
            }
        }
    }
}

TEST_F(HostServer, TakesOverALeftSocketButNeverARunningHosts) {
    StartHost();
    try {
        zntr::host::DeviceServer second(*host_, socket_, false, nullptr);
        FAIL() << "two servers at one socket";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("a host is already serving at"), std::string::npos)
            << error.what();
    }
    auto file = Open();
    EXPECT_EQ(Text(Control(*file, codes::kEcho, "first host").data), "first host");
}

TEST_F(HostServer, APrivateFolderMustBeThisUsersAlone) {
    StartHost();
    const std::string shared = folder_.path() + "/shared";
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    EXPECT_THROW((zntr::host::DeviceServer{*host_, shared + "/host.sock", true, nullptr}),
                 std::runtime_error);
    // A folder the server makes itself is private.
    const std::string made = folder_.path() + "/made/here/host.sock";
    zntr::host::DeviceServer server(*host_, made, true, nullptr);
    struct stat info {};
    ASSERT_EQ(::stat((folder_.path() + "/made/here").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

}  // namespace
