// The device opened as a file through a running host: a DeviceChannel over one connection to
// the host's socket (host/protocol.md). Reads and device I/O control requests may come from
// several threads at once; each waits for its own completion, which may come in any order and
// much later (the driver holds reads until data arrives). Closing the file (or the program's
// end) makes the host clean the file up; a call still waiting then returns
// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), as does every call once the host has gone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// HRESULT first: device_channel.h uses it without declaring it.
#include "standin/winerror.h"

#include "default_socket.h"
#include "device_channel.h"
#include "device_error.h"
#include "host_socket.h"

namespace zntr::client {

class DeviceFile final : public DeviceChannel {
  public:
    // Opens the device at the host's socket. Throws DeviceError: kHostNotRunning when no host
    // serves there, kOpenRefused with the status when the device refuses the open (for example
    // STG_E_ACCESSDENIED while another program reads the raw stream).
    static std::unique_ptr<DeviceFile> Open(const std::string& socketPath = DefaultSocketPath(),
                                            const std::string& fileName = "");
    ~DeviceFile() override;
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    // At most 1 MiB per read or buffer (E_INVALIDARG beyond, without asking the host).
    Completion Read(std::size_t maxBytes) override;
    Completion DeviceIoControl(ULONG controlCode, std::span<const std::uint8_t> input,
                               std::size_t outputBytes) override;

    // Ends the connection; the host cleans the file up. Calls waiting in other threads return.
    void Close();

  private:
    struct Waiter {
        bool done = false;
        Completion completion;
    };

    explicit DeviceFile(const std::string& socketPath);
    Completion Transact(const zntr::protocol::Message& message, std::uint64_t id);
    void ReceiveLoop();
    void Lose(HRESULT status);

    HostSocket socket_;
    mutable std::mutex mutex_;
    std::condition_variable completed_;
    std::map<std::uint64_t, std::shared_ptr<Waiter>> waiting_;
    std::uint64_t nextId_ = 1;
    bool lost_ = false;
    std::thread receiver_;
    std::once_flag closed_;
};

}  // namespace zntr::client
