// A device channel of the tests' own: one open file of the device in this process. Each device
// I/O control request becomes a framework request handed to the class extension, as the host's
// queue hands the driver's WPD messages over, and the call returns when the request is completed.
// Closing the channel is the file's cleanup.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

// HRESULT first: device_channel.h uses it without declaring it.
#include "standin/winerror.h"

#include "device_channel.h"
#include "fake_framework.h"
#include "standin/sensorsclassextension.h"

namespace zntr::test {

class InProcessChannel final : public zntr::client::DeviceChannel {
  public:
    explicit InProcessChannel(ISensorClassExtension* extension)
        : extension_(extension), file_(FakeFile::Make()) {}
    ~InProcessChannel() override { Close(); }

    // Raw reads belong to the driver's queue, which this channel does not reach.
    zntr::client::Completion Read(std::size_t) override { return {E_NOTIMPL, {}}; }

    zntr::client::Completion DeviceIoControl(ULONG controlCode, std::span<const std::uint8_t> input,
                                             std::size_t outputBytes) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            outputSizes_.push_back(outputBytes);
        }
        if (closed_) {
            return {E_HANDLE, {}};  // the file is closed
        }
        ComPtr<FakeRequest> request =
            FakeRequest::Make(file_.Get(), controlCode, input, outputBytes);
        extension_->ProcessIoControl(request.Get());
        // A test that loses a request fails here rather than hanging.
        if (!request->WaitCompleted(std::chrono::seconds(20))) {
            ADD_FAILURE() << "a request was never completed";
            return {HRESULT_FROM_WIN32(ERROR_TIMEOUT), {}};
        }
        return {request->Status(), request->Data()};
    }

    // The program closes the file (or dies): the framework cleans it up.
    void Close() {
        if (!closed_.exchange(true)) {
            extension_->CleanupFile(file_.Get());
        }
    }

    IWDFFile* File() const { return file_.Get(); }
    // The output buffer sizes of the requests made so far.
    std::vector<std::size_t> OutputSizes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return outputSizes_;
    }

  private:
    ISensorClassExtension* extension_;  // not owned
    ComPtr<FakeFile> file_;
    std::atomic<bool> closed_{false};
    std::mutex mutex_;
    std::vector<std::size_t> outputSizes_;
};

// A channel that answers every request itself with the given completion, for what a host that
// misbehaves or went away looks like.
class CannedChannel final : public zntr::client::DeviceChannel {
  public:
    explicit CannedChannel(zntr::client::Completion completion)
        : completion_(std::move(completion)) {}
    zntr::client::Completion Read(std::size_t) override { return completion_; }
    zntr::client::Completion DeviceIoControl(ULONG, std::span<const std::uint8_t>,
                                             std::size_t) override {
        return completion_;
    }

  private:
    zntr::client::Completion completion_;
};

}  // namespace zntr::test
