// One open file of the framework device, made inside the host's own process: the framework
// file, its create request and its cleanup, and each read or device I/O control request handed
// to the device's queue, waited for until the driver completes it. This is what the Linux host's
// server does for a client connection, without the socket in between.
#pragma once

#include <memory>

#include "device_channel.h"
#include "framework_device.h"

namespace zntr::host {

class InProcessFile final : public client::DeviceChannel {
  public:
    // Opens the device: the create request must be completed with success.
    static HRESULT Open(FrameworkDevice& device, std::unique_ptr<InProcessFile>* file);
    // Cleans the file up (the driver's OnCleanupFile), and waits until the cleanup has run.
    ~InProcessFile() override;
    InProcessFile(const InProcessFile&) = delete;
    InProcessFile& operator=(const InProcessFile&) = delete;

    client::Completion Read(std::size_t maxBytes) override;
    client::Completion DeviceIoControl(ULONG controlCode, std::span<const std::uint8_t> input,
                                       std::size_t outputBytes) override;

  private:
    InProcessFile(FrameworkDevice& device, Microsoft::WRL::ComPtr<FrameworkFile> file)
        : device_(device), file_(std::move(file)) {}

    FrameworkDevice& device_;
    Microsoft::WRL::ComPtr<FrameworkFile> file_;
};

}  // namespace zntr::host
