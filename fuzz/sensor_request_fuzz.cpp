// The sensor class extension's handling of client requests: a sequence of device I/O control
// requests, as the framework hands them over, from two client files (and requests without a
// file), with file cleanups and state posts among them, against a class extension initialised
// with a fake sensor driver. A local client is a trust boundary: a malformed or hostile message
// gets an error, never a crash, a hang or a leak.
//
// Input (FuzzedDataProvider): one shape byte per step taken from the end of the input, and the
// message bytes of a request from its front, separated by a backslash and any other character (a
// doubled backslash stands for one). Shape byte, low bits first:
//   bits 0-1  0 or 1: a request of that file; 2: a request without a file; 3: no request, but
//             the action of bits 2-3 (clean up file 0 or 1, post a state for the sensor, post a
//             state for a sensor the driver does not have)
//   bits 2-3  control code: read-write message (0, 1), read-only message (2), another code (3)
//   bits 4-5  output buffer: 4096, none, 16 or 64 bytes
//
// Beyond that, it checks:
// - every request is completed at most once, and only a wait for an event stays pending;
// - a failed completion delivers no bytes; a successful one delivers a well-formed answer;
// - the driver's client and subscriber counts never go negative or past the files there are,
//   and come back to zero when both files are cleaned up;
// - after Uninitialize every request has been completed exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fake_framework.h"
#include "fake_sensor_driver.h"
#include "fuzz_check.h"
#include "sensor_class_extension.h"
#include "sensor_message.h"
#include "wdf_device_stub.h"

namespace {

namespace message = zntr::sensor_message;
using Microsoft::WRL::ComPtr;
using zntr::test::FakeFile;
using zntr::test::FakeRequest;
using zntr::test::FakeSensorDriver;

constexpr std::size_t kLongestMessage = 8192;
constexpr ULONG kOtherControlCode = 0x00220004;
constexpr std::array<ULONG, 4> kControlCodes = {IOCTL_WPD_MESSAGE_READWRITE_ACCESS,
                                                IOCTL_WPD_MESSAGE_READWRITE_ACCESS,
                                                IOCTL_WPD_MESSAGE_READ_ACCESS, kOtherControlCode};
constexpr std::array<std::size_t, 4> kOutputSizes = {4096, 0, 16, 64};

bool IsWait(std::span<const std::uint8_t> bytes) {
    message::Request request;
    return message::DecodeRequest(bytes, &request) == S_OK &&
           request.command == message::Command::kWaitForEvent;
}

void CheckCompletion(FakeRequest& request) {
    FUZZ_CHECK(request.Completions() <= 1, "completed at most once");
    if (!request.Completed()) {
        return;
    }
    const std::vector<std::uint8_t> answer = request.Data();
    if (FAILED(request.Status())) {
        FUZZ_CHECK(answer.empty(), "a refusal delivers no bytes");
        return;
    }
    message::Header header;
    FUZZ_CHECK(message::DecodeHeader(answer, &header) == S_OK, "an answer has a header");
    if (header.status != message::kStatusBufferTooSmall) {
        message::Answer decoded;
        FUZZ_CHECK(message::DecodeAnswer(answer, &decoded) == S_OK, "an answer decodes");
    }
}

void CheckCounts(FakeSensorDriver& driver) {
    FUZZ_CHECK(driver.Clients() >= 0 && driver.Clients() <= 2, "clients within the files");
    FUZZ_CHECK(driver.Subscribers() >= 0 && driver.Subscribers() <= driver.Clients(),
               "subscribers within the clients");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = [] {
        zntr::fuzz::DropDebugOutput();
        return CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK;
    }();
    FUZZ_CHECK(once, "COM initialised");

    ComPtr<FakeSensorDriver> driver = FakeSensorDriver::Make();
    ComPtr<IWDFDevice2> device;
    device.Attach(new zntr::test::WdfDeviceStub());
    ComPtr<ISensorClassExtension> extension;
    FUZZ_CHECK(
        zntr::host::CreateSensorClassExtension(
            IID_ISensorClassExtension, reinterpret_cast<void**>(extension.GetAddressOf())) == S_OK,
        "class extension created");
    FUZZ_CHECK(extension->Initialize(device.Get(), driver.Get()) == S_OK, "initialised");

    const std::array<ComPtr<FakeFile>, 2> files = {FakeFile::Make(), FakeFile::Make()};
    std::vector<ComPtr<FakeRequest>> requests;
    std::wstring sensorId = zntr::test::kFakeSensorId;
    std::wstring otherId = L"NoSuchSensor";

    FuzzedDataProvider provider(data, size);
    while (provider.remaining_bytes() > 0) {
        const std::uint8_t shape = provider.ConsumeIntegral<std::uint8_t>();
        const unsigned who = shape & 3u;
        const unsigned code = (shape >> 2) & 3u;
        if (who == 3) {
            switch (code) {
                case 0:
                case 1:
                    extension->CleanupFile(files[code].Get());
                    break;
                case 2:
                    extension->PostStateChange(sensorId.data(), SENSOR_STATE_READY);
                    break;
                default:
                    extension->PostStateChange(otherId.data(), SENSOR_STATE_NO_DATA);
                    break;
            }
        } else {
            const std::string text = provider.ConsumeRandomLengthString(kLongestMessage);
            const std::span<const std::uint8_t> bytes(
                reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
            IWDFFile* file = who < 2 ? files[who].Get() : nullptr;
            ComPtr<FakeRequest> request = FakeRequest::Make(file, kControlCodes[code], bytes,
                                                            kOutputSizes[(shape >> 4) & 3u]);
            const HRESULT hr = extension->ProcessIoControl(request.Get());
            (void)hr;
            if (!request->Completed()) {
                FUZZ_CHECK(IsWait(bytes), "only a wait stays pending");
            }
            requests.push_back(request);
        }
        for (const ComPtr<FakeRequest>& request : requests) {
            CheckCompletion(*request.Get());
        }
        CheckCounts(*driver.Get());
    }

    for (const ComPtr<FakeFile>& file : files) {
        extension->CleanupFile(file.Get());
    }
    FUZZ_CHECK(driver->Clients() == 0 && driver->Subscribers() == 0,
               "cleanup takes every file off the driver");
    extension->Uninitialize();
    for (const ComPtr<FakeRequest>& request : requests) {
        FUZZ_CHECK(request->Completions() == 1, "every request completed once in the end");
    }
    return 0;
}
