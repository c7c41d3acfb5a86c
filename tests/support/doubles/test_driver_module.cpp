// The test driver module (test_driver.h): a driver object, a device callback object and a queue
// callback object that record every callback through the loading program's recorder, the class
// factory of its one class, and the five exports of a driver module. The framework version it
// claims is chosen when it is built.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "standin/libloaderapi.h"
#include "standin/winerror.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"
#include "test_driver.h"

#ifndef ZNTR_TEST_DRIVER_MAJOR
#define ZNTR_TEST_DRIVER_MAJOR 1
#endif
#ifndef ZNTR_TEST_DRIVER_MINOR
#define ZNTR_TEST_DRIVER_MINOR 9
#endif
#define ZNTR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Microsoft::WRL::ComPtr;
using zntr::test::kTestDriverCompleteReads;
using zntr::test::kTestDriverCompleteTwice;
using zntr::test::kTestDriverEcho;

// Objects of the module alive now, and the locks of its class factory: 0 lets it unload.
std::atomic<long> gObjects{0};
long (*gRecord)(const char* call) = nullptr;

HRESULT Record(const std::string& call) {
    return static_cast<HRESULT>(gRecord(call.c_str()));
}

// Reference counting for the module's objects, each of which answers its own interfaces.
class Counted {
  public:
    Counted() { ++gObjects; }
    virtual ~Counted() { --gObjects; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

  protected:
    // The interface asked for, or null.
    virtual void* Find(REFIID riid) = 0;
    HRESULT Query(REFIID riid, void** ppv) {
        *ppv = Find(riid);
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        ++references_;
        return S_OK;
    }
    ULONG Add() { return ++references_; }
    ULONG Drop() {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  private:
    std::atomic<ULONG> references_{1};
};

std::string ActionOf(IWDFDevice* device) {
    ComPtr<IWDFDevice2> device2;
    device->QueryInterface(IID_IWDFDevice2, reinterpret_cast<void**>(device2.GetAddressOf()));
    return device2 ? std::to_string(device2->GetSystemPowerAction()) : "?";
}

// Completes the request with as much of the bytes as its output buffer takes.
void Answer(IWDFIoRequest* request, const void* data, std::size_t size) {
    ComPtr<IWDFMemory> memory;
    request->GetOutputMemory(memory.GetAddressOf());
    SIZE_T capacity = 0;
    void* buffer = memory ? memory->GetDataBuffer(&capacity) : nullptr;
    const std::size_t copied = size < capacity ? size : capacity;
    if (copied > 0) {
        std::memcpy(buffer, data, copied);
    }
    request->CompleteWithInformation(S_OK, copied);
}

std::string InputOf(IWDFIoRequest* request) {
    ComPtr<IWDFMemory> memory;
    request->GetInputMemory(memory.GetAddressOf());
    SIZE_T size = 0;
    const void* data = memory ? memory->GetDataBuffer(&size) : nullptr;
    return data != nullptr ? std::string(static_cast<const char*>(data), size) : std::string();
}

class Queue final : public Counted,
                    public IQueueCallbackCreate,
                    public IQueueCallbackRead,
                    public IQueueCallbackDeviceIoControl {
  public:
    // As a queue object that ends its stream does, unless told to keep them.
    ~Queue() override {
        if (Record("~Queue()") != S_FALSE) {
            for (const auto& read : reads_) {
                read->CompleteWithInformation(HRESULT_FROM_WIN32(995), 0);
            }
        }
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Query(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    void STDMETHODCALLTYPE OnCreateFile(IWDFIoQueue*, IWDFIoRequest* request, IWDFFile*) override {
        request->Complete(Record("OnCreateFile()"));
    }
    void STDMETHODCALLTYPE OnRead(IWDFIoQueue*, IWDFIoRequest* request, SIZE_T length) override {
        Record("OnRead(" + std::to_string(length) + ")");
        std::lock_guard<std::mutex> lock(mutex_);
        reads_.emplace_back(request);
    }
    void STDMETHODCALLTYPE OnDeviceIoControl(IWDFIoQueue*, IWDFIoRequest* request, ULONG code,
                                             SIZE_T, SIZE_T) override {
        const HRESULT answer = Record("OnDeviceIoControl(" + std::to_string(code) + ")");
        const std::string input = InputOf(request);
        if (code == kTestDriverEcho) {
            Answer(request, input.data(), input.size());
        } else if (code == kTestDriverCompleteReads) {
            std::deque<ComPtr<IWDFIoRequest>> reads;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                reads.swap(reads_);
            }
            for (const auto& read : reads) {
                Answer(read.Get(), input.data(), input.size());
            }
            request->Complete(S_OK);
        } else if (code == kTestDriverCompleteTwice) {
            request->Complete(S_OK);
            request->Complete(E_FAIL);
        } else {
            request->Complete(answer);
        }
    }

  private:
    void* Find(REFIID riid) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IQueueCallbackCreate)) {
            return static_cast<IQueueCallbackCreate*>(this);
        }
        if (IsEqualIID(riid, IID_IQueueCallbackRead)) {
            return static_cast<IQueueCallbackRead*>(this);
        }
        return IsEqualIID(riid, IID_IQueueCallbackDeviceIoControl)
                   ? static_cast<IQueueCallbackDeviceIoControl*>(this)
                   : nullptr;
    }

    std::mutex mutex_;
    std::deque<ComPtr<IWDFIoRequest>> reads_;
};

class Device final : public Counted,
                     public IPnpCallbackHardware,
                     public IPnpCallback,
                     public IFileCallbackCleanup {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Query(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    HRESULT STDMETHODCALLTYPE OnPrepareHardware(IWDFDevice* device) override {
        HRESULT hr = Record("OnPrepareHardware()");
        ComPtr<IWDFIoQueue> existing;
        device->GetDefaultIoQueue(existing.GetAddressOf());
        if (SUCCEEDED(hr) && !existing) {
            Queue* queue = new Queue();
            hr = device->CreateIoQueue(static_cast<IQueueCallbackCreate*>(queue), TRUE,
                                       WdfIoQueueDispatchParallel, FALSE, TRUE, nullptr);
            queue->Release();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE OnReleaseHardware(IWDFDevice*) override {
        return Record("OnReleaseHardware()");
    }
    HRESULT STDMETHODCALLTYPE OnD0Entry(IWDFDevice* device, WDF_POWER_DEVICE_STATE from) override {
        return Record("OnD0Entry(" + std::to_string(from) + "," + ActionOf(device) + ")");
    }
    HRESULT STDMETHODCALLTYPE OnD0Exit(IWDFDevice* device, WDF_POWER_DEVICE_STATE to) override {
        return Record("OnD0Exit(" + std::to_string(to) + "," + ActionOf(device) + ")");
    }
    void STDMETHODCALLTYPE OnSurpriseRemoval(IWDFDevice*) override {
        Record("OnSurpriseRemoval()");
    }
    HRESULT STDMETHODCALLTYPE OnQueryRemove(IWDFDevice*) override {
        return Record("OnQueryRemove()");
    }
    HRESULT STDMETHODCALLTYPE OnQueryStop(IWDFDevice*) override { return Record("OnQueryStop()"); }
    void STDMETHODCALLTYPE OnCleanupFile(IWDFFile*) override { Record("OnCleanupFile()"); }

  private:
    void* Find(REFIID riid) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPnpCallbackHardware)) {
            return static_cast<IPnpCallbackHardware*>(this);
        }
        if (IsEqualIID(riid, IID_IPnpCallback)) {
            return static_cast<IPnpCallback*>(this);
        }
        return IsEqualIID(riid, IID_IFileCallbackCleanup) ? static_cast<IFileCallbackCleanup*>(this)
                                                          : nullptr;
    }
};

class Driver final : public Counted, public IDriverEntry {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Query(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    HRESULT STDMETHODCALLTYPE OnInitialize(IWDFDriver*) override {
        return Record("OnInitialize()");
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdd(IWDFDriver* driver, IWDFDeviceInitialize* init) override {
        WCHAR id[256] = {};
        DWORD size = 256;
        init->RetrieveDeviceInstanceId(id, &size);
        const HRESULT hr = Record("OnDeviceAdd(" + std::string(id, id + std::wcslen(id)) + ")");
        if (hr != S_OK) {
            return FAILED(hr) ? hr : S_OK;
        }
        init->SetLockingConstraint(None);
        Device* device = new Device();
        ComPtr<IWDFDevice> created;
        const HRESULT made = driver->CreateDevice(init, static_cast<IPnpCallbackHardware*>(device),
                                                  created.GetAddressOf());
        device->Release();
        return made;
    }
    void STDMETHODCALLTYPE OnDeinitialize(IWDFDriver*) override {
        if (Record("OnDeinitialize()") == S_FALSE) {
            AddRef();  // never released: the module cannot unload
        }
    }

  private:
    void* Find(REFIID riid) override {
        return IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDriverEntry)
                   ? static_cast<IDriverEntry*>(this)
                   : nullptr;
    }
};

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)
                   ? static_cast<IClassFactory*>(this)
                   : nullptr;
        return *ppv != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    // The one factory lives as long as the module; a reference on it counts as a lock.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++gObjects); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--gObjects); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        Driver* driver = new Driver();
        const HRESULT hr = driver->QueryInterface(riid, ppv);
        driver->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++gObjects : --gObjects;
        return S_OK;
    }
};

ClassFactory gFactory;

}  // namespace

ZNTR_EXPORT const UMDF_VERSION_DATA Microsoft_WDF_UMDF_Version = {ZNTR_TEST_DRIVER_MAJOR,
                                                                  ZNTR_TEST_DRIVER_MINOR, 0};

ZNTR_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!IsEqualCLSID(clsid, zntr::test::kTestDriverClass)) {
        *ppv = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return gFactory.QueryInterface(riid, ppv);
}

ZNTR_EXPORT HRESULT DllCanUnloadNow() {
    return gObjects.load() == 0 ? S_OK : S_FALSE;
}

ZNTR_EXPORT HRESULT DllRegisterServer() {
    return S_OK;
}

ZNTR_EXPORT HRESULT DllUnregisterServer() {
    return S_OK;
}

// The entry point: not exported, named to the linker with -e.
// The module handle it is given must be its own load address.
extern "C" BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        gRecord =
            reinterpret_cast<long (*)(const char*)>(dlsym(RTLD_DEFAULT, "ZntrTestDriverRecord"));
        Dl_info self{};
        dladdr(reinterpret_cast<void*>(&gObjects), &self);
        const char* call = self.dli_fbase == module ? "DllMain(attach)" : "DllMain(foreign handle)";
        return gRecord != nullptr && SUCCEEDED(Record(call)) ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH && gRecord != nullptr) {
        Record("DllMain(detach)");
    }
    return TRUE;
}
