// The driver module as Windows loads it: LoadLibrary maps the DLL and its loader calls DllMain
// for the process attach (a FALSE answer fails the load, with the detach already called);
// FreeLibrary calls it for the detach. The checks of the exports and the framework version are
// shared with the Linux loader (driver_module_common.cpp).
#include <string>

#include "driver_module.h"

namespace zntr::host {

namespace {

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
    module->CheckExports(name, version);
    closer.keep = true;
    module->loaded_ = true;
    return module;
}

void DriverModule::ReleaseLibrary() {
    FreeLibrary(static_cast<HMODULE>(library_));
    library_ = nullptr;
}

}  // namespace zntr::host
