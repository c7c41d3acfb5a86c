// The driver and device callback objects with the fake framework: the device's creation and its
// settings, every failure exit of the preparation, a repeated preparation, the order of the
// release, and file cleanup.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "driver_test_support.h"
#include "standin/com_control.h"
#include "standin/network_control.h"
#include "standin/resource_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"
#include "main_driver.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::ComPtr;
using zntr::test::DriverTest;
using zntr::test::FakeFile;
using zntr::test::FakeRequest;
using zntr::test::MakeFake;

using MainDeviceTest = DriverTest;

TEST_F(MainDeviceTest, AddingADeviceGivesTheThreeSettingsInOrderAndCreatesTheFrameworkDevice) {
    ASSERT_EQ(AddDevice(), S_OK);

    // Power policy owner TRUE; locking constraint None (0): callbacks not serialised;
    // AutoForwardCreateCleanupClose WdfFalse (1): creation and cleanup come to this driver.
    EXPECT_EQ(init_->settings,
              (std::vector<std::string>{"SetPowerPolicyOwnership(1)", "SetLockingConstraint(0)",
                                        "AutoForwardCreateCleanupClose(1)"}));
    EXPECT_EQ(driver_->createDeviceCalls, 1);
    EXPECT_EQ(Device().mDeviceInstanceId, zntr::test::kDeviceInstanceId);
    EXPECT_TRUE(Contains(Log(), "cMainDevice: created IWDFDevice object, 0x00000000"));

    // Four distinct auto-reset events, none signalled; no thread, no framework device yet.
    const HANDLE events[] = {Device().mhDataEvent, Device().mhStateEvent, Device().mhExitEvent,
                             Device().mhQueueStopEvent};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_NE(events[i], nullptr);
        EXPECT_EQ(WaitForSingleObject(events[i], 0), WAIT_TIMEOUT);
        for (size_t j = 0; j < i; ++j) {
            EXPECT_NE(events[i], events[j]);
        }
    }
    EXPECT_EQ(Device().mhEventThread, nullptr);
    EXPECT_FALSE(Device().mpWdfDevice);
    // The device counts in the module lock count while it lives.
    EXPECT_EQ(GetModuleLockCount(), lockBaseline_ + 1);
}

TEST_F(MainDeviceTest, TheDriverObjectAddsDevicesAndLogsTheOutcome) {
    ComPtr<IDriverEntry> entry;
    ASSERT_EQ(cMainDriver::CreateInstance(IID_IDriverEntry,
                                          reinterpret_cast<void**>(entry.GetAddressOf())),
              S_OK);
    EXPECT_EQ(GetModuleLockCount(), lockBaseline_ + 1);
    EXPECT_EQ(entry->OnInitialize(driver_.Get()), S_OK);

    EXPECT_EQ(entry->OnDeviceAdd(nullptr, init_.Get()), E_UNEXPECTED);
    EXPECT_TRUE(Contains(Log(), "cMainDriver: Created main device, 0x8000FFFF"));
    EXPECT_EQ(entry->OnDeviceAdd(driver_.Get(), init_.Get()), S_OK);
    EXPECT_TRUE(Contains(Log(), "cMainDriver: Created main device, 0x00000000"));
    entry->OnDeinitialize(driver_.Get());

    // The driver object answers IDriverEntry only; its count goes with it.
    ComPtr<IPnpCallback> notOffered;
    EXPECT_EQ(entry->QueryInterface(IID_IPnpCallback,
                                    reinterpret_cast<void**>(notOffered.GetAddressOf())),
              E_NOINTERFACE);
    entry = nullptr;
    EXPECT_EQ(GetModuleLockCount(), lockBaseline_ + 1) << "the device added stays";
}

struct CreationFailure {
    const char* legend;
    bool nullDriver;
    bool nullInit;
    size_t idLength;  // 0: the usual ID
    HRESULT retrieveFailure;
    HRESULT createDeviceFailure;
    int heapFailures;
    HRESULT expected;
    const char* log;
};

class DeviceCreationFailureTest : public DriverTest,
                                  public ::testing::WithParamInterface<CreationFailure> {};

TEST_P(DeviceCreationFailureTest, FailsWithTheStatusAndLeavesNoObject) {
    const CreationFailure& row = GetParam();
    if (row.idLength != 0) {
        init_ = MakeFake<zntr::test::FakeDeviceInitialize>(std::wstring(row.idLength, L'A'));
    }
    init_->retrieveFailure = row.retrieveFailure;
    driver_->createDeviceFailure = row.createDeviceFailure;
    zntr::platform::FailNextHeapAllocations(row.heapFailures);
    const HRESULT hr = cMainDevice::CreateInstance(row.nullDriver ? nullptr : driver_.Get(),
                                                   row.nullInit ? nullptr : init_.Get());
    zntr::platform::FailNextHeapAllocations(0);

    EXPECT_EQ(hr, row.expected);
    EXPECT_TRUE(Contains(Log(), row.log));
    EXPECT_FALSE(driver_->callbacks);
    EXPECT_EQ(GetModuleLockCount(), lockBaseline_) << "the device object was not destroyed";
}

INSTANTIATE_TEST_SUITE_P(
    EachFailure, DeviceCreationFailureTest,
    ::testing::Values(
        CreationFailure{"no framework driver", true, false, 0, S_OK, S_OK, 0, E_UNEXPECTED,
                        "cMainDevice: CreateInstance, invalid parameters"},
        CreationFailure{"no device-initialisation object", false, true, 0, S_OK, S_OK, 0,
                        E_UNEXPECTED, "cMainDevice: CreateInstance, invalid parameters"},
        CreationFailure{"no memory for the object", false, false, 0, S_OK, S_OK, 1, E_OUTOFMEMORY,
                        "cMainDevice: failed to create device instance, 0x8007000E"},
        CreationFailure{"the framework cannot give the ID", false, false, 0, E_FAIL, S_OK, 0,
                        E_FAIL, "cMainDevice: failed to get device instance ID, 0x80004005"},
        CreationFailure{"an ID of 1024 characters does not fit with its terminator", false, false,
                        1024, S_OK, S_OK, 0, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                        "cMainDevice: failed to get device instance ID, 0x8007007A"},
        CreationFailure{"the framework device is not created", false, false, 0, S_OK,
                        E_ACCESSDENIED, 0, E_ACCESSDENIED,
                        "cMainDevice: created IWDFDevice object, 0x80070005"}),
    [](const ::testing::TestParamInfo<CreationFailure>& row) {
        return "Row" + std::to_string(row.index);
    });

TEST_F(MainDeviceTest, AnIdOf1023CharactersIsTheLongestTaken) {
    init_ = MakeFake<zntr::test::FakeDeviceInitialize>(std::wstring(1023, L'A'));
    ASSERT_EQ(AddDevice(), S_OK);
    EXPECT_EQ(Device().mDeviceInstanceId.size(), 1023u);
}

TEST_F(MainDeviceTest, PreparationCreatesQueueSensorClassExtensionAndEventThreadInOrder) {
    ASSERT_EQ(AddDevice(), S_OK);
    Log();
    ASSERT_EQ(Prepare(), S_OK);

    const std::vector<std::string> log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "OnPrepareHardware was triggered\n");
    // The default queue: parallel dispatch, not power-managed, zero-length requests allowed.
    ASSERT_EQ(WdfDevice().queueCreations.size(), 1u);
    EXPECT_TRUE(WdfDevice().queueCreations[0].defaultQueue);
    EXPECT_EQ(WdfDevice().queueCreations[0].dispatch, WdfIoQueueDispatchParallel);
    EXPECT_FALSE(WdfDevice().queueCreations[0].powerManaged);
    EXPECT_TRUE(WdfDevice().queueCreations[0].zeroLengthAllowed);
    EXPECT_TRUE(Contains(log, "cQueue: created IO Queue, 0x00000000"));
    ASSERT_NE(Queue(), nullptr);
    EXPECT_EQ(Queue()->mhStopEvent, Device().mhQueueStopEvent);

    // The sensor, initialised with the device's ID, with the class extension around it.
    ASSERT_NE(gpSensorDDI, nullptr);
    EXPECT_EQ(Device().mpWdfDevice.Get(), driver_->device.Get());
    EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{"Initialize"});
    ASSERT_TRUE(classExtension_->Latest());
    EXPECT_EQ(classExtension_->Latest()->Driver().Get(), static_cast<ISensorDriver*>(gpSensorDDI));
    EXPECT_NE(Device().mhEventThread, nullptr);
    {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        EXPECT_EQ(gpSensorDDI->mhDataEvent, Device().mhDataEvent);
        EXPECT_EQ(gpSensorDDI->mhStateEvent, Device().mhStateEvent);
    }
    // Device, driver and queue objects each count once.
    EXPECT_EQ(GetModuleLockCount(), lockBaseline_ + 2);
}

TEST_F(MainDeviceTest, PreparationWithoutAFrameworkDeviceIsRefused) {
    ASSERT_EQ(AddDevice(), S_OK);
    EXPECT_EQ(Device().OnPrepareHardware(nullptr), E_UNEXPECTED);
    EXPECT_TRUE(Contains(Log(), "cMainDevice: OnPrepareHardware, invalid parameters\n"));
    EXPECT_TRUE(WdfDevice().queueCreations.empty());
    EXPECT_EQ(gpSensorDDI, nullptr);
}

TEST_F(MainDeviceTest, AQueueThatCannotBeCreatedFailsThePreparationAndReleasesEverything) {
    ASSERT_EQ(AddDevice(), S_OK);
    WdfDevice().createQueueFailure = E_ACCESSDENIED;
    EXPECT_EQ(Prepare(), E_ACCESSDENIED);
    EXPECT_TRUE(Contains(Log(), "cMainDevice: failed to create queue, 0x80070005\n"));
    EXPECT_FALSE(Device().mpWdfDevice) << "the framework device is released too";
    EXPECT_EQ(gpSensorDDI, nullptr);
    EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{});
    EXPECT_EQ(Device().mhEventThread, nullptr);
}

// A failure after the queue step leaves the device started with its queue but without sensor,
// class extension or event thread: the preparation still succeeds.
enum class Fault {
    NoSensorMemory,
    NoCollections,
    NoClassExtension,
    ClassExtensionRefuses,
    NoThread
};

struct PreparationFailure {
    const char* legend;
    Fault fault;
    const char* log;
    // The class extension's calls by the end of the preparation.
    std::vector<std::string> classExtensionCalls;
};

const std::vector<PreparationFailure> kPreparationFailures = {
    {"no memory for the sensor",
     Fault::NoSensorMemory,
     "cMainDevice: failed to create cSensorDDI, 0x8007000E",
     {}},
    {"the sensor's collections cannot be made",
     Fault::NoCollections,
     "cMainDevice: failed to initialize cSensorDDI, 0x8007000E",
     {}},
    {"the class extension is not registered",
     Fault::NoClassExtension,
     "cMainDevice: failed to CoCreate SensorClassExtenstion, 0x80040154\n",
     {}},
    {"the class extension refuses to initialise",
     Fault::ClassExtensionRefuses,
     "cMainDevice: failed to initialize SensorClassExtension, 0x80070005\n",
     {"Initialize", "Uninitialize"}},
    {"no event thread",
     Fault::NoThread,
     "cMainDevice: failed to create event thread",
     {"Initialize", "Uninitialize"}},
};

class PreparationFailureExitTest : public DriverTest,
                                   public ::testing::WithParamInterface<PreparationFailure> {
  protected:
    // Makes the row's step fail for the next preparation only. The queue exists already (a first
    // preparation made it), so the sensor is the first allocation of the preparation.
    void Inject(Fault fault) {
        switch (fault) {
            case Fault::NoSensorMemory:
                zntr::platform::FailNextHeapAllocations(1);
                break;
            case Fault::NoCollections:
                creationFailure_.emplace(CLSID_PortableDeviceValues, E_OUTOFMEMORY);
                break;
            case Fault::NoClassExtension:
                creationFailure_.emplace(CLSID_SensorClassExtension, REGDB_E_CLASSNOTREG);
                break;
            case Fault::ClassExtensionRefuses:
                ClassExtension().initializeResult = E_ACCESSDENIED;
                break;
            case Fault::NoThread:
                zntr::platform::FailNextThreadCreations(1);
                break;
        }
    }
    void Clear() {
        zntr::platform::FailNextHeapAllocations(0);
        zntr::platform::FailNextThreadCreations(0);
        creationFailure_.reset();
        ClassExtension().initializeResult = S_OK;
    }

    std::optional<zntr::platform::ComCreationFailure> creationFailure_;
};

TEST_P(PreparationFailureExitTest, KeepsTheQueueAndReleasesThePartialSetUp) {
    StartDevice();
    ASSERT_EQ(Release(), S_OK);
    ClassExtension().calls.clear();
    Log();

    Inject(GetParam().fault);
    const HRESULT hr = Prepare();
    Clear();

    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(Contains(Log(), GetParam().log));
    EXPECT_EQ(ClassExtension().Calls(), GetParam().classExtensionCalls);
    EXPECT_EQ(gpSensorDDI, nullptr);
    EXPECT_EQ(Device().mhEventThread, nullptr);
    EXPECT_FALSE(Device().mpSensorClassExtension);
    EXPECT_EQ(Device().mpWdfDevice.Get(), driver_->device.Get()) << "the framework device stays";
    EXPECT_NE(Queue(), nullptr);
    EXPECT_EQ(WdfDevice().queueCreations.size(), 1u) << "no second queue";

    // Prepared again without the fault, the device gets everything.
    Log();
    ClassExtension().calls.clear();
    ASSERT_EQ(Prepare(), S_OK);
    EXPECT_NE(gpSensorDDI, nullptr);
    EXPECT_NE(Device().mhEventThread, nullptr);
    EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{"Initialize"});
}

INSTANTIATE_TEST_SUITE_P(EachStep, PreparationFailureExitTest,
                         ::testing::ValuesIn(kPreparationFailures),
                         [](const ::testing::TestParamInfo<PreparationFailure>& row) {
                             return "Step" + std::to_string(row.index);
                         });

TEST_F(MainDeviceTest, ARepeatedPreparationReleasesTheFirstAndBuildsAnewWithTheSameQueue) {
    StartDevice();
    const HANDLE firstThread = Device().mhEventThread;
    cSensorDDI* const firstSensor = gpSensorDDI;
    firstSensor->AddRef();
    Log();

    ASSERT_EQ(Prepare(), S_OK);
    const std::vector<std::string> log = Log();
    const int repeated = IndexOf(
        log,
        "cMainDevice: already called OnPrepareHardware, calling OnReleaseHardware to cleanup\n");
    const int exited = IndexOf(log, "SensorEventThreadProc: exit event");
    ASSERT_GE(repeated, 0);
    ASSERT_GT(exited, repeated) << "the old event thread is joined";
    EXPECT_EQ(ClassExtension().Calls(),
              (std::vector<std::string>{"Initialize", "Uninitialize", "Initialize"}));
    EXPECT_EQ(ClassExtension().instances, 2);
    EXPECT_NE(gpSensorDDI, firstSensor) << "a new sensor";
    EXPECT_EQ(firstSensor->Release(), 0u) << "the first sensor was released";
    EXPECT_NE(Device().mhEventThread, nullptr);
    EXPECT_NE(Device().mhEventThread, firstThread);
    EXPECT_EQ(WdfDevice().queueCreations.size(), 1u) << "the queue made first is kept";
    EXPECT_EQ(Device().mpWdfDevice.Get(), driver_->device.Get());
}

// The release ends the event thread, then uninitialises the class extension, then ends the
// sensor's feed and releases the sensor; the queue stays with the framework.
TEST_F(MainDeviceTest, ReleaseEndsTheThreadThenTheClassExtensionThenTheSensor) {
    // Nothing may leave the machine: the sensor's discovery finds no hotspot and retries.
    zntr::platform::ScopedNetworkSettings closed({"", false});
    StartDevice();
    cSensorDDI* const sensor = gpSensorDDI;
    sensor->AddRef();
    // A client connected and never disconnected: its feed runs.
    std::wstring id = SENSOR_OBJECT_ID;
    ASSERT_EQ(classExtension_->Latest()->Driver()->OnClientConnect(nullptr, id.data()), S_OK);
    ASSERT_NE(sensor->mhRecvThread.load(), nullptr);

    bool threadJoinedFirst = false;
    bool sensorStillThere = false;
    ClassExtension().onUninitialize = [&] {
        threadJoinedFirst = Device().mhEventThread == nullptr;
        sensorStillThere = gpSensorDDI == sensor;
    };
    Log();
    ASSERT_EQ(Release(), S_OK);
    const std::vector<std::string> log = Log();

    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "OnReleaseHardware was triggered");
    EXPECT_TRUE(Contains(log, "SensorEventThreadProc: exit event"));
    EXPECT_TRUE(threadJoinedFirst);
    EXPECT_TRUE(sensorStillThere);
    EXPECT_EQ(gpSensorDDI, nullptr);
    EXPECT_EQ(sensor->mhRecvThread.load(), nullptr) << "the feed ended before the release";
    EXPECT_EQ(sensor->mClientCount.load(), 0u);
    EXPECT_EQ(sensor->mSocket, 0u);
    EXPECT_EQ(sensor->Release(), 0u);
    EXPECT_FALSE(Device().mpWdfDevice);
    EXPECT_FALSE(Device().mpSensorClassExtension);
    EXPECT_NE(Queue(), nullptr) << "the queue stays with the framework";
    EXPECT_NE(Device().mhDataEvent, nullptr) << "the events stay until the device goes";
}

TEST_F(MainDeviceTest, CleanupStopsTheQueueReaderAndTellsTheClassExtension) {
    StartDevice();
    const ComPtr<FakeFile> file = MakeFake<FakeFile>();
    Log();
    const auto start = std::chrono::steady_clock::now();
    Device().OnCleanupFile(file.Get());
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(WaitForSingleObject(Device().mhQueueStopEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ClassExtension().Calls(), (std::vector<std::string>{"Initialize", "CleanupFile"}));
    EXPECT_GE(elapsed, 100ms) << "one polling period for the reader";
    EXPECT_EQ(Log(), (std::vector<std::string>{"OnCleanupFile was triggered\n",
                                               "OnCleanupFile returns\n"}));
}

TEST_F(MainDeviceTest, CleanupWithoutAClassExtensionStillStopsTheReaderAndPauses) {
    ASSERT_EQ(AddDevice(), S_OK);
    const ComPtr<FakeFile> file = MakeFake<FakeFile>();
    const auto start = std::chrono::steady_clock::now();
    Device().OnCleanupFile(file.Get());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_EQ(WaitForSingleObject(Device().mhQueueStopEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{});
}

// Device-control requests: the two Portable Devices message codes go to the class extension,
// which completes them; anything else, or no class extension, is not supported.
TEST_F(MainDeviceTest, DeviceControlRequestsGoToTheClassExtensionOnlyForMessageCodes) {
    StartDevice();
    struct Row {
        const char* legend;
        ULONG code;
        bool handedOver;
    };
    const Row rows[] = {
        {"read-write message", IOCTL_WPD_MESSAGE_READWRITE_ACCESS, true},
        {"read message", IOCTL_WPD_MESSAGE_READ_ACCESS, true},
        {"another device's code", 0x00220000, false},
        {"the message code's neighbour", IOCTL_WPD_MESSAGE_READ_ACCESS + 4, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        ClassExtension().calls.clear();
        const ComPtr<FakeRequest> request = FakeRequest::IoControl(row.code);
        Queue()->OnDeviceIoControl(nullptr, request.Get(), row.code, 0, 64);
        const std::vector<zntr::test::Completion> completions = request->Completions();
        ASSERT_EQ(completions.size(), 1u);
        if (row.handedOver) {
            EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{"ProcessIoControl"});
            EXPECT_EQ(completions[0].status, S_OK);
        } else {
            EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{});
            EXPECT_EQ(completions[0].status, static_cast<HRESULT>(0x80070032));
            EXPECT_EQ(completions[0].information, 0u);
        }
    }

    // Released, the device has no class extension: a message code is not supported either.
    ASSERT_EQ(Release(), S_OK);
    ClassExtension().calls.clear();
    const ComPtr<FakeRequest> request = FakeRequest::IoControl(IOCTL_WPD_MESSAGE_READ_ACCESS);
    Queue()->OnDeviceIoControl(nullptr, request.Get(), IOCTL_WPD_MESSAGE_READ_ACCESS, 0, 64);
    ASSERT_EQ(request->CompletionCount(), 1u);
    EXPECT_EQ(request->Completions()[0].status, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{});
}

}  // namespace
