#include "framework_request.h"

#include <algorithm>
#include <string>
#include <utility>

#include "host_report.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

namespace {
std::atomic<std::uint64_t> gNextSerial{1};
}  // namespace

const char* RequestTypeName(WDF_REQUEST_TYPE type) {
    switch (type) {
        case WdfRequestCreate:
            return "create";
        case WdfRequestRead:
            return "read";
        case WdfRequestDeviceIoControl:
            return "device I/O control";
        default:
            return "request";
    }
}

FrameworkRequest::FrameworkRequest(WDF_REQUEST_TYPE type, ComPtr<FrameworkFile> file,
                                   CompletionHandler onComplete)
    : type_(type),
      file_(std::move(file)),
      serial_(gNextSerial++),
      onComplete_(std::move(onComplete)) {
    frameworkReference_ = this;
}

ComPtr<FrameworkRequest> FrameworkRequest::CreateFileRequest(ComPtr<FrameworkFile> file,
                                                             CompletionHandler onComplete) {
    ComPtr<FrameworkRequest> request;
    request.Attach(new FrameworkRequest(WdfRequestCreate, std::move(file), std::move(onComplete)));
    return request;
}

ComPtr<FrameworkRequest> FrameworkRequest::ReadRequest(ComPtr<FrameworkFile> file,
                                                       std::size_t length,
                                                       CompletionHandler onComplete) {
    ComPtr<FrameworkRequest> request;
    request.Attach(new FrameworkRequest(WdfRequestRead, std::move(file), std::move(onComplete)));
    request->readLength_ = length;
    request->outputLength_ = length;
    if (length > 0) {
        request->output_ = FrameworkMemory::Create(length);
    }
    return request;
}

ComPtr<FrameworkRequest> FrameworkRequest::DeviceIoControlRequest(
    ComPtr<FrameworkFile> file, ULONG controlCode, std::span<const std::uint8_t> input,
    std::size_t outputLength, CompletionHandler onComplete) {
    ComPtr<FrameworkRequest> request;
    request.Attach(
        new FrameworkRequest(WdfRequestDeviceIoControl, std::move(file), std::move(onComplete)));
    request->controlCode_ = controlCode;
    request->inputLength_ = input.size();
    request->outputLength_ = outputLength;
    if (!input.empty()) {
        request->input_ = FrameworkMemory::Create(input);
    }
    if (outputLength > 0) {
        request->output_ = FrameworkMemory::Create(outputLength);
    }
    return request;
}

void FrameworkRequest::CompleteWithInformation(HRESULT CompletionStatus, SIZE_T Information) {
    // A request is completed exactly once. A second completion is the driver's error: it is
    // reported, and the client, which already has its answer, never sees it.
    if (completed_.exchange(true, std::memory_order_acq_rel)) {
        ReportHostError(std::string(RequestTypeName(type_)) + " request " +
                        std::to_string(serial_) + " completed a second time (status " +
                        StatusText(CompletionStatus) + "); the second completion is ignored");
        return;
    }
    RequestResult result;
    result.status = CompletionStatus;
    result.information = Information;
    if (type_ != WdfRequestCreate && Information > outputLength_) {
        ReportHostError(std::string(RequestTypeName(type_)) + " request " +
                        std::to_string(serial_) + " completed with " + std::to_string(Information) +
                        " bytes for a buffer of " + std::to_string(outputLength_) +
                        "; cut to the buffer");
        result.information = outputLength_;
    }
    // As with buffered I/O on Windows, the output reaches the caller only with a success
    // status; a failure delivers no bytes whatever the information says.
    if (SUCCEEDED(CompletionStatus) && output_ && result.information > 0) {
        const auto bytes = output_->Bytes();
        result.data.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                              result.information, bytes.size())));
    }
    // The framework's own bookkeeping comes first, so that a client that has its answer never
    // finds the request still counted as the driver's.
    std::vector<std::function<void()>> observers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        observers.swap(observers_);
    }
    for (const auto& observer : observers) {
        observer();
    }
    if (onComplete_) {
        onComplete_(result);
    }
    // Last: dropping the framework's reference may end the request.
    Microsoft::WRL::ComPtr<FrameworkRequest> reference;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reference.Swap(frameworkReference_);
    }
}

void FrameworkRequest::Abandon() {
    // Released outside the lock, the framework's reference last: it may end the request.
    Microsoft::WRL::ComPtr<FrameworkRequest> reference;
    std::vector<std::function<void()>> observers;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!completed_.load(std::memory_order_acquire)) {
        reference.Swap(frameworkReference_);
        observers.swap(observers_);
    }
}

void FrameworkRequest::SetInformation(SIZE_T Information) {
    information_.store(Information, std::memory_order_relaxed);
}

void FrameworkRequest::Complete(HRESULT CompletionStatus) {
    CompleteWithInformation(CompletionStatus, information_.load(std::memory_order_relaxed));
}

void FrameworkRequest::GetReadParameters(SIZE_T* pSizeInBytes, LONGLONG* pullOffset,
                                         ULONG* pulKey) {
    if (pSizeInBytes != nullptr) {
        *pSizeInBytes = readLength_;
    }
    if (pullOffset != nullptr) {
        *pullOffset = 0;
    }
    if (pulKey != nullptr) {
        *pulKey = 0;
    }
}

void FrameworkRequest::GetDeviceIoControlParameters(ULONG* pControlCode, SIZE_T* pInBufferSize,
                                                    SIZE_T* pOutBufferSize) {
    if (pControlCode != nullptr) {
        *pControlCode = controlCode_;
    }
    if (pInBufferSize != nullptr) {
        *pInBufferSize = inputLength_;
    }
    if (pOutBufferSize != nullptr) {
        *pOutBufferSize = outputLength_;
    }
}

void FrameworkRequest::GetOutputMemory(IWDFMemory** ppWdfMemory) {
    if (ppWdfMemory == nullptr) {
        return;
    }
    *ppWdfMemory = output_.Get();
    if (output_) {
        output_->AddRef();
    }
}

void FrameworkRequest::GetInputMemory(IWDFMemory** ppWdfMemory) {
    if (ppWdfMemory == nullptr) {
        return;
    }
    *ppWdfMemory = input_.Get();
    if (input_) {
        input_->AddRef();
    }
}

void FrameworkRequest::GetFileObject(IWDFFile** ppFileObject) {
    if (ppFileObject == nullptr) {
        return;
    }
    *ppFileObject = file_.Get();
    if (file_) {
        file_->AddRef();
    }
}

void FrameworkRequest::AddCompletionObserver(std::function<void()> observer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!completed_.load(std::memory_order_acquire)) {
            observers_.push_back(std::move(observer));
            return;
        }
    }
    observer();
}

}  // namespace zntr::host
