#include "framework_host.h"

#include <utility>

#include <nlohmann/json.hpp>

#include "host_report.h"
#include "standin/combaseapi.h"
#include "standin/stringapiset.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;
using zntr::protocol::HostCommand;

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                            size, nullptr, nullptr);
    }
    return result;
}

}  // namespace

std::unique_ptr<FrameworkHost> FrameworkHost::Start(FrameworkHostOptions options) {
    std::unique_ptr<FrameworkHost> host(new FrameworkHost(std::move(options)));
    try {
        host->StartSteps();
    } catch (...) {
        host->Stop();
        throw;
    }
    return host;
}

void FrameworkHost::StartSteps() {
    // The host's threads, and the driver's, are in the multithreaded apartment, as the
    // framework's host process is.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(com)) {
        throw HostStartError("cannot enter COM: " + StatusText(com));
    }
    enteredCom_ = true;

    for (const HostComponent& component : options_.components) {
        DWORD cookie = 0;
        const HRESULT hr = component.add(&cookie);
        if (FAILED(hr)) {
            throw HostStartError("cannot register the " + component.name + ": " + StatusText(hr));
        }
        registered_.emplace_back(&component, cookie);
    }

    try {
        module_ = DriverModule::Load(options_.modulePath);
    } catch (const ModuleLoadError& error) {
        throw HostStartError(error.what());
    }
    const std::string module = options_.modulePath.string();

    HRESULT hr = module_->GetClassObject(options_.driverClass, IID_IClassFactory,
                                         reinterpret_cast<void**>(factory_.GetAddressOf()));
    if (FAILED(hr) || !factory_) {
        throw HostStartError(module +
                             " does not serve the driver class: DllGetClassObject "
                             "answered " +
                             StatusText(hr));
    }
    hr = factory_->CreateInstance(nullptr, IID_IDriverEntry,
                                  reinterpret_cast<void**>(driverEntry_.GetAddressOf()));
    if (FAILED(hr) || !driverEntry_) {
        throw HostStartError(
            module + ": the class factory made no driver (IDriverEntry): " + StatusText(hr));
    }

    driver_ = FrameworkDriver::Create();
    hr = driverEntry_->OnInitialize(driver_.Get());
    if (FAILED(hr)) {
        throw HostStartError(module + ": OnInitialize failed with " + StatusText(hr));
    }
    initialized_ = true;

    std::shared_ptr<DeviceState> state;
    hr = DeviceState::Open(options_.deviceInstanceId, options_.stateFolder, state);
    if (FAILED(hr)) {
        throw HostStartError("cannot read the device's state under " +
                             options_.stateFolder.string() + ": " + StatusText(hr));
    }
    ComPtr<DeviceInitialize> init = DeviceInitialize::Create(options_.deviceInstanceId, state);
    hr = driverEntry_->OnDeviceAdd(driver_.Get(), init.Get());
    std::vector<ComPtr<FrameworkDevice>> devices = driver_->TakeDevices();
    if (!devices.empty()) {
        device_ = devices.front();
    }
    if (FAILED(hr)) {
        throw HostStartError(module + ": OnDeviceAdd failed with " + StatusText(hr));
    }
    if (!device_) {
        throw HostStartError(module + ": OnDeviceAdd made no framework device");
    }
    lifecycle_ = std::make_unique<DeviceLifecycle>(device_);
    hr = lifecycle_->Start();
    if (FAILED(hr)) {
        throw HostStartError(module + ": the device did not start: " + StatusText(hr));
    }
}

FrameworkHost::~FrameworkHost() {
    Stop();
}

HRESULT FrameworkHost::RunCommand(HostCommand command) {
    switch (command) {
        case HostCommand::kPowerSleep:
            return lifecycle_->Sleep(PowerActionSleep);
        case HostCommand::kPowerHibernate:
            return lifecycle_->Sleep(PowerActionHibernate);
        case HostCommand::kPowerWake:
            return lifecycle_->Wake();
        case HostCommand::kQueryRemove:
            return lifecycle_->QueryRemove();
        case HostCommand::kQueryStop:
            return lifecycle_->QueryStop();
        case HostCommand::kSurpriseRemove:
            return lifecycle_->SurpriseRemove();
        case HostCommand::kRelease:
            return lifecycle_->Release();
        case HostCommand::kStatus:
        case HostCommand::kStop:
            break;
    }
    return E_INVALIDARG;
}

std::string FrameworkHost::StatusJson(std::size_t openFiles) const {
    const LifecycleStatus status = lifecycle_->Status();
    const UMDF_VERSION_DATA& version = module_->Version();
    nlohmann::ordered_json json;
    json["module"] = options_.modulePath.string();
    json["moduleFrameworkVersion"] = std::to_string(version.MajorNumber) + "." +
                                     std::to_string(version.MinorNumber) + "." +
                                     std::to_string(version.ServiceNumber);
    json["device"] = Utf8(options_.deviceInstanceId);
    json["pnp"] = PnpStateName(status.pnp);
    json["power"] = status.inD0 ? "D0" : "D3";
    json["lowPowerAction"] = PowerActionName(status.lowPowerAction);
    json["openFiles"] = openFiles;
    json["outstandingRequests"] = device_->OutstandingRequests();
    return json.dump();
}

bool FrameworkHost::Stop() {
    if (stopped_) {
        return clean_;
    }
    stopped_ = true;
    if (lifecycle_) {
        lifecycle_->ReleaseForShutdown();
        lifecycle_.reset();
    }
    if (device_) {
        const std::size_t left = device_->Delete();
        if (left > 0) {
            ReportHostError(std::to_string(left) +
                            " request(s) were never completed by the driver before its device "
                            "was deleted");
            clean_ = false;
        }
        device_ = nullptr;
    }
    if (driverEntry_ && initialized_) {
        driverEntry_->OnDeinitialize(driver_.Get());
    }
    driverEntry_ = nullptr;
    factory_ = nullptr;
    driver_ = nullptr;
    if (module_) {
        // A module that cannot be unloaded stays mapped for the rest of the process.
        if (!module_->Unload()) {
            clean_ = false;
        }
        module_.reset();
    }
    for (auto it = registered_.rbegin(); it != registered_.rend(); ++it) {
        const HRESULT hr = it->first->remove(it->second);
        if (FAILED(hr)) {
            ReportHostError("cannot withdraw the " + it->first->name + ": " + StatusText(hr));
            clean_ = false;
        }
    }
    registered_.clear();
    if (enteredCom_) {
        CoUninitialize();
        enteredCom_ = false;
    }
    return clean_;
}

}  // namespace zntr::host
