// The driver module as Windows loads it: LoadLibrary maps the DLL and its loader calls DllMain
// for the process attach (a FALSE answer fails the load, with the detach already called);
// FreeLibrary calls it for the detach. The checks of the exports and the framework version are
// those of the Linux loader (driver_module.cpp).
#include <string>

#include "driver_module.h"
#include "framework_driver.h"
#include "host_report.h"

namespace zntr::host {

namespace {

std::string VersionText(const UMDF_VERSION_DATA& version) {
    return std::to_string(version.MajorNumber) + "." + std::to_string(version.MinorNumber) + "." +
           std::to_string(version.ServiceNumber);
}

bool VersionSupported(const UMDF_VERSION_DATA& version) {
    return version.MajorNumber == kFrameworkVersion.MajorNumber &&
           version.MinorNumber <= kFrameworkVersion.MinorNumber;
}

struct LibraryCloser {
    HMODULE library;
    bool keep = false;
    ~LibraryCloser() {
        if (!keep && library != nullptr) {
            FreeLibrary(library);
        }
    }
};

}  // namespace

std::unique_ptr<DriverModule> DriverModule::Load(const std::filesystem::path& path) {
    const std::string name = path.string();
    if (!std::filesystem::exists(path)) {
        throw ModuleLoadError("cannot load " + name + ": no such file");
    }
    // A full path, so that the file given is loaded and not one found on the search path.
    const std::wstring file = std::filesystem::absolute(path).wstring();
    HMODULE library = LoadLibraryW(file.c_str());
    if (library == nullptr) {
        throw ModuleLoadError("cannot load " + name + ": LoadLibrary failed with error " +
                              std::to_string(GetLastError()));
    }
    LibraryCloser closer{library};

    std::unique_ptr<DriverModule> module(new DriverModule());
    module->path_ = path;
    module->library_ = library;
    module->handle_ = library;
    module->getClassObject_ = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    module->canUnloadNow_ = reinterpret_cast<CanUnloadNowFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
    const auto* version = reinterpret_cast<const UMDF_VERSION_DATA*>(
        reinterpret_cast<void*>(GetProcAddress(library, "Microsoft_WDF_UMDF_Version")));
    for (const auto& [found, export_name] :
         {std::pair<bool, const char*>{module->getClassObject_ != nullptr, "DllGetClassObject"},
          {module->canUnloadNow_ != nullptr, "DllCanUnloadNow"},
          {version != nullptr, "Microsoft_WDF_UMDF_Version"}}) {
        if (!found) {
            throw ModuleLoadError(name + " is not a driver module: it does not export " +
                                  export_name);
        }
    }
    module->version_ = *version;
    if (!VersionSupported(module->version_)) {
        throw ModuleLoadError(name + " is built for framework version " +
                              VersionText(module->version_) + "; this host runs " +
                              VersionText(kFrameworkVersion));
    }
    closer.keep = true;
    module->loaded_ = true;
    return module;
}

DriverModule::~DriverModule() {
    Unload();
}

HRESULT DriverModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return getClassObject_(clsid, iid, object);
}

HRESULT DriverModule::CanUnloadNow() const {
    return canUnloadNow_();
}

bool DriverModule::Unload() {
    if (!loaded_) {
        return true;
    }
    loaded_ = false;
    const HRESULT canUnload = canUnloadNow_();
    if (canUnload != S_OK) {
        ReportHostError("DllCanUnloadNow of " + path_.string() + " answered " +
                        StatusText(canUnload) +
                        " after the driver was released: objects of the module are still alive; "
                        "the module stays loaded");
        return false;
    }
    FreeLibrary(static_cast<HMODULE>(library_));
    library_ = nullptr;
    return true;
}

}  // namespace zntr::host
