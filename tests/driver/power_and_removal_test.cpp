// The device's power and Plug and Play callbacks: what the system's power action leads to, the
// sensor hooks they run, the state a client then sees, and what they do with no sensor.
#include <chrono>
#include <string>
#include <vector>

#include "driver_test_support.h"
#include "standin/device_database_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::DriverTest;

// Whether the expected messages appear in the log in this order (others may come between).
bool InOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected) {
    size_t next = 0;
    for (const std::string& line : log) {
        if (next < expected.size() && line == expected[next]) {
            ++next;
        }
    }
    return next == expected.size();
}

class PowerTest : public DriverTest {
  protected:
    // A client connected and subscribed, counted as the platform's calls count it, without
    // starting a feed: the hooks look at the counts only.
    void CountOneSubscribedClient(SensorState state) {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        gpSensorDDI->mClientCount = 1;
        gpSensorDDI->mSubscriberCount = 1;
        gpSensorDDI->mSensorState = state;
    }
    void TearDown() override {
        if (gpSensorDDI != nullptr) {
            cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
            gpSensorDDI->mClientCount = 0;
            gpSensorDDI->mSubscriberCount = 0;
        }
        DriverTest::TearDown();
    }
    // The states posted so far.
    std::vector<SensorState> PostedStates() {
        std::lock_guard<std::mutex> lock(ClassExtension().mutex);
        return ClassExtension().states;
    }
    bool WaitForPostedState(SensorState state) {
        return ClassExtension().WaitFor(
            [&] {
                for (SensorState posted : ClassExtension().states) {
                    if (posted == state) {
                        return true;
                    }
                }
                return false;
            },
            5s);
    }
};

// Which callback, with which system action, with or without a client: the messages logged, in
// order, and what the callback returns.
struct PowerCase {
    const char* legend;
    bool entry;  // OnD0Entry, else OnD0Exit
    POWER_ACTION action;
    bool client;
    std::vector<std::string> log;
};

class PowerActionTest : public PowerTest, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(PowerActionTest, LogsAndRunsTheHookOnlyForSleepAndHibernation) {
    const PowerCase& row = GetParam();
    StartDevice();
    if (row.client) {
        CountOneSubscribedClient(SENSOR_STATE_NO_DATA);
    }
    WdfDevice().powerAction = row.action;
    Log();
    const HRESULT hr = row.entry ? Device().OnD0Entry(&WdfDevice(), WdfPowerDeviceD3)
                                 : Device().OnD0Exit(&WdfDevice(), WdfPowerDeviceD3);
    EXPECT_EQ(hr, S_OK);
    const std::vector<std::string> log = Log();
    if (row.log.size() == 1 || !row.entry) {
        EXPECT_EQ(log, row.log);
    } else {
        // The wake-up's device lookup may log lines of its own between these.
        EXPECT_TRUE(InOrder(log, row.log)) << ::testing::PrintToString(log);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachAction, PowerActionTest,
    ::testing::Values(
        PowerCase{"device-only power-down: the sleep hook is not run",
                  false,
                  PowerActionNone,
                  true,
                  {"OnD0Exit was triggered"}},
        PowerCase{"shutdown", false, PowerActionShutdown, true, {"OnD0Exit was triggered"}},
        PowerCase{
            "sleep with no client",
            false,
            PowerActionSleep,
            false,
            {"OnD0Exit was triggered", "PrepareToSleep did not call LocationHelperStop, no clients",
             "OnD0Exit going to sleep"}},
        PowerCase{"hibernation with a client",
                  false,
                  PowerActionHibernate,
                  true,
                  {"OnD0Exit was triggered", "LocationHelperStop: status=TRUE",
                   "OnD0Exit going to sleep"}},
        PowerCase{"back from hibernation with a client",
                  true,
                  PowerActionHibernate,
                  true,
                  {"OnD0Entry was triggered", "LocationHelperStart: status=TRUE",
                   "OnD0Entry returning from sleep"}},
        PowerCase{"back from sleep with no client",
                  true,
                  PowerActionSleep,
                  false,
                  {"OnD0Entry was triggered", "WakeFromSleep did not call LocationHelperStart",
                   "OnD0Entry returning from sleep"}},
        PowerCase{"cold boot", true, PowerActionNone, true, {"OnD0Entry was triggered"}},
        PowerCase{"display off", true, PowerActionDisplayOff, true, {"OnD0Entry was triggered"}}),
    [](const ::testing::TestParamInfo<PowerCase>& row) {
        return "Row" + std::to_string(row.index);
    });

TEST_F(PowerTest, WithoutThePowerActionInterfaceBothCallbacksFailWithTheQueryStatus) {
    StartDevice();
    WdfDevice().offersDevice2 = false;
    Log();
    EXPECT_EQ(Device().OnD0Entry(&WdfDevice(), WdfPowerDeviceD3), E_NOINTERFACE);
    EXPECT_EQ(Device().OnD0Exit(&WdfDevice(), WdfPowerDeviceD3), E_NOINTERFACE);
    EXPECT_EQ(Log(),
              (std::vector<std::string>{
                  "OnD0Entry was triggered", "OnD0Entry failed to get power action, 0x80004002",
                  "OnD0Exit was triggered", "OnD0Exit failed to get power action, 0x80004002"}));
}

TEST_F(PowerTest, AWakeUpThatCannotFindTheNetworkDeviceIsLoggedAndSucceeds) {
    StartDevice();
    // A database that cannot be read: no device, no network adapter.
    zntr::platform::ScopedDeviceDatabase missing(std::string("/nonexistent/devices.json"));
    WdfDevice().powerAction = PowerActionSleep;
    Log();
    EXPECT_EQ(Device().OnD0Entry(&WdfDevice(), WdfPowerDeviceD3), S_OK);
    const std::vector<std::string> log = Log();
    EXPECT_TRUE(
        InOrder(log, {"OnD0Entry was triggered", "WakeFromSleep: failed to set Net Device path",
                      "OnD0Entry returning from sleep"}))
        << ::testing::PrintToString(log);
    EXPECT_FALSE(Contains(log, "WakeFromSleep did not call LocationHelperStart"));
}

// Sleep and removal take a ready sensor out of the ready state; a subscribed client sees the
// state event. The feed is not touched.
TEST_F(PowerTest, SleepAndRemovalMoveAReadySensorAndTheClientSeesIt) {
    struct Row {
        const char* legend;
        HRESULT (*callback)(cMainDevice&, IWDFDevice*);
        SensorState expected;
    };
    const Row rows[] = {
        {"sleep: initialising until the next position",
         [](cMainDevice& device, IWDFDevice* wdf) {
             static_cast<zntr::test::FakeWdfDevice*>(wdf)->powerAction = PowerActionSleep;
             return device.OnD0Exit(wdf, WdfPowerDeviceD3);
         },
         SENSOR_STATE_INITIALIZING},
        {"query-remove: no data",
         [](cMainDevice& device, IWDFDevice* wdf) { return device.OnQueryRemove(wdf); },
         SENSOR_STATE_NO_DATA},
        {"query-stop: no data",
         [](cMainDevice& device, IWDFDevice* wdf) { return device.OnQueryStop(wdf); },
         SENSOR_STATE_NO_DATA},
        {"surprise removal: no data",
         [](cMainDevice& device, IWDFDevice* wdf) {
             device.OnSurpriseRemoval(wdf);
             return S_OK;
         },
         SENSOR_STATE_NO_DATA},
    };
    StartDevice();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        {
            std::lock_guard<std::mutex> lock(ClassExtension().mutex);
            ClassExtension().states.clear();
        }
        CountOneSubscribedClient(SENSOR_STATE_READY);
        EXPECT_EQ(row.callback(Device(), &WdfDevice()), S_OK);
        EXPECT_EQ(gpSensorDDI->mSensorState.load(), static_cast<ULONG>(row.expected));
        EXPECT_TRUE(WaitForPostedState(row.expected));
    }
}

// After a preparation that failed past the queue step, or after the release, there is no
// sensor: every power and removal callback logs and succeeds without touching one.
TEST_F(PowerTest, WithNoSensorEveryCallbackLogsAndSucceeds) {
    ASSERT_EQ(AddDevice(), S_OK);
    ASSERT_EQ(gpSensorDDI, nullptr);
    WdfDevice().powerAction = PowerActionHibernate;
    Log();
    EXPECT_EQ(Device().OnD0Exit(&WdfDevice(), WdfPowerDeviceD3), S_OK);
    EXPECT_EQ(Device().OnD0Entry(&WdfDevice(), WdfPowerDeviceD3), S_OK);
    EXPECT_EQ(Device().OnQueryRemove(&WdfDevice()), S_OK);
    EXPECT_EQ(Device().OnQueryStop(&WdfDevice()), S_OK);
    Device().OnSurpriseRemoval(&WdfDevice());
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "OnD0Exit was triggered", "OnD0Exit: no sensor to prepare for sleep\n",
                         "OnD0Entry was triggered", "OnD0Entry: no sensor to wake\n",
                         "OnQueryRemove was triggered", "OnQueryRemove: no sensor\n",
                         "OnQueryStop was triggered", "OnQueryStop: no sensor\n",
                         "OnSurpriseRemoval was triggered", "OnSurpriseRemoval: no sensor\n"}));
}

}  // namespace
