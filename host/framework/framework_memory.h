// A buffer of the framework (IWDFMemory): the input or output buffer of a request. The framework
// owns the bytes; a driver reaches them through GetDataBuffer. The copying methods and SetBuffer
// belong to memory a driver makes or lends, which the drivers this host serves never do: they
// answer E_NOTIMPL, or are reported as a host error.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "framework_object.h"

namespace zntr::host {

class FrameworkMemory final : public FrameworkObject<IWDFMemory> {
  public:
    // Memory of `size` zero bytes.
    static Microsoft::WRL::ComPtr<FrameworkMemory> Create(std::size_t size);
    // Memory holding a copy of the bytes.
    static Microsoft::WRL::ComPtr<FrameworkMemory> Create(std::span<const std::uint8_t> bytes);

    HRESULT STDMETHODCALLTYPE CopyFromMemory(IWDFMemory*, PWDFMEMORY_OFFSET) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyToBuffer(SIZE_T, void*, SIZE_T) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyFromBuffer(SIZE_T, void*, SIZE_T) override { return E_NOTIMPL; }
    SIZE_T STDMETHODCALLTYPE GetSize() override { return bytes_.size(); }
    void* STDMETHODCALLTYPE GetDataBuffer(SIZE_T* BufferSize) override;
    void STDMETHODCALLTYPE SetBuffer(void*, SIZE_T) override;

    // The bytes, for the host.
    std::span<const std::uint8_t> Bytes() const { return bytes_; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFMemory) || FrameworkObject::Answers(riid);
    }

  private:
    explicit FrameworkMemory(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    ~FrameworkMemory() override = default;

    std::vector<std::uint8_t> bytes_;
};

}  // namespace zntr::host
