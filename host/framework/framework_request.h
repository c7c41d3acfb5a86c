// A client's request as the framework hands it to the driver (IWDFIoRequest): a file creation, a
// read or a device I/O control request, with its buffers and its file. It is completed exactly
// once: the first completion goes to whoever made the request (the host's server, which sends
// it to the client); a second one is a driver error that the host reports and otherwise ignores.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "framework_file.h"
#include "framework_memory.h"
#include "framework_object.h"

namespace zntr::host {

// What a completion delivered: the status and, for a successful read or I/O control request,
// the first `information` bytes of the output buffer.
struct RequestResult {
    HRESULT status = S_OK;
    SIZE_T information = 0;
    std::vector<std::uint8_t> data;
};

class FrameworkRequest final : public FrameworkObject<IWDFIoRequest> {
  public:
    // Called once, on the thread that completes the request; it must not block.
    using CompletionHandler = std::function<void(const RequestResult& result)>;

    static Microsoft::WRL::ComPtr<FrameworkRequest> CreateFileRequest(
        Microsoft::WRL::ComPtr<FrameworkFile> file, CompletionHandler onComplete);
    static Microsoft::WRL::ComPtr<FrameworkRequest> ReadRequest(
        Microsoft::WRL::ComPtr<FrameworkFile> file, std::size_t length,
        CompletionHandler onComplete);
    static Microsoft::WRL::ComPtr<FrameworkRequest> DeviceIoControlRequest(
        Microsoft::WRL::ComPtr<FrameworkFile> file, ULONG controlCode,
        std::span<const std::uint8_t> input, std::size_t outputLength,
        CompletionHandler onComplete);

    // Complete(hr) completes with the information set by SetInformation (0 unless set), which
    // is CompleteWithInformation(hr, 0) for a driver that never sets it.
    void STDMETHODCALLTYPE CompleteWithInformation(HRESULT CompletionStatus,
                                                   SIZE_T Information) override;
    void STDMETHODCALLTYPE SetInformation(SIZE_T Information) override;
    void STDMETHODCALLTYPE Complete(HRESULT CompletionStatus) override;
    WDF_REQUEST_TYPE STDMETHODCALLTYPE GetType() override { return type_; }
    void STDMETHODCALLTYPE GetReadParameters(SIZE_T* pSizeInBytes, LONGLONG* pullOffset,
                                             ULONG* pulKey) override;
    void STDMETHODCALLTYPE GetDeviceIoControlParameters(ULONG* pControlCode, SIZE_T* pInBufferSize,
                                                        SIZE_T* pOutBufferSize) override;
    // Null when the request has no such buffer (a zero length).
    void STDMETHODCALLTYPE GetOutputMemory(IWDFMemory** ppWdfMemory) override;
    void STDMETHODCALLTYPE GetInputMemory(IWDFMemory** ppWdfMemory) override;
    void STDMETHODCALLTYPE GetFileObject(IWDFFile** ppFileObject) override;
    // Requests are not cancelled by this framework: a client that goes away leaves its
    // requests with the driver, whose completions are then dropped. So marking a request
    // cancelable never leads to a cancel callback, and unmarking always succeeds.
    void STDMETHODCALLTYPE MarkCancelable(IRequestCallbackCancel*) override {}
    HRESULT STDMETHODCALLTYPE UnmarkCancelable() override { return S_OK; }
    // There is no other queue or lower driver to pass a request to, no client writes, and the
    // drivers this host serves ask nothing else of a request: what remains is not offered.
    void STDMETHODCALLTYPE SetCompletionCallback(IRequestCallbackRequestCompletion*,
                                                 void*) override {}
    void STDMETHODCALLTYPE GetCreateParameters(ULONG*, USHORT*, USHORT*) override {}
    void STDMETHODCALLTYPE GetWriteParameters(SIZE_T*, LONGLONG*, ULONG*) override {}
    BOOL STDMETHODCALLTYPE CancelSentRequest() override { return FALSE; }
    HRESULT STDMETHODCALLTYPE ForwardToIoQueue(IWDFIoQueue*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Send(IWDFIoTarget*, DWORD, LONGLONG) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE FormatUsingCurrentType() override {}
    ULONG STDMETHODCALLTYPE GetRequestorProcessId() override { return 0; }
    void STDMETHODCALLTYPE GetIoQueue(IWDFIoQueue** ppWdfIoQueue) override {
        *ppWdfIoQueue = nullptr;
    }
    HRESULT STDMETHODCALLTYPE Impersonate(SECURITY_IMPERSONATION_LEVEL, IImpersonateCallback*,
                                          void*) override {
        return E_NOTIMPL;
    }
    BOOL STDMETHODCALLTYPE IsFrom32BitProcess() override { return FALSE; }
    void STDMETHODCALLTYPE GetCompletionParams(IWDFRequestCompletionParams** ppParams) override {
        *ppParams = nullptr;
    }

    // For the framework: the file, and whether the request has been completed.
    FrameworkFile* File() const { return file_.Get(); }
    bool IsCompleted() const { return completed_.load(std::memory_order_acquire); }
    // A number of the host's own that names the request in reports.
    std::uint64_t Serial() const { return serial_; }
    // The framework gives up on a request its driver never completed (the device is gone): it
    // drops its own reference without a completion.
    void Abandon();
    // Adds a handler that runs at the completion, before the completion handler (the
    // framework's own bookkeeping).
    void AddCompletionObserver(std::function<void()> observer);

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFIoRequest) || FrameworkObject::Answers(riid);
    }

  private:
    FrameworkRequest(WDF_REQUEST_TYPE type, Microsoft::WRL::ComPtr<FrameworkFile> file,
                     CompletionHandler onComplete);
    ~FrameworkRequest() override = default;

    const WDF_REQUEST_TYPE type_;
    // Strong reference: the file lives as long as any of its requests.
    const Microsoft::WRL::ComPtr<FrameworkFile> file_;
    const std::uint64_t serial_;
    Microsoft::WRL::ComPtr<FrameworkMemory> input_;
    Microsoft::WRL::ComPtr<FrameworkMemory> output_;
    std::size_t readLength_ = 0;
    ULONG controlCode_ = 0;
    std::size_t inputLength_ = 0;
    std::size_t outputLength_ = 0;

    std::atomic<SIZE_T> information_{0};
    std::atomic<bool> completed_{false};
    // The framework's own reference: a request lives until it is completed, whoever else
    // holds it (a driver keeps pending requests by plain pointer, as it may).
    Microsoft::WRL::ComPtr<FrameworkRequest> frameworkReference_;
    CompletionHandler onComplete_;
    std::mutex mutex_;  // guards frameworkReference_ and observers_
    std::vector<std::function<void()>> observers_;
};

// The name of a request type in reports ("read", "device I/O control", ...).
const char* RequestTypeName(WDF_REQUEST_TYPE type);

}  // namespace zntr::host
