// Subscriptions count calls and decide whether state changes are signalled; the sleep and removal
// hooks forget the network device path and move a ready sensor to initialising or no data, only
// while a client is connected. Neither needs the feed: the hooks read the client count alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sensor_test_support.h"

namespace {

using zntr::test::PropVariant;
using zntr::test::SensorTest;
using zntr::test::UI4;
using Lines = std::vector<std::string>;

TEST_F(SensorTest, SubscriptionsCountCallsAndOnlyWhileOneIsLeftIsTheStateSignalled) {
    ASSERT_EQ(Initialize(), S_OK);
    ConnectEvents(0);
    std::wstring objectId = SENSOR_OBJECT_ID;
    enum Call { kSubscribe, kUnsubscribe };
    struct Step {
        const char* legend;
        Call call;
        HRESULT result;
        ULONG subscribers;  // after the call
    } const steps[] = {
        {"the first subscription", kSubscribe, S_OK, 1},
        {"the same client again counts again", kSubscribe, S_OK, 2},
        {"one unsubscription: one left", kUnsubscribe, S_OK, 1},
        {"the last one", kUnsubscribe, S_OK, 0},
        {"one too many: refused, nothing changes", kUnsubscribe, E_UNEXPECTED, 0},
    };
    for (const Step& step : steps) {
        Log();
        const HRESULT hr = step.call == kSubscribe
                               ? Sensor().OnClientSubscribeToEvents(nullptr, objectId.data())
                               : Sensor().OnClientUnsubscribeFromEvents(nullptr, objectId.data());
        EXPECT_EQ(hr, step.result) << step.legend;
        EXPECT_EQ(Sensor().mSubscriberCount, step.subscribers) << step.legend;
        EXPECT_TRUE(Log().empty()) << step.legend << ": no log line";
        StateEventSet();
        Sensor().SetSensorState(SENSOR_STATE_READY);
        EXPECT_EQ(StateEventSet(), step.subscribers > 0) << step.legend;
    }
}

class PowerHooksTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        ASSERT_EQ(Initialize(), S_OK);
    }
    void TearDown() override {
        Sensor().mClientCount = 0;
        SensorTest::TearDown();
    }
};

TEST_F(PowerHooksTest, WithAClientTheHooksForgetThePathAndLeaveOnlyTheReadyState) {
    const std::wstring path = L"\\\\?\\pci#ven_zntr&dev_0001#net";
    const Lines helperStopped = {"LocationHelperStop: status=TRUE"};
    struct Case {
        const char* legend;
        void (cSensorDDI::*hook)();
        ULONG clients;
        SensorState before;
        ULONG subscribers;
        SensorState after;  // in mSensorState and SENSOR_PROPERTY_STATE
        bool stateEvent;
        bool pathKept;
        Lines log;
    } const cases[] = {
        {"sleep while ready: initialising, signalled", &cSensorDDI::PrepareToSleep, 1,
         SENSOR_STATE_READY, 1, SENSOR_STATE_INITIALIZING, true, false, helperStopped},
        {"sleep while ready, nobody subscribed: the state changes unsignalled",
         &cSensorDDI::PrepareToSleep, 1, SENSOR_STATE_READY, 0, SENSOR_STATE_INITIALIZING, false,
         false, helperStopped},
        {"sleep without data: only the path goes", &cSensorDDI::PrepareToSleep, 2,
         SENSOR_STATE_NO_DATA, 1, SENSOR_STATE_NO_DATA, false, false, helperStopped},
        {"sleep with no client: only the log",
         &cSensorDDI::PrepareToSleep,
         0,
         SENSOR_STATE_READY,
         1,
         SENSOR_STATE_READY,
         false,
         true,
         {"PrepareToSleep did not call LocationHelperStop, no clients"}},
        {"removal while ready: no data, signalled", &cSensorDDI::PrepareRemoval, 1,
         SENSOR_STATE_READY, 1, SENSOR_STATE_NO_DATA, true, false, helperStopped},
        {"removal while initialising: only the path goes", &cSensorDDI::PrepareRemoval, 1,
         SENSOR_STATE_INITIALIZING, 1, SENSOR_STATE_INITIALIZING, false, false, helperStopped},
        {"removal with no client: only the log",
         &cSensorDDI::PrepareRemoval,
         0,
         SENSOR_STATE_READY,
         1,
         SENSOR_STATE_READY,
         false,
         true,
         {"PrepareRemoval did not call LocationHelperStop, no clients"}},
    };
    for (const Case& c : cases) {
        // The state as the reading update leaves it: the property first, then the state.
        PropVariant state;
        state.vt = VT_UI4;
        state.ulVal = c.before;
        ASSERT_EQ(Sensor().SetPropertyValue(SENSOR_PROPERTY_STATE, &state), S_OK);
        ConnectEvents(c.subscribers);
        Sensor().SetSensorState(c.before);
        StateEventSet();
        Sensor().mClientCount = c.clients;
        Sensor().mNetDevicePath = path;
        Log();

        (Sensor().*c.hook)();
        EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(c.after)) << c.legend;
        EXPECT_EQ(Property(SENSOR_PROPERTY_STATE), UI4(c.after)) << c.legend;
        EXPECT_EQ(StateEventSet(), c.stateEvent) << c.legend;
        EXPECT_EQ(Sensor().mNetDevicePath, c.pathKept ? path : L"") << c.legend;
        EXPECT_EQ(Log(), c.log) << c.legend;
        EXPECT_EQ(Sensor().mClientCount, c.clients) << c.legend << ": the clients stay";
    }
}

}  // namespace
