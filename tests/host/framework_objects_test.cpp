// The framework's objects as a driver sees them: the instance ID's size rules, the settings of
// the device-initialisation object, the driver object's device creation and version answers,
// the queue configuration rules, memory bounds, and a request's single completion.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_initialize.h"
#include "framework_driver.h"
#include "framework_fakes.h"
#include "framework_memory.h"
#include "framework_request.h"
#include "host_report.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::host::DeviceInitialize;
using zntr::host::DeviceState;
using zntr::host::FrameworkDevice;
using zntr::host::FrameworkDriver;
using zntr::host::FrameworkFile;
using zntr::host::FrameworkMemory;
using zntr::host::FrameworkRequest;
using zntr::host::RequestResult;
using zntr::test::FakeCallbacks;
using zntr::test::Offers;

constexpr wchar_t kId[] = L"ROOT\\ZNTR\\0000";  // 14 characters

ComPtr<DeviceInitialize> MakeInit(const wchar_t* id = kId) {
    std::shared_ptr<DeviceState> state;
    EXPECT_EQ(DeviceState::Open(id, {}, state), S_OK);
    return DeviceInitialize::Create(id, state);
}

// Collects host errors while it lives.
class HostErrors {
  public:
    HostErrors() {
        previous_ = zntr::host::SetHostReportSink(
            [this](zntr::host::ReportKind kind, std::string_view message) {
                if (kind == zntr::host::ReportKind::kError) {
                    errors.emplace_back(message);
                }
            });
    }
    ~HostErrors() { zntr::host::SetHostReportSink(std::move(previous_)); }
    std::vector<std::string> errors;

  private:
    zntr::host::HostReportSink previous_;
};

TEST(RetrieveDeviceInstanceIdTest, FollowsTheFrameworksSizeRules) {
    const ComPtr<DeviceInitialize> init = MakeInit();
    struct Case {
        const char* legend;
        bool buffer;
        DWORD size;
        HRESULT result;
        DWORD sizeAfter;
        bool text;
    };
    const Case cases[] = {
        {"size query: null buffer, size 0", false, 0, S_OK, 15, false},
        {"null buffer with a size is an invalid argument", false, 15, E_INVALIDARG, 15, false},
        {"a buffer one short of the NUL", true, 14, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
         15, false},
        {"a buffer of exactly the size needed", true, 15, S_OK, 15, true},
        {"a buffer larger than needed (the driver's 1024)", true, 1024, S_OK, 15, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<wchar_t> buffer(2048, L'#');
        DWORD size = c.size;
        EXPECT_EQ(init->RetrieveDeviceInstanceId(c.buffer ? buffer.data() : nullptr, &size),
                  c.result);
        EXPECT_EQ(size, c.sizeAfter);
        if (c.text) {
            EXPECT_EQ(std::wstring(buffer.data()), kId);
        } else {
            EXPECT_EQ(buffer[0], L'#') << "nothing written";
        }
    }
    EXPECT_EQ(init->RetrieveDeviceInstanceId(nullptr, nullptr), E_POINTER);
}

TEST(DeviceInitializeTest, RecordsTheSettingsADeviceIsMadeWith) {
    const ComPtr<DeviceInitialize> init = MakeInit();
    EXPECT_EQ(init->Settings().lockingConstraint, WdfDeviceLevel) << "the framework's default";
    EXPECT_FALSE(init->Settings().powerPolicyOwner);
    init->SetLockingConstraint(None);
    init->SetPowerPolicyOwnership(TRUE);
    init->AutoForwardCreateCleanupClose(WdfFalse);
    init->SetFilter();
    init->SetPnpCapability(WdfPnpCapSurpriseRemovalOK, WdfTrue);
    const auto settings = init->Settings();
    EXPECT_EQ(settings.lockingConstraint, None);
    EXPECT_TRUE(settings.powerPolicyOwner);
    EXPECT_EQ(settings.autoForwardCreateCleanupClose, WdfFalse);
    EXPECT_TRUE(settings.filter);
    EXPECT_EQ(init->GetPnpCapability(WdfPnpCapSurpriseRemovalOK), WdfTrue);
    EXPECT_EQ(init->GetPnpCapability(WdfPnpCapRemovable), WdfUseDefault);
}

TEST(FrameworkDriverTest, MakesOneDeviceWithTheCallbacksTheObjectAnswers) {
    const ComPtr<FrameworkDriver> driver = FrameworkDriver::Create();
    const ComPtr<DeviceInitialize> init = MakeInit();
    init->SetLockingConstraint(None);
    Offers offers;
    offers.hardware = true;
    offers.cleanup = true;
    const ComPtr<FakeCallbacks> callbacks = FakeCallbacks::Make(offers);
    ComPtr<IWDFDevice> device;
    ASSERT_EQ(driver->CreateDevice(init.Get(), static_cast<IPnpCallbackHardware*>(callbacks.Get()),
                                   device.GetAddressOf()),
              S_OK);
    const auto made = driver->TakeDevices();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(static_cast<IWDFDevice*>(made[0].Get()), device.Get());
    EXPECT_TRUE(made[0]->Callbacks().hardware);
    EXPECT_TRUE(made[0]->Callbacks().cleanup);
    EXPECT_FALSE(made[0]->Callbacks().pnp) << "not answered by the callback object";
    EXPECT_FALSE(made[0]->SerializesCallbacks()) << "the locking constraint given was None";
    ComPtr<IWDFDriver> owner;
    device->GetDriver(owner.ReleaseAndGetAddressOf());
    EXPECT_EQ(owner.Get(), static_cast<IWDFDriver*>(driver.Get()));

    // One device per device-initialisation object, and only the framework's own objects.
    ComPtr<IWDFDevice> second;
    EXPECT_EQ(driver->CreateDevice(init.Get(), nullptr, second.GetAddressOf()), E_INVALIDARG);
    EXPECT_EQ(driver->CreateDevice(MakeInit().Get(), nullptr, nullptr), E_POINTER);
    EXPECT_EQ(driver->CreateDevice(nullptr, nullptr, second.GetAddressOf()), E_INVALIDARG);
    EXPECT_FALSE(second);
    for (const auto& each : made) {
        each->Delete();
    }
}

TEST(FrameworkDriverTest, OffersItsOwnVersionAndOlderMinorOnes) {
    const ComPtr<FrameworkDriver> driver = FrameworkDriver::Create();
    struct Case {
        UMDF_VERSION_DATA version;
        BOOL available;
    };
    const Case cases[] = {
        {{1, 9, 0}, TRUE},    // its own
        {{1, 5, 7}, TRUE},    // an older minor version, any service number
        {{1, 9, 1}, FALSE},   // a newer service of its minor version
        {{1, 11, 0}, FALSE},  // a newer minor version
        {{2, 0, 0}, FALSE},   // another major version
        {{0, 9, 0}, FALSE},
    };
    for (const Case& c : cases) {
        UMDF_VERSION_DATA version = c.version;
        EXPECT_EQ(driver->IsVersionAvailable(&version), c.available)
            << version.MajorNumber << "." << version.MinorNumber << "." << version.ServiceNumber;
    }
    wchar_t text[16] = {};
    DWORD size = 16;
    ASSERT_EQ(driver->RetrieveVersionString(text, &size), S_OK);
    EXPECT_EQ(std::wstring(text), L"1.9.0");
}

TEST(CreateIoQueueTest, RefusesQueuesThatCouldNeverWork) {
    struct Case {
        const char* legend;
        Offers offers;
        bool callbackObject;
        WDF_IO_QUEUE_DISPATCH_TYPE type;
        HRESULT result;
    };
    Offers none;
    Offers readOnly;
    readOnly.read = true;
    Offers all;
    all.create = all.read = all.deviceIoControl = true;
    const Case cases[] = {
        {"parallel, callback object with no queue interface", none, true,
         WdfIoQueueDispatchParallel, HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION)},
        {"sequential without a callback object", none, false, WdfIoQueueDispatchSequential,
         HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION)},
        {"manual with a read callback", readOnly, true, WdfIoQueueDispatchManual,
         HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION)},
        {"manual without queue callbacks", none, true, WdfIoQueueDispatchManual, S_OK},
        {"parallel with one queue callback", readOnly, true, WdfIoQueueDispatchParallel, S_OK},
        {"sequential with all of them", all, true, WdfIoQueueDispatchSequential, S_OK},
        {"no dispatch type", all, true, static_cast<WDF_IO_QUEUE_DISPATCH_TYPE>(0), E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ComPtr<IWDFDevice> device;
        ASSERT_EQ(zntr::host::CreateFrameworkDevice(kId, {}, device.GetAddressOf()), S_OK);
        const ComPtr<FakeCallbacks> callbacks = FakeCallbacks::Make(c.offers);
        ComPtr<IWDFIoQueue> queue;
        EXPECT_EQ(
            device->CreateIoQueue(
                c.callbackObject ? static_cast<IQueueCallbackRead*>(callbacks.Get()) : nullptr,
                TRUE, c.type, FALSE, TRUE, queue.GetAddressOf()),
            c.result);
        ComPtr<IWDFIoQueue> defaultQueue;
        device->GetDefaultIoQueue(defaultQueue.ReleaseAndGetAddressOf());
        EXPECT_EQ(defaultQueue.Get(), queue.Get()) << "the default queue is the one made, if any";
        EXPECT_EQ(SUCCEEDED(c.result), static_cast<bool>(queue));
        static_cast<FrameworkDevice*>(device.Get())->Delete();
    }
}

TEST(CreateIoQueueTest, KeepsOneDefaultQueue) {
    ComPtr<IWDFDevice> device;
    ASSERT_EQ(zntr::host::CreateFrameworkDevice(kId, {}, device.GetAddressOf()), S_OK);
    Offers offers;
    offers.read = true;
    const ComPtr<FakeCallbacks> callbacks = FakeCallbacks::Make(offers);
    IUnknown* callback = static_cast<IQueueCallbackRead*>(callbacks.Get());
    // The framework keeps the queue, so the driver need not take it.
    EXPECT_EQ(
        device->CreateIoQueue(callback, TRUE, WdfIoQueueDispatchParallel, FALSE, TRUE, nullptr),
        S_OK);
    ComPtr<IWDFIoQueue> second;
    EXPECT_EQ(device->CreateIoQueue(callback, TRUE, WdfIoQueueDispatchParallel, FALSE, TRUE,
                                    second.GetAddressOf()),
              HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(device->CreateIoQueue(callback, FALSE, WdfIoQueueDispatchParallel, FALSE, TRUE,
                                    second.GetAddressOf()),
              S_OK)
        << "a queue that is not the default one";
    ComPtr<IWDFIoQueue> defaultQueue;
    device->GetDefaultIoQueue(defaultQueue.ReleaseAndGetAddressOf());
    EXPECT_NE(defaultQueue.Get(), second.Get());
    ComPtr<IWDFDevice> queueDevice;
    second->GetDevice(queueDevice.ReleaseAndGetAddressOf());
    EXPECT_EQ(queueDevice.Get(), device.Get());
    static_cast<FrameworkDevice*>(device.Get())->Delete();
}

TEST(FrameworkMemoryTest, CopiesOnlyWithinItsBuffer) {
    const ComPtr<FrameworkMemory> memory = FrameworkMemory::Create(8);
    char bytes[16] = "abcdefghijklmno";
    struct Case {
        const char* legend;
        SIZE_T offset;
        SIZE_T length;
        HRESULT result;
    };
    const Case cases[] = {
        {"the whole buffer", 0, 8, S_OK},
        {"the last byte", 7, 1, S_OK},
        {"nothing at the end", 8, 0, S_OK},
        {"one byte past the end", 1, 8, E_INVALIDARG},
        {"an offset past the end", 9, 0, E_INVALIDARG},
        {"a length that wraps around", 4, ~SIZE_T{0}, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(memory->CopyFromBuffer(c.offset, bytes + c.offset, c.length), c.result);
        char out[16] = {};
        EXPECT_EQ(memory->CopyToBuffer(c.offset, out, c.length), c.result);
    }
    SIZE_T size = 0;
    EXPECT_EQ(std::memcmp(memory->GetDataBuffer(&size), "abcdefgh", 8), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(memory->GetSize(), 8u);

    // Memory over a driver's own buffer copies into it.
    char own[4] = {};
    const ComPtr<FrameworkMemory> preallocated = FrameworkMemory::CreatePreallocated(own, 4);
    EXPECT_EQ(preallocated->CopyFromMemory(memory.Get(), nullptr), E_INVALIDARG)
        << "8 bytes do not fit in 4";
    WDFMEMORY_OFFSET range{2, 4};
    EXPECT_EQ(preallocated->CopyFromMemory(memory.Get(), &range), S_OK);
    EXPECT_EQ(std::string(own, 4), "cdef");
}

TEST(FrameworkRequestTest, IsCompletedOnceAndASecondCompletionIsAHostError) {
    HostErrors errors;
    std::vector<RequestResult> results;
    const ComPtr<FrameworkRequest> request = FrameworkRequest::DeviceIoControlRequest(
        nullptr, 0x22, std::vector<std::uint8_t>{1, 2, 3}, 4,
        [&results](const RequestResult& result) { results.push_back(result); });
    ComPtr<IWDFMemory> output;
    request->GetOutputMemory(output.ReleaseAndGetAddressOf());
    ASSERT_TRUE(output);
    ASSERT_EQ(output->CopyFromBuffer(0, const_cast<char*>("wxyz"), 4), S_OK);
    request->CompleteWithInformation(S_OK, 3);
    request->Complete(E_FAIL);
    ASSERT_EQ(results.size(), 1u) << "the client sees the first completion only";
    EXPECT_EQ(results[0].status, S_OK);
    EXPECT_EQ(results[0].data, (std::vector<std::uint8_t>{'w', 'x', 'y'}));
    ASSERT_EQ(errors.errors.size(), 1u);
    EXPECT_NE(errors.errors[0].find("completed a second time"), std::string::npos)
        << errors.errors[0];
}

TEST(FrameworkRequestTest, DeliversWhatTheCompletionSays) {
    struct Case {
        const char* legend;
        bool setInformation;
        HRESULT status;
        SIZE_T information;
        std::size_t delivered;
        std::size_t hostErrors;
    };
    const Case cases[] = {
        {"success with a byte count", false, S_OK, 5, 5, 0},
        {"S_FALSE is a success: the bytes go", false, S_FALSE, 2, 2, 0},
        {"a failure delivers no bytes whatever the count", false, E_FAIL, 5, 0, 0},
        {"a count beyond the buffer is cut to it, and reported", false, S_OK, 9, 8, 1},
        {"Complete takes the count SetInformation gave", true, S_OK, 6, 6, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        HostErrors errors;
        RequestResult got;
        const ComPtr<FrameworkRequest> request = FrameworkRequest::ReadRequest(
            nullptr, 8, [&got](const RequestResult& result) { got = result; });
        if (c.setInformation) {
            request->SetInformation(c.information);
            request->Complete(c.status);
        } else {
            request->CompleteWithInformation(c.status, c.information);
        }
        EXPECT_EQ(got.status, c.status);
        EXPECT_EQ(got.data.size(), c.delivered);
        EXPECT_EQ(errors.errors.size(), c.hostErrors);
    }
}

TEST(FrameworkRequestTest, OffersItsBuffersParametersAndFile) {
    ComPtr<IWDFDevice> device;
    ASSERT_EQ(zntr::host::CreateFrameworkDevice(kId, {}, device.GetAddressOf()), S_OK);
    const ComPtr<FrameworkFile> file = FrameworkFile::Create(device.Get(), L"raw", 4242);
    const ComPtr<FrameworkRequest> read = FrameworkRequest::ReadRequest(file, 0, nullptr);
    ComPtr<IWDFMemory> memory;
    read->GetOutputMemory(memory.ReleaseAndGetAddressOf());
    EXPECT_FALSE(memory) << "a zero-length read has no output buffer";
    read->GetInputMemory(memory.ReleaseAndGetAddressOf());
    EXPECT_FALSE(memory);
    EXPECT_EQ(read->GetType(), WdfRequestRead);
    EXPECT_EQ(read->GetRequestorProcessId(), 4242u);
    ComPtr<IWDFFile> got;
    read->GetFileObject(got.ReleaseAndGetAddressOf());
    EXPECT_EQ(got.Get(), static_cast<IWDFFile*>(file.Get()));
    wchar_t name[8] = {};
    DWORD size = 8;
    EXPECT_EQ(got->RetrieveFileName(name, &size), S_OK);
    EXPECT_EQ(std::wstring(name), L"raw");

    const ComPtr<FrameworkRequest> control = FrameworkRequest::DeviceIoControlRequest(
        file, 0x40C108, std::vector<std::uint8_t>(5, 1), 0, nullptr);
    ULONG code = 0;
    SIZE_T in = 0;
    SIZE_T out = 9;
    control->GetDeviceIoControlParameters(&code, &in, &out);
    EXPECT_EQ(code, 0x40C108u);
    EXPECT_EQ(in, 5u);
    EXPECT_EQ(out, 0u);
    control->GetOutputMemory(memory.ReleaseAndGetAddressOf());
    EXPECT_FALSE(memory) << "no output buffer was asked for";
    control->GetInputMemory(memory.ReleaseAndGetAddressOf());
    ASSERT_TRUE(memory);
    EXPECT_EQ(memory->GetSize(), 5u);
    read->Complete(S_OK);
    control->Complete(S_OK);
}

}  // namespace
