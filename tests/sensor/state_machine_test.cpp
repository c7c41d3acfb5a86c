// The sensor state and the data event as the PQXFI update and the receive loop's "Dummy" pass
// drive them: no data or initialising to ready when a position is there, ready to initialising
// when it is gone, a data event when the position moved.
#include <gtest/gtest.h>

#include <string>

#include "sensor_test_support.h"

namespace {

using zntr::test::ComPtr;
using zntr::test::Empty;
using zntr::test::Pqxfi;
using zntr::test::PropVariant;
using zntr::test::SensorTest;
using zntr::test::Sentence;
using zntr::test::UI4;

const std::string kPositionA = Pqxfi("4807.038", "01131.000");
const std::string kPositionB = Pqxfi("4807.040", "01131.010");
const std::string kNoPosition = Pqxfi("", "");
const std::string kGgaPositionC =
    Sentence("GPGGA,120001,4808.000,N,01132.000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kGgaNoPosition = Sentence("GPGGA,120002,,,,,0,00,,,M,,M,,");

class StateMachineTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        ASSERT_EQ(Initialize(), S_OK);
        Log();
    }

    struct Step {
        const char* legend;
        std::string text;
        SensorState state;  // after the step, in mSensorState and SENSOR_PROPERTY_STATE
        bool stateEvent;
        bool dataEvent;
    };

    void Run(const Step* steps, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const Step& step = steps[i];
            Feed(step.text);
            EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(step.state)) << step.legend;
            EXPECT_EQ(Property(SENSOR_PROPERTY_STATE), UI4(step.state)) << step.legend;
            EXPECT_EQ(StateEventSet(), step.stateEvent) << step.legend;
            EXPECT_EQ(DataEventSet(), step.dataEvent) << step.legend;
        }
    }
};

TEST_F(StateMachineTest, EveryTransitionWithAClientSubscribed) {
    ConnectEvents(1);
    const Step steps[] = {
        // legend                                                      state  state ev  data ev
        {"no data, no position: unchanged", kNoPosition, SENSOR_STATE_NO_DATA, false, false},
        {"no data, a position: ready, and data since none was signalled", kPositionA,
         SENSOR_STATE_READY, true, true},
        {"ready, the same position: nothing", kPositionA, SENSOR_STATE_READY, false, false},
        {"ready, a position that moved: data", kPositionB, SENSOR_STATE_READY, false, true},
        {"ready, no position: initialising, the last position forgotten", kNoPosition,
         SENSOR_STATE_INITIALIZING, true, false},
        {"initialising, still no position: unchanged", kNoPosition, SENSOR_STATE_INITIALIZING,
         false, false},
        {"initialising, the position from before the loss: ready and data", kPositionB,
         SENSOR_STATE_READY, true, true},
        {"a GGA position alone moves neither state nor data", kGgaPositionC, SENSOR_STATE_READY,
         false, false},
        {"Dummy: the fix record's GGA position is new", "Dummy", SENSOR_STATE_READY, false, true},
        {"Dummy again: the same position", "Dummy", SENSOR_STATE_READY, false, false},
        {"a GGA without a position empties the fix record's", kGgaNoPosition, SENSOR_STATE_READY,
         false, false},
        {"Dummy with no position while ready: initialising", "Dummy", SENSOR_STATE_INITIALIZING,
         true, false},
    };
    Run(steps, std::size(steps));
    EXPECT_EQ(Sensor().mLastLatitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(Sensor().mLastLongitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(Sensor().mLastErrorRadius, NO_DOUBLE_VALUE);
}

TEST_F(StateMachineTest, WithoutASubscriberNothingIsSignalledButTheLastPositionMoves) {
    ConnectEvents(0);
    const Step unsubscribed[] = {
        {"a position: ready, silently", kPositionA, SENSOR_STATE_READY, false, false},
    };
    Run(unsubscribed, std::size(unsubscribed));
    EXPECT_DOUBLE_EQ(Sensor().mLastLatitude, 48.1173);
    EXPECT_DOUBLE_EQ(Sensor().mLastErrorRadius, 3.5);

    ConnectEvents(1);
    const Step subscribed[] = {
        {"the first event after a subscription waits for a move", kPositionA, SENSOR_STATE_READY,
         false, false},
        {"a move", kPositionB, SENSOR_STATE_READY, false, true},
    };
    Run(subscribed, std::size(subscribed));
}

TEST_F(StateMachineTest, WithoutEventHandlesTheStateStillChanges) {
    {
        cCriticalSectionLock lock(Sensor().mSensorLock);
        Sensor().mSubscriberCount = 1;
    }
    Feed(kPositionA);
    EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_READY));
    Feed(kNoPosition);
    EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_INITIALIZING));
}

TEST_F(StateMachineTest, AStateOutsideTheMachineIsLeftAloneButMovesStillSignal) {
    ConnectEvents(1);
    Sensor().SetSensorState(SENSOR_STATE_ERROR);
    ASSERT_TRUE(StateEventSet());
    const Step steps[] = {
        {"a position while in error: no change, but data", kPositionA, SENSOR_STATE_ERROR, false,
         true},
        {"no position while in error: no change", kNoPosition, SENSOR_STATE_ERROR, false, false},
    };
    // SetSensorState leaves the property to its caller, so it still says no data.
    for (const Step& step : steps) {
        Feed(step.text);
        EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(step.state)) << step.legend;
        EXPECT_EQ(Property(SENSOR_PROPERTY_STATE), UI4(SENSOR_STATE_NO_DATA)) << step.legend;
        EXPECT_EQ(StateEventSet(), step.stateEvent) << step.legend;
        EXPECT_EQ(DataEventSet(), step.dataEvent) << step.legend;
    }
}

TEST_F(StateMachineTest, EachPqxfiUpdateLogsItselfAndWritesItsFields) {
    Feed(kPositionA);
    Feed("Dummy");
    Feed(kGgaPositionC);
    EXPECT_EQ(Log(), (std::vector<std::string>{"cSensorDDI::SetSensorPQXFIData\n",
                                               "cSensorDDI::SetSensorPQXFIData\n"}));
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_ERROR_RADIUS_METERS), zntr::test::R8(3.5));
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS), zntr::test::R8(545.4))
        << "the GGA after the PQXFI";
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_TIMESTAMP), zntr::test::Stamp(12, 0, 1));
}

TEST_F(StateMachineTest, DummyDropsTheSentenceTheReaderWasCarryingOver) {
    const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    const std::string head = gga.substr(0, 30);
    const std::string tail = gga.substr(30);

    Feed(head);
    Feed("Dummy");
    Feed(tail);
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES), Empty());

    // The same two pieces without the pass between them make the whole sentence.
    Feed(head);
    Feed(tail);
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES).vt, VT_R8);
}

}  // namespace
