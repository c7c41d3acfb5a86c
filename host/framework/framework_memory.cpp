#include "framework_memory.h"

#include <cstring>
#include <new>

#include "host_report.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

ComPtr<FrameworkMemory> FrameworkMemory::Create(std::size_t size) {
    ComPtr<FrameworkMemory> memory;
    memory.Attach(new FrameworkMemory());
    memory->owned_.assign(size, 0);
    memory->data_ = memory->owned_.data();
    memory->size_ = size;
    return memory;
}

ComPtr<FrameworkMemory> FrameworkMemory::Create(std::span<const std::uint8_t> bytes) {
    ComPtr<FrameworkMemory> memory;
    memory.Attach(new FrameworkMemory());
    memory->owned_.assign(bytes.begin(), bytes.end());
    memory->data_ = memory->owned_.data();
    memory->size_ = bytes.size();
    return memory;
}

ComPtr<FrameworkMemory> FrameworkMemory::CreatePreallocated(void* buffer, std::size_t size) {
    ComPtr<FrameworkMemory> memory;
    memory.Attach(new FrameworkMemory());
    memory->data_ = static_cast<std::uint8_t*>(buffer);
    memory->size_ = size;
    memory->preallocated_ = true;
    return memory;
}

HRESULT FrameworkMemory::CopyFromMemory(IWDFMemory* pSourceMemory,
                                        PWDFMEMORY_OFFSET pSourceOffset) {
    if (pSourceMemory == nullptr) {
        return E_INVALIDARG;
    }
    SIZE_T sourceSize = 0;
    const auto* source =
        static_cast<const std::uint8_t*>(pSourceMemory->GetDataBuffer(&sourceSize));
    SIZE_T offset = 0;
    SIZE_T length = sourceSize;
    if (pSourceOffset != nullptr) {
        offset = pSourceOffset->BufferOffset;
        length = pSourceOffset->BufferLength;
    }
    if (offset > sourceSize || length > sourceSize - offset || length > size_) {
        return E_INVALIDARG;
    }
    if (length > 0) {
        std::memmove(data_, source + offset, length);
    }
    return S_OK;
}

HRESULT FrameworkMemory::CopyToBuffer(SIZE_T SourceOffset, void* DestinationBuffer,
                                      SIZE_T NumOfBytesToCopyTo) {
    if (DestinationBuffer == nullptr && NumOfBytesToCopyTo > 0) {
        return E_INVALIDARG;
    }
    if (SourceOffset > size_ || NumOfBytesToCopyTo > size_ - SourceOffset) {
        return E_INVALIDARG;
    }
    if (NumOfBytesToCopyTo > 0) {
        std::memmove(DestinationBuffer, data_ + SourceOffset, NumOfBytesToCopyTo);
    }
    return S_OK;
}

HRESULT FrameworkMemory::CopyFromBuffer(SIZE_T DestOffset, void* SourceBuffer,
                                        SIZE_T NumOfBytesToCopyFrom) {
    if (SourceBuffer == nullptr && NumOfBytesToCopyFrom > 0) {
        return E_INVALIDARG;
    }
    if (DestOffset > size_ || NumOfBytesToCopyFrom > size_ - DestOffset) {
        return E_INVALIDARG;
    }
    if (NumOfBytesToCopyFrom > 0) {
        std::memmove(data_ + DestOffset, SourceBuffer, NumOfBytesToCopyFrom);
    }
    return S_OK;
}

void* FrameworkMemory::GetDataBuffer(SIZE_T* BufferSize) {
    if (BufferSize != nullptr) {
        *BufferSize = size_;
    }
    return data_;
}

void FrameworkMemory::SetBuffer(void* pBuffer, SIZE_T BufferSize) {
    if (!preallocated_) {
        ReportHostError("SetBuffer on memory the framework owns; the memory is left unchanged");
        return;
    }
    data_ = static_cast<std::uint8_t*>(pBuffer);
    size_ = pBuffer == nullptr ? 0 : BufferSize;
}

}  // namespace zntr::host
