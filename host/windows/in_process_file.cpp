#include "in_process_file.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

namespace zntr::host {
namespace {

using Microsoft::WRL::ComPtr;

// A completion handed over from the completing thread to the one that waits for it.
class Waiter {
  public:
    FrameworkRequest::CompletionHandler Handler() {
        return [this](const RequestResult& result) {
            std::lock_guard<std::mutex> lock(mutex_);
            result_ = result;
            done_.notify_all();
        };
    }
    RequestResult Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return result_.has_value(); });
        return *result_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::optional<RequestResult> result_;
};

client::Completion ToCompletion(RequestResult result) {
    return client::Completion{result.status, std::move(result.data)};
}

}  // namespace

HRESULT InProcessFile::Open(FrameworkDevice& device, std::unique_ptr<InProcessFile>* file) {
    ComPtr<FrameworkFile> framework = FrameworkFile::Create(&device);
    Waiter waiter;
    device.Submit(FrameworkRequest::CreateFileRequest(framework, waiter.Handler()));
    const HRESULT status = waiter.Wait().status;
    if (FAILED(status)) {
        return status;
    }
    file->reset(new InProcessFile(device, std::move(framework)));
    return S_OK;
}

InProcessFile::~InProcessFile() {
    std::mutex mutex;
    std::condition_variable cleaned;
    bool done = false;
    device_.CleanupFile(file_, [&] {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        cleaned.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    cleaned.wait(lock, [&] { return done; });
}

client::Completion InProcessFile::Read(std::size_t maxBytes) {
    Waiter waiter;
    device_.Submit(FrameworkRequest::ReadRequest(file_, maxBytes, waiter.Handler()));
    return ToCompletion(waiter.Wait());
}

client::Completion InProcessFile::DeviceIoControl(ULONG controlCode,
                                                  std::span<const std::uint8_t> input,
                                                  std::size_t outputBytes) {
    Waiter waiter;
    device_.Submit(FrameworkRequest::DeviceIoControlRequest(file_, controlCode, input, outputBytes,
                                                            waiter.Handler()));
    return ToCompletion(waiter.Wait());
}

}  // namespace zntr::host
