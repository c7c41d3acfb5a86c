// The soak's programs at the device, in this process: sensor sessions (a file of the device, a
// sensor connection and, mostly, an event subscription that counts what arrives) and raw
// readers (a file of the device read in a loop on a thread of its own).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "device_file.h"
#include "sensor_client.h"

namespace zntr::soak {

class SensorSession {
  public:
    // Opens the device, connects to the sensor and, when asked, subscribes. Throws
    // client::DeviceError when the open is refused, client::SensorError when a request fails.
    SensorSession(const std::string& socket, bool subscribe);
    // Leaves abruptly (see Leave) if Leave was not called.
    ~SensorSession();
    SensorSession(const SensorSession&) = delete;
    SensorSession& operator=(const SensorSession&) = delete;

    // Gracefully: unsubscribe, disconnect, close the file. Abruptly: close the file only, as a
    // program that dies does, and leave the rest to the host's file cleanup. Throws
    // client::SensorError when a graceful step fails.
    void Leave(bool graceful);

    bool subscribed() const { return subscribed_; }
    std::int64_t DataEvents() const { return dataEvents_.load(); }
    std::int64_t StateEvents() const { return stateEvents_.load(); }
    // Whether the events ended (the subscription, connection or device went), and the status.
    bool Ended() const { return ended_.load(); }
    HRESULT EndStatus() const { return endStatus_.load(); }

  private:
    void OnEvent(const client::SensorEvent& event);

    // Declared first so that it goes last: the client uses it until it is gone.
    std::unique_ptr<client::DeviceFile> file_;
    std::unique_ptr<client::SensorClient> client_;
    const bool subscribed_;
    std::atomic<std::int64_t> dataEvents_{0};
    std::atomic<std::int64_t> stateEvents_{0};
    std::atomic<bool> ended_{false};
    std::atomic<HRESULT> endStatus_{S_OK};
};

class RawReader {
  public:
    // Opens the device as a file and starts reading: the first read starts the raw stream.
    // Throws client::DeviceError when the open is refused.
    explicit RawReader(const std::string& socket);
    // Closes the file and waits for the reading thread.
    ~RawReader();
    RawReader(const RawReader&) = delete;
    RawReader& operator=(const RawReader&) = delete;

    std::int64_t Bytes() const { return bytes_.load(); }
    // Reads that came back with a failure status before the file was closed.
    std::int64_t FailedReads() const { return failedReads_.load(); }

  private:
    void ReadLoop();

    std::unique_ptr<client::DeviceFile> file_;
    std::atomic<bool> closing_{false};
    std::atomic<std::int64_t> bytes_{0};
    std::atomic<std::int64_t> failedReads_{0};
    std::thread reader_;
};

}  // namespace zntr::soak
