// The framework host's start and stop with a driver module: the order of the framework's calls
// into the driver, the start failures and what they undo, and the rules the host holds a driver
// to when it stops.
#include <string>
#include <vector>

#include "host_fixture.h"
#include "host_status.h"
#include "standin/debugapi.h"

namespace {

using zntr::host::HostComponent;
using zntr::host::HostStartError;
using zntr::test::HostFixture;

using Lines = std::vector<std::string>;

// A platform component that says when it is registered and withdrawn.
HostComponent LoggingComponent() {
    return HostComponent{
        "logging component",
        [](DWORD* cookie) {
            OutputDebugStringA("component add");
            *cookie = 7;
            return S_OK;
        },
        [](DWORD cookie) {
            OutputDebugStringA(cookie == 7 ? "component remove" : "component remove: wrong cookie");
            return S_OK;
        }};
}

using HostStartStop = HostFixture;

TEST_F(HostStartStop, StartsTheDriverInTheFrameworksOrderAndStopsItInReverse) {
    auto options = Options(L"ROOT\\ZNTR_TEST\\0000");
    options.components.push_back(LoggingComponent());
    StartHost(std::move(options));
    EXPECT_EQ(DriverLines(), (Lines{"component add", "DllMain attach", "OnInitialize",
                                    "OnDeviceAdd ROOT\\ZNTR_TEST\\0000", "OnPrepareHardware",
                                    "OnD0Entry previous=5 action=0"}));
    auto file = Open();
    std::thread reader([&file] {
        // Held by the driver until the host stops; the client then learns the host is gone.
        EXPECT_EQ(file->Read(16).status, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    });
    ASSERT_TRUE(
        zntr::test::Eventually([this] { return host_->Device().OutstandingRequests() == 1; }));
    EXPECT_TRUE(StopHost());
    reader.join();
    const Lines lines = DriverLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(Lines(lines.begin() + 6, lines.end()),
              (Lines{"OnCreateFile", "OnCleanupFile", "OnD0Exit target=5 action=0",
                     "OnReleaseHardware", "OnDeinitialize", "DllMain detach", "component remove"}));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(HostStartStop, AFailedStartSaysWhatWentWrongAndUndoesWhatWasDone) {
    struct Case {
        const char* legend;
        std::wstring instanceId;
        std::string module;
        bool otherClass;
        std::string failure;
        Lines lines;  // the driver's calls, and the component's
    };
    const Case cases[] = {
        {"OnDeviceAdd fails",
         L"ROOT\\FAILADD\\0",
         "test_driver",
         false,
         "OnDeviceAdd failed with 0x8007000E",
         {"component add", "DllMain attach", "OnInitialize", "OnDeviceAdd ROOT\\FAILADD\\0",
          "OnDeinitialize", "DllMain detach", "component remove"}},
        {"OnDeviceAdd makes no device",
         L"ROOT\\NODEVICE\\0",
         "test_driver",
         false,
         "OnDeviceAdd made no framework device",
         {"component add", "DllMain attach", "OnInitialize", "OnDeviceAdd ROOT\\NODEVICE\\0",
          "OnDeinitialize", "DllMain detach", "component remove"}},
        {"the hardware preparation fails: released by the framework",
         L"ROOT\\FAILPREPARE\\0",
         "test_driver",
         false,
         "the device did not start: 0x80004005",
         {"component add", "DllMain attach", "OnInitialize", "OnDeviceAdd ROOT\\FAILPREPARE\\0",
          "OnPrepareHardware", "OnReleaseHardware", "OnDeinitialize", "DllMain detach",
          "component remove"}},
        {"the module does not serve the class",
         L"ROOT\\ZNTR\\0",
         "test_driver",
         true,
         "does not serve the driver class: DllGetClassObject answered 0x80040111",
         {"component add", "DllMain attach", "DllMain detach", "component remove"}},
        {"the module is built for another framework",
         L"ROOT\\ZNTR\\0",
         "test_driver_v2_0",
         false,
         "is built for framework version 2.0.0",
         {"component add", "component remove"}},
        {"the module refuses its attach",
         L"ROOT\\ZNTR\\0",
         "test_driver_refuses",
         false,
         "DllMain refused the process attach",
         {"component add", "DllMain attach", "DllMain detach", "component remove"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        auto options = Options(c.instanceId);
        options.modulePath = zntr::test::TestModule(c.module);
        if (c.otherClass) {
            options.driverClass = GUID_NULL;
        }
        options.components.push_back(LoggingComponent());
        const std::size_t before = DriverLines().size();
        std::string failure;
        try {
            zntr::host::FrameworkHost::Start(std::move(options));
        } catch (const HostStartError& error) {
            failure = error.what();
        }
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        const Lines lines = DriverLines();
        EXPECT_EQ(Lines(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()), c.lines);
    }
    EXPECT_TRUE(Errors().empty());
}

TEST_F(HostStartStop, ADriverThatKeepsItsObjectsIsReportedAndStaysLoaded) {
    StartHost(L"ROOT\\LEAK\\0000");
    EXPECT_FALSE(StopHost());
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("DllCanUnloadNow"), std::string::npos) << errors[0];
    const Lines lines = DriverLines();
    EXPECT_EQ(lines.back(), "OnDeinitialize") << "no detach for a module that stays";
}

TEST_F(HostStartStop, RequestsTheDriverNeverCompletedAreReported) {
    StartHost(L"ROOT\\KEEP\\0000");
    auto file = Open();
    std::thread holder([&file] { file->DeviceIoControl(zntr::test_driver::kHold, {}, 0); });
    ASSERT_TRUE(
        zntr::test::Eventually([this] { return host_->Device().OutstandingRequests() == 1; }));
    EXPECT_FALSE(StopHost());
    holder.join();
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("1 request(s) were never completed"), std::string::npos) << errors[0];
    EXPECT_EQ(DriverLines().back(), "DllMain detach") << "the module itself was released";
}

}  // namespace
