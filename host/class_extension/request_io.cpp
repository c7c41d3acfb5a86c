#include "request_io.h"

#include <cstring>

namespace zntr::host {

using Microsoft::WRL::ComPtr;
namespace message = zntr::sensor_message;

namespace {

// The output buffer, and its size; null when the request has none.
std::uint8_t* OutputOf(IWDFIoRequest* request, ComPtr<IWDFMemory>* holder, std::size_t* size) {
    *size = 0;
    request->GetOutputMemory(holder->ReleaseAndGetAddressOf());
    if (!*holder) {
        return nullptr;
    }
    SIZE_T bytes = 0;
    void* buffer = (*holder)->GetDataBuffer(&bytes);
    if (buffer == nullptr) {
        return nullptr;
    }
    *size = bytes;
    return static_cast<std::uint8_t*>(buffer);
}

void Write(IWDFIoRequest* request, const std::vector<std::uint8_t>& bytes, std::uint8_t* output) {
    if (!bytes.empty()) {
        std::memcpy(output, bytes.data(), bytes.size());
    }
    request->CompleteWithInformation(S_OK, bytes.size());
}

}  // namespace

std::span<const std::uint8_t> InputOf(IWDFIoRequest* request, ComPtr<IWDFMemory>* holder) {
    request->GetInputMemory(holder->ReleaseAndGetAddressOf());
    if (!*holder) {
        return {};
    }
    SIZE_T bytes = 0;
    const void* buffer = (*holder)->GetDataBuffer(&bytes);
    if (buffer == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(buffer), bytes};
}

std::size_t OutputCapacityOf(IWDFIoRequest* request) {
    ComPtr<IWDFMemory> memory;
    std::size_t size = 0;
    OutputOf(request, &memory, &size);
    return size;
}

void CompleteWithAnswer(IWDFIoRequest* request, const std::vector<std::uint8_t>& answer) {
    ComPtr<IWDFMemory> memory;
    std::size_t capacity = 0;
    std::uint8_t* output = OutputOf(request, &memory, &capacity);
    if (answer.size() <= capacity) {
        Write(request, answer, output);
        return;
    }
    message::Header header;
    if (capacity >= message::kHeaderBytes && SUCCEEDED(message::DecodeHeader(answer, &header))) {
        Write(request,
              message::EncodeBufferTooSmall(
                  static_cast<message::Command>(header.command),
                  static_cast<std::uint32_t>(answer.size() - message::kHeaderBytes)),
              output);
        return;
    }
    request->CompleteWithInformation(message::kStatusBufferTooSmall, 0);
}

void CompleteWithRefusal(IWDFIoRequest* request, HRESULT status) {
    request->CompleteWithInformation(status, 0);
}

}  // namespace zntr::host
