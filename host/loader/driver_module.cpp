#include "driver_module.h"

#include <dlfcn.h>
#include <link.h>

#include <string>

#include "module_entry_point.h"
#include "standin/loader_control.h"

namespace zntr::host {

namespace {

// Unmaps a library whose load failed.
struct LibraryCloser {
    void* library;
    bool keep = false;
    ~LibraryCloser() {
        if (!keep && library != nullptr) {
            dlclose(library);
        }
    }
};

}  // namespace

std::unique_ptr<DriverModule> DriverModule::Load(const std::filesystem::path& path) {
    const std::string name = path.string();
    if (!std::filesystem::exists(path)) {
        throw ModuleLoadError("cannot load " + name + ": no such file");
    }
    // A path with no slash would be searched for on the library path; the host loads the file
    // it was given.
    const std::filesystem::path file = path.has_parent_path() ? path : "./" / path;
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        throw ModuleLoadError("cannot load " + name + ": " + (reason ? reason : "dlopen failed"));
    }
    LibraryCloser closer{library};

    std::unique_ptr<DriverModule> module(new DriverModule());
    module->path_ = path;
    module->library_ = library;
    module->getClassObject_ =
        reinterpret_cast<GetClassObjectFunction>(dlsym(library, "DllGetClassObject"));
    module->canUnloadNow_ =
        reinterpret_cast<CanUnloadNowFunction>(dlsym(library, "DllCanUnloadNow"));
    const auto* version =
        static_cast<const UMDF_VERSION_DATA*>(dlsym(library, "Microsoft_WDF_UMDF_Version"));
    module->CheckExports(name, version);

    // The module's load address: its handle, and the base its entry point is relative to.
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        throw ModuleLoadError("cannot load " + name + ": its load address is unknown");
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(module->getClassObject_), &info) == 0) {
        throw ModuleLoadError("cannot load " + name + ": its load address is unknown");
    }
    module->handle_ = static_cast<HMODULE>(info.dli_fbase);
    std::uint64_t entryOffset = 0;
    std::string reason;
    if (!ReadEntryPointOffset(map->l_name, entryOffset, &reason)) {
        throw ModuleLoadError("cannot load " + name + ": " + reason);
    }
    if (entryOffset == 0) {
        throw ModuleLoadError(name +
                              " has no entry point (a driver module names DllMain as its "
                              "entry point when it is linked)");
    }
    const auto entry = static_cast<std::uintptr_t>(map->l_addr + entryOffset);
    Dl_info entryInfo{};
    if (dladdr(reinterpret_cast<void*>(entry), &entryInfo) == 0 ||
        entryInfo.dli_fbase != info.dli_fbase) {
        throw ModuleLoadError(name + ": its entry point lies outside the module");
    }
    module->entry_ = reinterpret_cast<EntryFunction>(entry);

    if (!module->entry_(module->handle_, DLL_PROCESS_ATTACH, nullptr)) {
        // As on Windows, a module that refuses the attach is told of the detach at once, then
        // unloaded.
        module->entry_(module->handle_, DLL_PROCESS_DETACH, nullptr);
        zntr::platform::ForgetModule(module->handle_);
        throw ModuleLoadError(name + ": DllMain refused the process attach (it returned FALSE)");
    }
    closer.keep = true;
    module->loaded_ = true;
    return module;
}

void DriverModule::ReleaseLibrary() {
    entry_(handle_, DLL_PROCESS_DETACH, nullptr);
    zntr::platform::ForgetModule(handle_);
    dlclose(library_);
    library_ = nullptr;
}

}  // namespace zntr::host
