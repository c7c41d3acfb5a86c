// The named values the framework keeps for one device, grouped in stores: the device's own store
// and one per service name. Stores live in memory and, when the device has a state folder, in one
// file per device there, so that they survive a restart of the host.
//
// The file is JSON, rewritten whole on every change: written to "<file>.tmp", flushed to disk,
// then renamed over the file, so that a host that dies mid-write leaves the previous file intact.
//   {"format":"zntr-device-state","version":1,"device":"ROOT\\ZNTR\\0000",
//    "stores":{"":{"ZntrVComLocation":{"type":"VT_LPWSTR","value":"{...}"}},
//              "SomeService":{"Count":{"type":"VT_UI4","value":7}}}}
// The device's own store has the empty name. Value names compare without regard to case, as
// registry value names do; a name keeps the spelling it was first stored with.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "standin/propidl.h"
#include "standin/winerror.h"
#include "standin/wudfddi.h"

namespace zntr::host {

class DeviceState {
  public:
    // The state of a device: read from its file under stateFolder when there is one (an empty
    // stateFolder keeps everything in memory). Fails with HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
    // when the file cannot be understood.
    static HRESULT Open(const std::wstring& deviceInstanceId,
                        const std::filesystem::path& stateFolder,
                        std::shared_ptr<DeviceState>& state);

    // The file that holds a device's state under a state folder: the instance ID in upper case
    // (instance IDs compare without regard to case), with every byte other than a letter, digit,
    // ".", "-" or "_" written as %XX.
    static std::filesystem::path StateFile(const std::wstring& deviceInstanceId,
                                           const std::filesystem::path& stateFolder);

    // Opens the store of the service (the device's own store for an empty name). The device's
    // own store always exists; a service's store is created by WdfPropertyStoreCreateIfMissing
    // (kept in the file) or WdfPropertyStoreCreateVolatile (kept in memory only), and without
    // either flag a missing one is HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
    HRESULT OpenStore(const std::wstring& service, WDF_PROPERTY_STORE_RETRIEVE_FLAGS flags,
                      WDF_PROPERTY_STORE_DISPOSITION& disposition);

    // A copy of the named value (VT_LPWSTR or VT_UI4) for the caller to clear;
    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the store has no value of that name.
    HRESULT GetValue(const std::wstring& service, const std::wstring& name, PROPVARIANT& value);
    // Stores a VT_LPWSTR or VT_UI4 value (E_INVALIDARG for any other type) and writes the file;
    // when the file cannot be written the value is not kept and the write's error is returned.
    HRESULT SetValue(const std::wstring& service, const std::wstring& name,
                     const PROPVARIANT& value);
    HRESULT GetNameCount(const std::wstring& service, DWORD& count);
    // The name at index in the order of the names' upper-case forms;
    // HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS) past the end.
    HRESULT GetNameAt(const std::wstring& service, DWORD index, std::wstring& name);

  private:
    struct Value {
        std::wstring name;  // as first stored
        VARTYPE type;       // VT_LPWSTR or VT_UI4
        std::wstring text;
        ULONG number = 0;
    };
    struct Store {
        bool persistent = true;
        std::map<std::wstring, Value> values;  // keyed by the upper-case name
    };

    DeviceState(std::wstring deviceInstanceId, std::optional<std::filesystem::path> file);
    HRESULT Load();
    HRESULT Save() const;
    Store* FindStore(const std::wstring& service);

    const std::wstring deviceInstanceId_;
    const std::optional<std::filesystem::path> file_;
    std::mutex mutex_;
    std::map<std::wstring, Store> stores_;
};

}  // namespace zntr::host
