#include "framework_file.h"

#include <atomic>

namespace zntr::host {

using Microsoft::WRL::ComPtr;

namespace {
std::atomic<std::uint64_t> gNextSerial{1};
}  // namespace

FrameworkFile::FrameworkFile(IWDFDevice* device) : device_(device), serial_(gNextSerial++) {}

ComPtr<FrameworkFile> FrameworkFile::Create(IWDFDevice* device) {
    ComPtr<FrameworkFile> file;
    file.Attach(new FrameworkFile(device));
    return file;
}

void FrameworkFile::GetDevice(IWDFDevice** ppWdfDevice) {
    if (ppWdfDevice == nullptr) {
        return;
    }
    *ppWdfDevice = device_.Get();
    if (device_) {
        device_->AddRef();
    }
}

void FrameworkFile::DispatchStarted() {
    std::lock_guard<std::mutex> lock(dispatchMutex_);
    ++dispatching_;
}

void FrameworkFile::DispatchEnded() {
    std::lock_guard<std::mutex> lock(dispatchMutex_);
    if (--dispatching_ == 0) {
        dispatchEnded_.notify_all();
    }
}

void FrameworkFile::WaitUntilNoDispatch() {
    std::unique_lock<std::mutex> lock(dispatchMutex_);
    dispatchEnded_.wait(lock, [this] { return dispatching_ == 0; });
}

}  // namespace zntr::host
