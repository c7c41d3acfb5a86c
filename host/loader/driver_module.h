// A driver module loaded as the framework's host loads it: the shared library is mapped
// (dlopen), its framework version export is checked, and its entry routine DllMain is called for
// process attach; unloading asks DllCanUnloadNow, calls DllMain for process detach and unmaps it.
//
// The entry routine is not exported: as on Windows it is the module's entry point, which the
// loader finds in the module's header (the ELF header's e_entry, made with the linker option
// `-e DllMain`) relative to the address the module was loaded at. That address is also the
// module handle DllMain receives.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "standin/libloaderapi.h"
#include "standin/unknwn.h"
#include "standin/wudfddi_types.h"

namespace zntr::host {

// Why a module could not be loaded, said so that a user can act on it.
class ModuleLoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class DriverModule {
  public:
    // Loads the module: it must export DllGetClassObject, DllCanUnloadNow and
    // Microsoft_WDF_UMDF_Version with the host's major version and a minor version not above
    // the host's, have an entry point, and answer TRUE to the process attach. A FALSE answer
    // fails the load after the module has been told of the detach, as Windows does.
    static std::unique_ptr<DriverModule> Load(const std::filesystem::path& path);

    // Unloads the module when Unload() has not.
    ~DriverModule();
    DriverModule(const DriverModule&) = delete;
    DriverModule& operator=(const DriverModule&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    HMODULE Handle() const { return handle_; }
    const UMDF_VERSION_DATA& Version() const { return version_; }

    // DllGetClassObject of the module.
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    HRESULT CanUnloadNow() const;

    // Asks DllCanUnloadNow first. When it answers S_OK: DllMain for the process detach, then
    // the module is unmapped, and the answer is true. Otherwise the host error is reported and
    // the module stays mapped (with no process detach), since objects of it are still alive and
    // their code must stay where it is; the answer is false. A second call does nothing.
    bool Unload();

  private:
    using GetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);
    using CanUnloadNowFunction = HRESULT (*)();
    using EntryFunction = BOOL (*)(HINSTANCE, DWORD, LPVOID);

    DriverModule() = default;
    // Both loaders: the three exports found and the framework version the host runs; sets
    // version_ or throws ModuleLoadError.
    void CheckExports(const std::string& name, const UMDF_VERSION_DATA* version);
    // The loader's own unmapping, once DllCanUnloadNow has answered S_OK.
    void ReleaseLibrary();

    std::filesystem::path path_;
    void* library_ = nullptr;  // the dlopen handle
    HMODULE handle_ = nullptr;
    UMDF_VERSION_DATA version_{};
    GetClassObjectFunction getClassObject_ = nullptr;
    CanUnloadNowFunction canUnloadNow_ = nullptr;
    EntryFunction entry_ = nullptr;
    bool loaded_ = false;
};

}  // namespace zntr::host
