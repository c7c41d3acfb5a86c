// The test driver module (test_driver.h): one object that is the class factory of its one class,
// the driver (IDriverEntry), its device's callback object and its queue's, recording every
// callback through the loading program's recorder; and the exports a host looks for. The framework
// version it claims is chosen when it is built.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "standin/libloaderapi.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"
#include "test_driver.h"

#define ZNTR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Microsoft::WRL::ComPtr;

// Objects of the module alive now: 0 lets it unload.
std::atomic<long> gObjects{0};
long (*gRecord)(const char* call) = nullptr;
void* gKept = nullptr;  // a driver kept alive: the module cannot unload

HRESULT Record(const std::string& call) {
    return static_cast<HRESULT>(gRecord(call.c_str()));
}

std::string ActionOf(IWDFDevice* device) {
    ComPtr<IWDFDevice2> device2;
    device->QueryInterface(IID_IWDFDevice2, reinterpret_cast<void**>(device2.GetAddressOf()));
    return device2 ? std::to_string(device2->GetSystemPowerAction()) : "?";
}

class Driver final : public IClassFactory,
                     public IDriverEntry,
                     public IPnpCallbackHardware,
                     public IPnpCallback,
                     public IFileCallbackCleanup,
                     public IQueueCallbackCreate,
                     public IQueueCallbackRead,
                     public IQueueCallbackDeviceIoControl {
  public:
    Driver() { ++gObjects; }
    ~Driver() { --gObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDriverEntry)
                   ? As<IDriverEntry>()
               : IsEqualIID(riid, IID_IPnpCallbackHardware) ? As<IPnpCallbackHardware>()
               : IsEqualIID(riid, IID_IPnpCallback)         ? As<IPnpCallback>()
               : IsEqualIID(riid, IID_IFileCallbackCleanup) ? As<IFileCallbackCleanup>()
               : IsEqualIID(riid, IID_IQueueCallbackCreate) ? As<IQueueCallbackCreate>()
               : IsEqualIID(riid, IID_IQueueCallbackRead)   ? As<IQueueCallbackRead>()
               : IsEqualIID(riid, IID_IQueueCallbackDeviceIoControl)
                   ? As<IQueueCallbackDeviceIoControl>()
               : IsEqualIID(riid, IID_IClassFactory) ? As<IClassFactory>()
                                                     : nullptr;
        return *ppv != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // The class factory hands out the driver it is.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        return QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return E_NOTIMPL; }

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
        ComPtr<IWDFDevice> device;
        return driver->CreateDevice(init, static_cast<IDriverEntry*>(this), device.GetAddressOf());
    }
    void STDMETHODCALLTYPE OnDeinitialize(IWDFDriver*) override {
        if (Record("OnDeinitialize()") == S_FALSE) {
            AddRef();  // never released, but held where the module keeps its data
            gKept = this;
        }
    }

    HRESULT STDMETHODCALLTYPE OnPrepareHardware(IWDFDevice* device) override {
        HRESULT hr = Record("OnPrepareHardware()");
        ComPtr<IWDFIoQueue> queue;
        device->GetDefaultIoQueue(queue.GetAddressOf());
        if (SUCCEEDED(hr) && !queue) {
            hr = device->CreateIoQueue(static_cast<IDriverEntry*>(this), TRUE,
                                       WdfIoQueueDispatchParallel, FALSE, TRUE, nullptr);
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
        if (code == zntr::test::kTestDriverEcho) {  // as much of the input as the output takes
            ComPtr<IWDFMemory> in, out;
            request->GetInputMemory(in.GetAddressOf());
            request->GetOutputMemory(out.GetAddressOf());
            SIZE_T size = 0, room = 0;
            const void* data = in ? in->GetDataBuffer(&size) : nullptr;
            void* buffer = out ? out->GetDataBuffer(&room) : nullptr;
            size = std::min(size, room);
            std::copy_n(static_cast<const char*>(data), size, static_cast<char*>(buffer));
            request->CompleteWithInformation(S_OK, size);
            return;
        }
        request->Complete(answer);
        if (code == zntr::test::kTestDriverCompleteTwice) {
            request->Complete(E_FAIL);
        }
    }

  private:
    template <typename Interface>
    void* As() {
        return static_cast<Interface*>(this);
    }

    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    std::vector<ComPtr<IWDFIoRequest>> reads_;  // held, never completed
};

}  // namespace

ZNTR_EXPORT const UMDF_VERSION_DATA Microsoft_WDF_UMDF_Version = {ZNTR_TEST_DRIVER_MAJOR,
                                                                  ZNTR_TEST_DRIVER_MINOR, 0};

ZNTR_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, zntr::test::kTestDriverClass)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    Driver* driver = new Driver();
    const HRESULT hr = driver->QueryInterface(riid, ppv);
    driver->Release();
    return hr;
}

ZNTR_EXPORT HRESULT DllCanUnloadNow() {
    return gObjects.load() == 0 ? S_OK : S_FALSE;
}

// The entry point: not exported, named to the linker with -e. The module handle it is given must
// be its own load address.
extern "C" BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        gRecord =
            reinterpret_cast<long (*)(const char*)>(dlsym(RTLD_DEFAULT, "ZntrTestDriverRecord"));
        Dl_info self{};
        dladdr(reinterpret_cast<void*>(&gObjects), &self);
        const char* call = self.dli_fbase == module ? "DllMain(attach)" : "DllMain(foreign handle)";
        return gRecord != nullptr && SUCCEEDED(Record(call)) ? TRUE : FALSE;
    }
    if (gRecord != nullptr) {
        Record("DllMain(detach)");
    }
    return TRUE;
}
