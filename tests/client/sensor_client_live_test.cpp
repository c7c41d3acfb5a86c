// SensorClient with the real sensor behind the class extension: its catalogue through the
// messages, and, with the hotspot simulator streaming on loopback (the network map sends every
// endpoint of the driver there, the guard stays closed), clients that share one feed, receive
// positions and states as events, and take the feed down when the last one leaves, also when it
// dies without a word.
#include <gtest/gtest.h>

#include <memory>

#include "fake_framework.h"
#include "in_process_channel.h"
#include "live_sensor_test_support.h"
#include "sensor_class_extension.h"
#include "sensor_client.h"
#include "sensor_event_pump.h"

namespace zntr::test {
namespace {

using namespace std::chrono_literals;
using zntr::client::EventQueue;
using zntr::client::SensorClient;
using zntr::client::SensorEvent;
namespace message = zntr::sensor_message;

class SensorClientLiveTest : public LiveSensorTest {
  protected:
    void SetUp() override {
        LiveSensorTest::SetUp();
        ASSERT_EQ(
            zntr::host::CreateSensorClassExtension(
                IID_ISensorClassExtension, reinterpret_cast<void**>(extension_.GetAddressOf())),
            S_OK);
        ASSERT_EQ(extension_->Initialize(device_.Get(), static_cast<ISensorDriver*>(gpSensorDDI)),
                  S_OK);
        pump_ = std::make_unique<SensorEventPump>(extension_.Get(), dataEvent_, stateEvent_);
    }
    void TearDown() override {
        pump_.reset();
        extension_->Uninitialize();
        extension_ = nullptr;
        LiveSensorTest::TearDown();
    }

    // One program: its open file of the device, its sensor client and its events.
    struct Program {
        explicit Program(ISensorClassExtension* extension) : channel(extension), client(channel) {}
        EventQueue events;  // outlives the client, whose event thread fills it to the end
        InProcessChannel channel;
        SensorClient client;
    };

    // Reads the program's events until it has seen a position and the ready state.
    static bool SawPositionAndReady(Program& program) {
        bool position = false;
        bool ready = false;
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        while (!(position && ready) && std::chrono::steady_clock::now() < deadline) {
            std::optional<SensorEvent> event = program.events.Next(100ms);
            if (!event) {
                continue;
            }
            if (event->kind == SensorEvent::Kind::kDataUpdated) {
                const message::Value* latitude = event->Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES);
                const message::Value* time = event->Find(SENSOR_DATA_TYPE_TIMESTAMP);
                position =
                    position || (latitude != nullptr && std::holds_alternative<double>(*latitude) &&
                                 std::get<double>(*latitude) != 0.0 && time != nullptr &&
                                 std::holds_alternative<message::FileTime>(*time));
            } else if (event->kind == SensorEvent::Kind::kStateChanged) {
                ready = ready || event->state == std::optional<std::uint32_t>(SENSOR_STATE_READY);
            }
        }
        return position && ready;
    }

    ComPtr<ISensorClassExtension> extension_;
    std::unique_ptr<SensorEventPump> pump_;
};

// Without a client connected nothing reaches the network; the answers are the catalogue's.
TEST_F(SensorClientLiveTest, AnswersWithTheSensorsCatalogue) {
    InProcessChannel channel(extension_.Get());
    SensorClient client(channel);
    EXPECT_EQ(client.SensorId(), L"ZntrVComLocation");

    const std::vector<PROPERTYKEY> properties = client.SupportedProperties();
    ASSERT_EQ(properties.size(), std::size(kSensorPropertyCatalogue));
    for (std::size_t i = 0; i < properties.size(); ++i) {
        EXPECT_TRUE(IsEqualPropertyKey(properties[i], kSensorPropertyCatalogue[i].mKey))
            << kSensorPropertyCatalogue[i].mName;
    }
    EXPECT_EQ(client.SupportedDataFields().size(), std::size(kSensorDataFieldCatalogue));
    EXPECT_EQ(client.SupportedEvents(),
              (std::vector<GUID>{SENSOR_EVENT_DATA_UPDATED, SENSOR_EVENT_STATE_CHANGED}));

    const PROPERTYKEY state[] = {SENSOR_PROPERTY_STATE};
    const zntr::client::ValuesAnswer got = client.GetProperties(state);
    EXPECT_EQ(got.status, S_OK);
    EXPECT_EQ(*got.Find(SENSOR_PROPERTY_STATE),
              message::Value(std::uint32_t{SENSOR_STATE_NO_DATA}));

    // No property is ever changed by a client.
    const zntr::client::ValuesAnswer set =
        client.SetProperties({{SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, std::uint32_t{1000}},
                              {SENSOR_PROPERTY_FRIENDLY_NAME, std::wstring(L"mine")},
                              {SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY, std::uint32_t{1}}});
    EXPECT_EQ(set.status, S_FALSE);
    ASSERT_EQ(set.values.size(), 3u);
    for (const message::KeyedValue& result : set.values) {
        EXPECT_EQ(result.value, message::Value(message::ErrorCode{HRESULT_FROM_WIN32(1168)}));
    }
    EXPECT_FALSE(FeedThreadHeld());
}

TEST_F(SensorClientLiveTest, ClientsShareOneFeedAndTheLastToLeaveEndsIt) {
    StartHotspot(StreamingHotspot());
    std::vector<std::unique_ptr<Program>> programs;
    for (int i = 0; i < 3; ++i) {
        programs.push_back(std::make_unique<Program>(extension_.Get()));
        ASSERT_EQ(programs.back()->client.Connect(), S_OK);
        ASSERT_EQ(programs.back()->client.Subscribe(programs.back()->events.Callback()), S_OK);
    }
    EXPECT_EQ(Sensor().mClientCount.load(), 3u);
    EXPECT_TRUE(FeedThreadHeld());
    for (auto& program : programs) {
        EXPECT_TRUE(SawPositionAndReady(*program));
    }

    // The position the events carried is the one a query gives.
    const PROPERTYKEY latitude[] = {SENSOR_DATA_TYPE_LATITUDE_DEGREES};
    const zntr::client::ValuesAnswer fields = programs[0]->client.GetDataFields(latitude);
    EXPECT_TRUE(std::holds_alternative<double>(*fields.Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES)));

    programs.pop_back();
    programs.pop_back();
    EXPECT_EQ(Sensor().mClientCount.load(), 1u);
    EXPECT_TRUE(FeedThreadHeld());
    programs.clear();
    EXPECT_EQ(Sensor().mClientCount.load(), 0u);
    EXPECT_EQ(Sensor().mSubscriberCount, 0u);
    EXPECT_TRUE(WaitFor([&] { return !FeedThreadHeld(); }, 5s));
    EXPECT_EQ(Sensor().mSocket, 0u);
}

// A program killed without a word: only its file's cleanup tells of it.
TEST_F(SensorClientLiveTest, AClientThatDiesLeavesNoFeedRunning) {
    StartHotspot(StreamingHotspot());
    Program program(extension_.Get());
    ASSERT_EQ(program.client.Connect(), S_OK);
    ASSERT_EQ(program.client.Subscribe(program.events.Callback()), S_OK);
    ASSERT_TRUE(SawPositionAndReady(program));

    program.channel.Close();
    EXPECT_EQ(Sensor().mClientCount.load(), 0u);
    EXPECT_EQ(Sensor().mSubscriberCount, 0u);
    EXPECT_TRUE(WaitFor([&] { return !FeedThreadHeld(); }, 5s));
    // Its event thread learnt that the events ended: from the cleanup that ended its pending
    // wait, or, when it was between two waits, from the closed file.
    std::optional<SensorEvent> last;
    while (std::optional<SensorEvent> event = program.events.Next(2s)) {
        last = event;
        if (last->kind == SensorEvent::Kind::kEnded) {
            break;
        }
    }
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->kind, SensorEvent::Kind::kEnded);
    EXPECT_TRUE(last->status == message::kStatusEnded || last->status == E_HANDLE)
        << message::DescribeStatus(last->status);
}

}  // namespace
}  // namespace zntr::test
