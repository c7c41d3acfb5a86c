// What the Linux and the Windows loaders share: the checks of the exports and the framework
// version, the calls into the module, and the DllCanUnloadNow rule of the unload.
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

// The framework's rule: the same major version, and a minor version the framework has.
bool VersionSupported(const UMDF_VERSION_DATA& version) {
    return version.MajorNumber == kFrameworkVersion.MajorNumber &&
           version.MinorNumber <= kFrameworkVersion.MinorNumber;
}

}  // namespace

void DriverModule::CheckExports(const std::string& name, const UMDF_VERSION_DATA* version) {
    for (const auto& [found, export_name] :
         {std::pair<bool, const char*>{getClassObject_ != nullptr, "DllGetClassObject"},
          {canUnloadNow_ != nullptr, "DllCanUnloadNow"},
          {version != nullptr, "Microsoft_WDF_UMDF_Version"}}) {
        if (!found) {
            throw ModuleLoadError(name + " is not a driver module: it does not export " +
                                  export_name);
        }
    }
    version_ = *version;
    if (!VersionSupported(version_)) {
        throw ModuleLoadError(name + " is built for framework version " + VersionText(version_) +
                              "; this host runs " + VersionText(kFrameworkVersion) +
                              " (the major versions must match and the module's minor version "
                              "may not be above the host's)");
    }
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
    ReleaseLibrary();
    return true;
}

}  // namespace zntr::host
