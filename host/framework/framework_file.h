// One open of the device by a client program (IWDFFile): the framework makes it when a client
// opens the device and gives it to the driver with the create request, every later request of
// that client, and the file's cleanup. The host's server makes one per client connection.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "framework_object.h"

namespace zntr::host {

class FrameworkFile final : public FrameworkObject<IWDFFile> {
  public:
    static Microsoft::WRL::ComPtr<FrameworkFile> Create(IWDFDevice* device);

    // Every client opens the device itself; no driver of this host asks for a name.
    HRESULT STDMETHODCALLTYPE RetrieveFileName(PWSTR, DWORD*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppWdfDevice) override;

    // A number of the host's own that names the file in reports.
    std::uint64_t Serial() const { return serial_; }

    // The framework's count of this file's requests that are inside a driver callback right
    // now. A file's cleanup waits until none is, so that the driver never sees the cleanup of
    // a file while it is still being handed one of its requests.
    void DispatchStarted();
    void DispatchEnded();
    void WaitUntilNoDispatch();

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFFile) || FrameworkObject::Answers(riid);
    }

  private:
    explicit FrameworkFile(IWDFDevice* device);
    ~FrameworkFile() override = default;

    // Strong reference: a file keeps its device as long as a request of it is alive.
    const Microsoft::WRL::ComPtr<IWDFDevice> device_;
    const std::uint64_t serial_;

    std::mutex dispatchMutex_;
    std::condition_variable dispatchEnded_;
    int dispatching_ = 0;
};

}  // namespace zntr::host
