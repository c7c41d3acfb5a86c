// Helpers of the COM conformance tests: threads outside COM, reference counts, and creation of
// the stand-in's collections.
#pragma once

#include <future>
#include <string>
#include <thread>

#include "standin/com_helpers.h"
#include "standin/combaseapi.h"
#include "standin/portabledevicetypes.h"
#include "standin/wrl_client.h"

namespace zntr::test {

// Runs work on a new thread, one that has not entered COM, and waits for it.
template <typename Work>
void OnFreshThread(Work work) {
    std::thread thread(work);
    thread.join();
}

// The reference count an object reports, without changing it.
inline ULONG ReferenceCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// Keeps the calling thread in the multithreaded apartment while it lives.
class ComApartment {
  public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    HRESULT hr_;
};

template <typename Interface>
HRESULT Create(REFCLSID clsid, REFIID iid, Microsoft::WRL::ComPtr<Interface>& object) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
}

inline Microsoft::WRL::ComPtr<IPortableDeviceValues> NewValues() {
    Microsoft::WRL::ComPtr<IPortableDeviceValues> values;
    Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, values);
    return values;
}

inline std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// A key of a format of the tests' own, told apart by its property id.
inline PROPERTYKEY TestKey(DWORD pid) {
    return {{0x12345678, 0x1234, 0x5678, {0x90, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67}}, pid};
}

}  // namespace zntr::test
