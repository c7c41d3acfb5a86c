#include "class_extension.h"

#include "request_io.h"
#include "standin/portabledevice.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;
namespace message = zntr::sensor_message;

SensorClassExtension::DriverCall::DriverCall(SensorClassExtension& owner) : owner_(owner) {
    std::lock_guard<std::mutex> lock(owner_.driverLock_);
    if (owner_.driver_) {
        driver_ = owner_.driver_;
        ++owner_.callsUnderWay_;
    }
}

SensorClassExtension::DriverCall::~DriverCall() {
    if (!driver_) {
        return;
    }
    driver_.Reset();
    std::lock_guard<std::mutex> lock(owner_.driverLock_);
    if (--owner_.callsUnderWay_ == 0) {
        owner_.driverIdle_.notify_all();
    }
}

bool SensorClassExtension::Answers(REFIID riid) const {
    return IsEqualIID(riid, IID_ISensorClassExtension);
}

HRESULT SensorClassExtension::Initialize(IUnknown* pWdfDeviceUnknown,
                                         IUnknown* pSensorDriverUnknown) {
    if (pWdfDeviceUnknown == nullptr || pSensorDriverUnknown == nullptr) {
        return E_POINTER;
    }
    ComPtr<ISensorDriver> driver;
    HRESULT hr = pSensorDriverUnknown->QueryInterface(
        IID_ISensorDriver, reinterpret_cast<void**>(driver.GetAddressOf()));
    if (FAILED(hr)) {
        return hr;
    }
    {
        std::lock_guard<std::mutex> lock(driverLock_);
        if (driver_) {
            return E_UNEXPECTED;
        }
        device_ = pWdfDeviceUnknown;
        driver_ = driver;
        sensorIds_.reset();
    }
    files_.Open();
    return S_OK;
}

HRESULT SensorClassExtension::Uninitialize() {
    {
        std::lock_guard<std::mutex> lock(driverLock_);
        if (!driver_) {
            return S_OK;
        }
    }
    // No file can start anything new once the table is closed; the links the files hold are
    // undone while the driver is still there, so that its client counts go back to zero.
    Deliveries deliveries;
    for (const std::shared_ptr<ClientFile>& file :
         files_.Close(message::kStatusEnded, &deliveries)) {
        Unlink(*file);
    }
    Complete(deliveries);

    ComPtr<ISensorDriver> driver;
    ComPtr<IUnknown> device;
    {
        std::unique_lock<std::mutex> lock(driverLock_);
        driver.Swap(driver_);
        device.Swap(device_);
        sensorIds_.reset();
        driverIdle_.wait(lock, [this] { return callsUnderWay_ == 0; });
    }
    return S_OK;
}

HRESULT SensorClassExtension::ProcessIoControl(IWDFIoRequest* pRequest) {
    if (pRequest == nullptr) {
        return E_POINTER;
    }
    ULONG controlCode = 0;
    SIZE_T inputBytes = 0;
    SIZE_T outputBytes = 0;
    pRequest->GetDeviceIoControlParameters(&controlCode, &inputBytes, &outputBytes);
    if (!IS_WPD_IOCTL(controlCode)) {
        pRequest->CompleteWithInformation(message::kStatusNotSupported, 0);
        return message::kStatusNotSupported;
    }

    ComPtr<IWDFMemory> input;
    const std::span<const std::uint8_t> bytes = InputOf(pRequest, &input);
    message::Request request;
    HRESULT hr = message::DecodeRequest(bytes, &request);
    if (FAILED(hr)) {
        CompleteWithRefusal(pRequest, hr);
        return hr;
    }
    const message::CommandInfo* info =
        message::FindCommand(static_cast<std::uint16_t>(request.command));
    if (controlCode == IOCTL_WPD_MESSAGE_READ_ACCESS && info->changesSensor) {
        CompleteWithRefusal(pRequest, message::kStatusReadOnlyAccess);
        return message::kStatusReadOnlyAccess;
    }
    ComPtr<IWDFFile> file;
    pRequest->GetFileObject(file.GetAddressOf());
    if (!file) {
        CompleteWithRefusal(pRequest, E_INVALIDARG);
        return E_INVALIDARG;
    }

    if (request.command == message::Command::kWaitForEvent) {
        Deliveries deliveries;
        if (std::shared_ptr<ClientFile> entry = files_.Find(file.Get())) {
            files_.Wait(*entry, pRequest, OutputCapacityOf(pRequest), &deliveries);
        } else {
            deliveries.push_back({pRequest, message::kStatusNotReady, nullptr, 0});
        }
        Complete(deliveries);
        return S_OK;
    }

    message::Answer answer;
    answer.command = request.command;
    answer.status = Answer(request, file.Get(), &answer);
    const std::vector<std::uint8_t> encoded = message::EncodeAnswer(answer);
    if (encoded.empty()) {
        CompleteWithRefusal(pRequest, message::kStatusUnencodable);
    } else {
        CompleteWithAnswer(pRequest, encoded);
    }
    return S_OK;
}

HRESULT SensorClassExtension::Answer(const message::Request& request, IWDFFile* file,
                                     message::Answer* answer) {
    const message::CommandInfo* info =
        message::FindCommand(static_cast<std::uint16_t>(request.command));
    if (info->answer != message::Payload::kNone) {
        return Query(request, file, answer);
    }
    HRESULT hr = CheckSensorId(request.sensorId);
    if (FAILED(hr)) {
        return hr;
    }
    const std::shared_ptr<ClientFile> entry = files_.Find(file);
    if (!entry) {
        return message::kStatusNotReady;
    }
    switch (request.command) {
        case message::Command::kConnect:
            return Connect(*entry, request.sensorId);
        case message::Command::kDisconnect:
            return Disconnect(*entry, request.sensorId);
        case message::Command::kSubscribe:
            return Subscribe(*entry, request.sensorId);
        case message::Command::kUnsubscribe:
            return Unsubscribe(*entry, request.sensorId);
        default:
            return message::kStatusNotSupported;
    }
}

}  // namespace zntr::host
