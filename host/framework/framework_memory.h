// A buffer of the framework (IWDFMemory): the input or output buffer of a request, or memory a
// driver asks the framework driver object for. The framework owns the bytes, unless the memory
// was made over a driver's own buffer (CreatePreallocatedWdfMemory).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "framework_object.h"

namespace zntr::host {

class FrameworkMemory final : public FrameworkObject<IWDFMemory> {
  public:
    // Memory of `size` zero bytes owned by the framework.
    static Microsoft::WRL::ComPtr<FrameworkMemory> Create(std::size_t size);
    // Memory holding a copy of the bytes.
    static Microsoft::WRL::ComPtr<FrameworkMemory> Create(std::span<const std::uint8_t> bytes);
    // Memory over a buffer the caller owns and keeps alive as long as the memory.
    static Microsoft::WRL::ComPtr<FrameworkMemory> CreatePreallocated(void* buffer,
                                                                      std::size_t size);

    // Range checks: an offset or length that leaves the buffer is E_INVALIDARG, and nothing is
    // copied.
    HRESULT STDMETHODCALLTYPE CopyFromMemory(IWDFMemory* pSourceMemory,
                                             PWDFMEMORY_OFFSET pSourceOffset) override;
    HRESULT STDMETHODCALLTYPE CopyToBuffer(SIZE_T SourceOffset, void* DestinationBuffer,
                                           SIZE_T NumOfBytesToCopyTo) override;
    HRESULT STDMETHODCALLTYPE CopyFromBuffer(SIZE_T DestOffset, void* SourceBuffer,
                                             SIZE_T NumOfBytesToCopyFrom) override;
    SIZE_T STDMETHODCALLTYPE GetSize() override { return size_; }
    void* STDMETHODCALLTYPE GetDataBuffer(SIZE_T* BufferSize) override;
    // Only memory made over a driver's buffer takes another buffer; for memory the framework
    // owns the call is refused (reported as a host error) and the memory is unchanged.
    void STDMETHODCALLTYPE SetBuffer(void* pBuffer, SIZE_T BufferSize) override;

    // The bytes, for the host.
    std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFMemory) || FrameworkObject::Answers(riid);
    }

  private:
    FrameworkMemory() = default;
    ~FrameworkMemory() override = default;

    std::vector<std::uint8_t> owned_;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool preallocated_ = false;
};

}  // namespace zntr::host
