#include "class_extension_session.h"

#include "framework_device.h"
#include "framework_request.h"
#include "sensor_class_extension.h"
#include "standin/com_helpers.h"

namespace zntr::test {

using Microsoft::WRL::ComPtr;

bool SentRequest::Completed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

bool SentRequest::WaitCompleted(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return completed_.wait_for(lock, timeout, [this] { return done_; });
}

HRESULT SentRequest::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

std::vector<std::uint8_t> SentRequest::Data() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
}

ClassExtensionSession::ClassExtensionSession() : driver_(new FakeSensorDriver()) {
    driver_->Release();  // the ComPtr holds the one reference
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    previousSink_ = zntr::host::SetHostReportSink(
        [this](zntr::host::ReportKind kind, std::string_view message) {
            std::lock_guard<std::mutex> lock(errorsMutex_);
            if (kind == zntr::host::ReportKind::kError) {
                errors_.emplace_back(message);
            }
        });
    zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device_.GetAddressOf());
    zntr::host::CreateSensorClassExtension(IID_ISensorClassExtension,
                                           reinterpret_cast<void**>(extension_.GetAddressOf()));
    extension_->Initialize(device_.Get(), driver_.Get());
}

ClassExtensionSession::~ClassExtensionSession() {
    extension_->Uninitialize();
    extension_ = nullptr;
    driver_ = nullptr;
    device_ = nullptr;
    zntr::host::SetHostReportSink(std::move(previousSink_));
    CoUninitialize();
}

ComPtr<zntr::host::FrameworkFile> ClassExtensionSession::NewFile(const std::string& name) {
    ComPtr<zntr::host::FrameworkFile> file = zntr::host::FrameworkFile::Create(device_.Get());
    driver_->Name(file.Get(), name);
    return file;
}

std::shared_ptr<SentRequest> ClassExtensionSession::Send(zntr::host::FrameworkFile* file,
                                                         std::span<const std::uint8_t> message,
                                                         std::size_t outputBytes,
                                                         ULONG controlCode) {
    auto sent = std::make_shared<SentRequest>();
    ComPtr<zntr::host::FrameworkRequest> request =
        zntr::host::FrameworkRequest::DeviceIoControlRequest(
            file, controlCode, message, outputBytes,
            [sent](const zntr::host::RequestResult& result) {
                std::lock_guard<std::mutex> lock(sent->mutex_);
                sent->done_ = true;
                sent->status_ = result.status;
                sent->data_ = result.data;
                sent->completed_.notify_all();
            });
    extension_->ProcessIoControl(request.Get());
    return sent;
}

HRESULT ClassExtensionSession::PostData(double latitude, const std::wstring& sensorId) {
    ComPtr<IPortableDeviceValues> parameters;
    ComPtr<IPortableDeviceValuesCollection> collection;
    CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IPortableDeviceValues,
                     reinterpret_cast<void**>(parameters.GetAddressOf()));
    CoCreateInstance(CLSID_PortableDeviceValuesCollection, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IPortableDeviceValuesCollection,
                     reinterpret_cast<void**>(collection.GetAddressOf()));
    parameters->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
    zntr::platform::PropVariant value;
    value.vt = VT_R8;
    value.dblVal = latitude;
    parameters->SetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value);
    collection->Add(parameters.Get());
    std::wstring id = sensorId;
    return extension_->PostEvent(id.data(), collection.Get());
}

HRESULT ClassExtensionSession::PostState(SensorState state, const std::wstring& sensorId) {
    std::wstring id = sensorId;
    return extension_->PostStateChange(id.data(), state);
}

std::vector<std::string> ClassExtensionSession::HostErrors() const {
    std::lock_guard<std::mutex> lock(errorsMutex_);
    return errors_;
}

}  // namespace zntr::test
