#include "framework_memory.h"

#include "host_report.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

ComPtr<FrameworkMemory> FrameworkMemory::Create(std::size_t size) {
    ComPtr<FrameworkMemory> memory;
    memory.Attach(new FrameworkMemory(std::vector<std::uint8_t>(size, 0)));
    return memory;
}

ComPtr<FrameworkMemory> FrameworkMemory::Create(std::span<const std::uint8_t> bytes) {
    ComPtr<FrameworkMemory> memory;
    memory.Attach(new FrameworkMemory(std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
    return memory;
}

void* FrameworkMemory::GetDataBuffer(SIZE_T* BufferSize) {
    if (BufferSize != nullptr) {
        *BufferSize = bytes_.size();
    }
    return bytes_.data();
}

void FrameworkMemory::SetBuffer(void*, SIZE_T) {
    ReportHostError("SetBuffer on memory the framework owns; the memory is left unchanged");
}

}  // namespace zntr::host
