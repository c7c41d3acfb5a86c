// Framework objects of the tests' own for the class extension to work on: a file, a memory
// buffer, and a device I/O control request that records its completion (and lets a test wait
// for it). They implement the framework's interfaces; what the class extension does not use
// answers E_NOTIMPL or nothing.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "standin/com_helpers.h"
#include "standin/portabledevice.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"

namespace zntr::test {

using Microsoft::WRL::ComPtr;

template <typename Interface>
class FakeWdfObject : public zntr::platform::ComObject<Interface> {
  public:
    HRESULT STDMETHODCALLTYPE DeleteWdfObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup*, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RetrieveContext(void**) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE AcquireLock() override {}
    void STDMETHODCALLTYPE ReleaseLock() override {}
};

class FakeFile final : public FakeWdfObject<IWDFFile> {
  public:
    static ComPtr<FakeFile> Make() {
        ComPtr<FakeFile> file;
        file.Attach(new FakeFile());
        return file;
    }
    HRESULT STDMETHODCALLTYPE RetrieveFileName(PWSTR, DWORD*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDevice(IWDFDevice** ppWdfDevice) override { *ppWdfDevice = nullptr; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFFile);
    }
};

class FakeMemory final : public FakeWdfObject<IWDFMemory> {
  public:
    explicit FakeMemory(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    HRESULT STDMETHODCALLTYPE CopyFromMemory(IWDFMemory*, PWDFMEMORY_OFFSET) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyToBuffer(SIZE_T, void*, SIZE_T) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyFromBuffer(SIZE_T, void*, SIZE_T) override { return E_NOTIMPL; }
    SIZE_T STDMETHODCALLTYPE GetSize() override { return bytes_.size(); }
    void* STDMETHODCALLTYPE GetDataBuffer(SIZE_T* BufferSize) override {
        if (BufferSize != nullptr) {
            *BufferSize = bytes_.size();
        }
        return bytes_.data();
    }
    void STDMETHODCALLTYPE SetBuffer(void*, SIZE_T) override {}

    std::vector<std::uint8_t>& Bytes() { return bytes_; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFMemory);
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

// A device I/O control request. Its completion is kept as a buffered request's caller sees it:
// the status, and the bytes only when the status is a success. A second completion is counted,
// so that a test can check that every request is completed exactly once.
class FakeRequest final : public FakeWdfObject<IWDFIoRequest> {
  public:
    static ComPtr<FakeRequest> Make(IWDFFile* file, ULONG controlCode,
                                    std::span<const std::uint8_t> input, std::size_t outputBytes) {
        ComPtr<FakeRequest> request;
        request.Attach(new FakeRequest(file, controlCode, input, outputBytes));
        return request;
    }

    void STDMETHODCALLTYPE CompleteWithInformation(HRESULT status, SIZE_T information) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (++completions_ > 1) {
            return;
        }
        status_ = status;
        information_ = information;
        if (SUCCEEDED(status) && output_) {
            const std::vector<std::uint8_t>& bytes = output_->Bytes();
            data_.assign(bytes.begin(),
                         bytes.begin() + static_cast<std::ptrdiff_t>(
                                             std::min<std::size_t>(information, bytes.size())));
        }
        completed_.notify_all();
    }
    void STDMETHODCALLTYPE SetInformation(SIZE_T) override {}
    void STDMETHODCALLTYPE Complete(HRESULT status) override { CompleteWithInformation(status, 0); }
    void STDMETHODCALLTYPE SetCompletionCallback(IRequestCallbackRequestCompletion*,
                                                 void*) override {}
    WDF_REQUEST_TYPE STDMETHODCALLTYPE GetType() override { return WdfRequestDeviceIoControl; }
    void STDMETHODCALLTYPE GetCreateParameters(ULONG*, USHORT*, USHORT*) override {}
    void STDMETHODCALLTYPE GetReadParameters(SIZE_T*, LONGLONG*, ULONG*) override {}
    void STDMETHODCALLTYPE GetWriteParameters(SIZE_T*, LONGLONG*, ULONG*) override {}
    void STDMETHODCALLTYPE GetDeviceIoControlParameters(ULONG* pControlCode, SIZE_T* pIn,
                                                        SIZE_T* pOut) override {
        *pControlCode = controlCode_;
        *pIn = input_ ? input_->GetSize() : 0;
        *pOut = output_ ? output_->GetSize() : 0;
    }
    void STDMETHODCALLTYPE GetOutputMemory(IWDFMemory** ppWdfMemory) override {
        ComPtr<FakeMemory> copy = output_;
        *ppWdfMemory = copy.Detach();
    }
    void STDMETHODCALLTYPE GetInputMemory(IWDFMemory** ppWdfMemory) override {
        ComPtr<FakeMemory> copy = input_;
        *ppWdfMemory = copy.Detach();
    }
    void STDMETHODCALLTYPE MarkCancelable(IRequestCallbackCancel*) override {}
    HRESULT STDMETHODCALLTYPE UnmarkCancelable() override { return S_OK; }
    BOOL STDMETHODCALLTYPE CancelSentRequest() override { return FALSE; }
    HRESULT STDMETHODCALLTYPE ForwardToIoQueue(IWDFIoQueue*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Send(IWDFIoTarget*, DWORD, LONGLONG) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetFileObject(IWDFFile** ppFileObject) override {
        ComPtr<IWDFFile> copy = file_;
        *ppFileObject = copy.Detach();
    }
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
    void STDMETHODCALLTYPE GetCompletionParams(IWDFRequestCompletionParams** pp) override {
        *pp = nullptr;
    }

    int Completions() {
        std::lock_guard<std::mutex> lock(mutex_);
        return completions_;
    }
    bool Completed() { return Completions() > 0; }
    // Waits for the completion; false when none came in time.
    bool WaitCompleted(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return completed_.wait_for(lock, timeout, [this] { return completions_ > 0; });
    }
    HRESULT Status() {
        std::lock_guard<std::mutex> lock(mutex_);
        return status_;
    }
    SIZE_T Information() {
        std::lock_guard<std::mutex> lock(mutex_);
        return information_;
    }
    std::vector<std::uint8_t> Data() {
        std::lock_guard<std::mutex> lock(mutex_);
        return data_;
    }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFObject) || IsEqualIID(riid, IID_IWDFIoRequest);
    }

  private:
    FakeRequest(IWDFFile* file, ULONG controlCode, std::span<const std::uint8_t> input,
                std::size_t outputBytes)
        : file_(file), controlCode_(controlCode) {
        // As the framework does, a zero-length buffer is no memory object at all.
        if (!input.empty()) {
            input_.Attach(new FakeMemory({input.begin(), input.end()}));
        }
        if (outputBytes > 0) {
            output_.Attach(new FakeMemory(std::vector<std::uint8_t>(outputBytes, 0xCC)));
        }
    }

    ComPtr<IWDFFile> file_;
    const ULONG controlCode_;
    ComPtr<FakeMemory> input_;
    ComPtr<FakeMemory> output_;
    std::mutex mutex_;
    std::condition_variable completed_;
    int completions_ = 0;
    HRESULT status_ = S_OK;
    SIZE_T information_ = 0;
    std::vector<std::uint8_t> data_;
};

}  // namespace zntr::test
