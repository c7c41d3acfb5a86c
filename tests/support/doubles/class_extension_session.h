// The sensor class extension in process, as the framework host runs it (the thread that makes the
// session is in COM's multithreaded apartment while it lives): the real framework
// objects of host/framework (a device whose state stays in memory, its files, and device I/O
// control requests made as the host's server makes them), the class extension initialised with
// that device and a FakeSensorDriver, and the requests handed to ProcessIoControl as the driver's
// queue hands the sensor messages over. The host's error reports (a request completed twice, for
// one) are counted for the test to check.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "fake_sensor_driver.h"
#include "framework_file.h"
#include "host_report.h"
#include "standin/portabledevice.h"
#include "standin/wrl_client.h"

namespace zntr::test {

// One request handed over, and its completion.
class SentRequest {
  public:
    bool Completed() const;
    // Waits at most `timeout` for the completion; whether it came.
    bool WaitCompleted(std::chrono::milliseconds timeout) const;
    HRESULT Status() const;
    std::vector<std::uint8_t> Data() const;

  private:
    friend class ClassExtensionSession;
    mutable std::mutex mutex_;
    mutable std::condition_variable completed_;
    bool done_ = false;
    HRESULT status_ = S_OK;
    std::vector<std::uint8_t> data_;
};

class ClassExtensionSession {
  public:
    ClassExtensionSession();
    // Uninitialises the class extension (when the test has not) and puts the host's report sink
    // back.
    ~ClassExtensionSession();
    ClassExtensionSession(const ClassExtensionSession&) = delete;
    ClassExtensionSession& operator=(const ClassExtensionSession&) = delete;

    ISensorClassExtension& Extension() { return *extension_.Get(); }
    IWDFDevice* Device() { return device_.Get(); }
    FakeSensorDriver& Driver() { return *driver_.Get(); }
    // A client's file of the device; the driver's calls name it `name`.
    Microsoft::WRL::ComPtr<zntr::host::FrameworkFile> NewFile(const std::string& name);
    // Hands a request of the file (or of none) carrying the message to ProcessIoControl.
    std::shared_ptr<SentRequest> Send(zntr::host::FrameworkFile* file,
                                      std::span<const std::uint8_t> message,
                                      std::size_t outputBytes = 4096,
                                      ULONG controlCode = IOCTL_WPD_MESSAGE_READWRITE_ACCESS);
    // Posts as the driver's event thread does: a data event with the event ID and a latitude,
    // or a state change.
    HRESULT PostData(double latitude, const std::wstring& sensorId = kFakeSensorId);
    HRESULT PostState(SensorState state, const std::wstring& sensorId = kFakeSensorId);
    // Host errors reported since the session began.
    std::vector<std::string> HostErrors() const;

  private:
    Microsoft::WRL::ComPtr<IWDFDevice> device_;
    Microsoft::WRL::ComPtr<FakeSensorDriver> driver_;
    Microsoft::WRL::ComPtr<ISensorClassExtension> extension_;
    zntr::host::HostReportSink previousSink_;
    mutable std::mutex errorsMutex_;
    std::vector<std::string> errors_;
};

}  // namespace zntr::test
