// The named values the framework keeps for one device (its property store): text values, in
// memory and, when the device has a state folder, in one file per device there, so that they
// survive a restart of the host (the sensor's unique ID is one).
//
// The file is JSON, rewritten whole on every change: written to "<file>.tmp", flushed to disk,
// then renamed over the file, so that a host that dies mid-write leaves the previous file intact.
//   {"format":"zntr-device-state","version":1,"device":"ROOT\\ZNTR\\0000",
//    "stores":{"":{"ZntrVComLocation":{"type":"VT_LPWSTR","value":"{...}"}}}}
// The device's own store has the empty name, and is the only one: the drivers this host serves
// keep no stores of a service. Value names compare without regard to case, as registry value
// names do; a name keeps the spelling it was first stored with.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "standin/propidl.h"
#include "standin/winerror.h"

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

    // A copy of the named value (VT_LPWSTR) for the caller to clear;
    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when there is no value of that name.
    HRESULT GetValue(const std::wstring& name, PROPVARIANT& value);
    // Stores a VT_LPWSTR value (E_INVALIDARG for any other type) and writes the file; when the
    // file cannot be written the value is not kept and the write's error is returned.
    HRESULT SetValue(const std::wstring& name, const PROPVARIANT& value);

  private:
    struct Value {
        std::wstring name;  // as first stored
        std::wstring text;
    };

    DeviceState(std::wstring deviceInstanceId, std::optional<std::filesystem::path> file);
    HRESULT Load();
    HRESULT Save() const;

    const std::wstring deviceInstanceId_;
    const std::optional<std::filesystem::path> file_;
    std::mutex mutex_;
    std::map<std::wstring, Value> values_;  // keyed by the upper-case name
};

}  // namespace zntr::host
