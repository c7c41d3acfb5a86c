// A framework host serving the test driver module on a socket of the test's own, with the
// debugger output captured from before the module loads, and helpers to talk to it.
#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_file.h"
#include "device_server.h"
#include "framework_host.h"
#include "host_report.h"
#include "loopback_tools.h"
#include "standin/control.h"
#include "test_driver_codes.h"

namespace zntr::test {

inline std::string TestModule(const std::string& name = "test_driver") {
    return std::string(ZNTR_TEST_MODULES) + "/" + name + ".so";
}

inline std::vector<std::uint8_t> Text(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Polls a condition every 5 ms for up to 5 s.
inline bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class HostFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        previousSink_ =
            host::SetHostReportSink([this](host::ReportKind kind, std::string_view message) {
                std::lock_guard<std::mutex> lock(reportMutex_);
                (kind == host::ReportKind::kError ? errors_ : notices_).emplace_back(message);
            });
    }
    void TearDown() override {
        StopHost();
        host::SetHostReportSink(std::move(previousSink_));
    }

    host::FrameworkHostOptions Options(const std::wstring& instanceId) {
        host::FrameworkHostOptions options;
        options.modulePath = TestModule();
        options.driverClass = test_driver::kDriverClass;
        options.deviceInstanceId = instanceId;
        return options;
    }

    void StartHost(const std::wstring& instanceId = L"ROOT\\ZNTR_TEST\\0000") {
        StartHost(Options(instanceId));
    }
    void StartHost(host::FrameworkHostOptions options) {
        host_ = host::FrameworkHost::Start(std::move(options));
        server_ = std::make_unique<host::DeviceServer>(*host_, socket_, false,
                                                       [this] { ++stopRequests_; });
    }
    // The orderly stop; what FrameworkHost::Stop answered.
    bool StopHost() {
        bool clean = true;
        if (server_) {
            server_->Stop();
            server_.reset();
        }
        if (host_) {
            clean = host_->Stop();
            host_.reset();
        }
        return clean;
    }

    std::unique_ptr<client::DeviceFile> Open() { return client::DeviceFile::Open(socket_); }

    // Opens once the earlier file's cleanup has let the driver take a new one.
    std::unique_ptr<client::DeviceFile> OpenWhenFree() {
        std::unique_ptr<client::DeviceFile> file;
        Eventually([&] {
            try {
                file = Open();
                return true;
            } catch (const client::DeviceError&) {
                return false;
            }
        });
        return file;
    }

    static client::Completion Control(client::DeviceFile& file, ULONG code,
                                      const std::string& input = "", std::size_t output = 4096) {
        return file.DeviceIoControl(code, Text(input), output);
    }
    // The test driver's callback log.
    static std::string CallbackLog(client::DeviceFile& file) {
        return Text(Control(file, test_driver::kCallbackLog, "", 65536).data);
    }

    // The test driver's lines of the debugger output so far.
    std::vector<std::string> DriverLines() {
        for (const std::string& text : capture_.Take()) {
            if (text.rfind("test driver: ", 0) == 0) {
                lines_.push_back(text.substr(13, text.size() - 14));
            } else if (text.rfind("component ", 0) == 0) {
                lines_.push_back(text);
            }
        }
        return lines_;
    }
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> lock(reportMutex_);
        return errors_;
    }

    TempFolder folder_;
    const std::string socket_ = folder_.path() + "/host.sock";
    platform::DebugOutputCapture capture_;
    std::unique_ptr<host::FrameworkHost> host_;
    std::unique_ptr<host::DeviceServer> server_;
    std::atomic<int> stopRequests_{0};

  private:
    host::HostReportSink previousSink_;
    std::mutex reportMutex_;
    std::vector<std::string> errors_;
    std::vector<std::string> notices_;
    std::vector<std::string> lines_;
};

// A connection to the host that speaks the wire format by hand, for what a well-behaved client
// never sends.
class RawConnection {
  public:
    explicit RawConnection(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        connected_ =
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
        timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    }
    ~RawConnection() { ::close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    void SendBytes(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void Send(const protocol::Message& message) { SendBytes(protocol::EncodeFrame(message)); }
    // The next message, or nothing when the host closed the connection.
    std::optional<protocol::Message> Receive() {
        protocol::Message message;
        while (reader_.Next(message, nullptr) != protocol::FrameReader::Result::kMessage) {
            std::uint8_t buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                return std::nullopt;
            }
            reader_.Append(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
        }
        return message;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    protocol::FrameReader reader_;
};

}  // namespace zntr::test
