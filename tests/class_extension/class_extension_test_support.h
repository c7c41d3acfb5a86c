// The class extension's world in the tests: the thread in COM, a class extension initialised with
// a framework device and the fake sensor driver, and requests made and answered as the framework
// would hand them over.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "client_files.h"
#include "fake_framework.h"
#include "fake_sensor_driver.h"
#include "sensor_class_extension.h"
#include "sensor_message.h"
#include "wdf_device_stub.h"

namespace zntr::test {

namespace message = zntr::sensor_message;
using message::Command;

class ClassExtensionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        driver_ = FakeSensorDriver::Make();
        device_.Attach(new WdfDeviceStub());
        ASSERT_EQ(
            zntr::host::CreateSensorClassExtension(
                IID_ISensorClassExtension, reinterpret_cast<void**>(extension_.GetAddressOf())),
            S_OK);
        ASSERT_EQ(extension_->Initialize(device_.Get(), driver_.Get()), S_OK);
    }

    void TearDown() override {
        extension_->Uninitialize();
        extension_ = nullptr;
        CoUninitialize();
    }

    static message::Request Named(Command command, std::wstring sensorId = kFakeSensorId) {
        message::Request request;
        request.command = command;
        request.sensorId = std::move(sensorId);
        return request;
    }

    // The request made and handed to ProcessIoControl; it may still be pending.
    ComPtr<FakeRequest> SendBytes(IWDFFile* file, std::span<const std::uint8_t> bytes,
                                  std::size_t outputBytes = 4096,
                                  ULONG controlCode = IOCTL_WPD_MESSAGE_READWRITE_ACCESS) {
        ComPtr<FakeRequest> request = FakeRequest::Make(file, controlCode, bytes, outputBytes);
        lastResult_ = extension_->ProcessIoControl(request.Get());
        return request;
    }
    ComPtr<FakeRequest> Send(IWDFFile* file, const message::Request& request,
                             std::size_t outputBytes = 4096,
                             ULONG controlCode = IOCTL_WPD_MESSAGE_READWRITE_ACCESS) {
        return SendBytes(file, message::EncodeRequest(request), outputBytes, controlCode);
    }

    // The answer a completed request carries (its completion must be a success).
    static message::Answer AnswerOf(const ComPtr<FakeRequest>& request) {
        message::Answer answer;
        EXPECT_TRUE(request->Completed());
        EXPECT_EQ(request->Status(), S_OK);
        EXPECT_EQ(message::DecodeAnswer(request->Data(), &answer), S_OK);
        return answer;
    }
    // Sends the request and gives the answer's status (and the answer).
    HRESULT Exchange(IWDFFile* file, const message::Request& request,
                     message::Answer* answer = nullptr) {
        ComPtr<FakeRequest> sent = Send(file, request);
        EXPECT_EQ(sent->Completions(), 1);
        message::Answer received = AnswerOf(sent);
        EXPECT_EQ(received.command, request.command);
        if (answer != nullptr) {
            *answer = received;
        }
        return received.status;
    }
    HRESULT Exchange(IWDFFile* file, Command command) { return Exchange(file, Named(command)); }

    // A wait for an event, left with the class extension.
    ComPtr<FakeRequest> Wait(IWDFFile* file, std::size_t outputBytes = 4096) {
        return Send(file, Named(Command::kWaitForEvent, L""), outputBytes,
                    IOCTL_WPD_MESSAGE_READ_ACCESS);
    }
    // The event a completed wait delivered.
    static message::Event EventOf(const ComPtr<FakeRequest>& wait) {
        const message::Answer answer = AnswerOf(wait);
        EXPECT_EQ(answer.command, Command::kWaitForEvent);
        EXPECT_EQ(answer.status, S_OK);
        return answer.event;
    }

    // A file connected (and subscribed) to the fake sensor.
    ComPtr<FakeFile> ConnectedFile(bool subscribed) {
        ComPtr<FakeFile> file = FakeFile::Make();
        EXPECT_EQ(Exchange(file.Get(), Command::kConnect), S_OK);
        if (subscribed) {
            EXPECT_EQ(Exchange(file.Get(), Command::kSubscribe), S_OK);
        }
        return file;
    }

    // A data event as the driver's event thread posts it: one element with the event ID and
    // the latitude.
    HRESULT PostData(double latitude, std::wstring sensorId = kFakeSensorId) {
        ComPtr<IPortableDeviceValues> parameters;
        ComPtr<IPortableDeviceValuesCollection> collection;
        EXPECT_EQ(Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, parameters), S_OK);
        EXPECT_EQ(Create(CLSID_PortableDeviceValuesCollection, IID_IPortableDeviceValuesCollection,
                         collection),
                  S_OK);
        parameters->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_R8;
        value.dblVal = latitude;
        parameters->SetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value);
        collection->Add(parameters.Get());
        return extension_->PostEvent(sensorId.data(), collection.Get());
    }
    HRESULT PostState(SensorState state, std::wstring sensorId = kFakeSensorId) {
        return extension_->PostStateChange(sensorId.data(), state);
    }

    static double LatitudeOf(const message::Event& event) {
        const message::Value* latitude =
            message::FindValue(event.parameters, SENSOR_DATA_TYPE_LATITUDE_DEGREES);
        return latitude != nullptr && std::holds_alternative<double>(*latitude)
                   ? std::get<double>(*latitude)
                   : -1.0;
    }

    template <typename Interface>
    static HRESULT Create(REFCLSID clsid, REFIID iid, ComPtr<Interface>& object) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
    }

    ComPtr<FakeSensorDriver> driver_;
    ComPtr<IWDFDevice2> device_;
    ComPtr<ISensorClassExtension> extension_;
    std::atomic<HRESULT> lastResult_{S_OK};  // of the last ProcessIoControl
};

}  // namespace zntr::test
