// What a program does with the device once it has it open as a file: read the raw stream and
// send device I/O control requests. The host connection implements it; sensor requests are built
// on it. One channel is one open file of the device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "standin/windef.h"

namespace zntr::client {

// How a request was completed: the status the driver (or the framework) completed it with, and
// the bytes it delivered.
struct Completion {
    HRESULT status = S_OK;
    std::vector<std::uint8_t> data;
};

class DeviceChannel {
  public:
    virtual ~DeviceChannel() = default;

    // A read of at most maxBytes bytes. It returns when the driver completes it, which may be
    // much later: reads can stay pending.
    virtual Completion Read(std::size_t maxBytes) = 0;

    // A device I/O control request with the given input and an output buffer of outputBytes.
    // It returns when the driver completes it; the delivered bytes are at most outputBytes.
    virtual Completion DeviceIoControl(ULONG controlCode, std::span<const std::uint8_t> input,
                                       std::size_t outputBytes) = 0;

    // Requests may be made from several threads at once on one channel; each waits for its own
    // completion.
};

}  // namespace zntr::client
