// The client library's sensor requests and events, end to end in process: SensorClient over a
// channel whose requests go to the class extension, with the fake driver behind it.
#include <gtest/gtest.h>

#include "class_extension_test_support.h"
#include "in_process_channel.h"
#include "sensor_client.h"

namespace zntr::test {
namespace {

using zntr::client::EventQueue;
using zntr::client::SensorClient;
using zntr::client::SensorError;
using zntr::client::SensorEvent;

constexpr auto kEventTimeout = std::chrono::seconds(10);

class SensorClientTest : public ClassExtensionTest {
  protected:
    // The next event, which must come.
    static SensorEvent NextEvent(EventQueue& queue) {
        std::optional<SensorEvent> event = queue.Next(kEventTimeout);
        if (!event) {
            ADD_FAILURE() << "no event came";
            return SensorEvent::Ended(E_FAIL);
        }
        return *event;
    }

    // The status of the SensorError the call throws (S_OK if it throws none).
    template <typename Call>
    static HRESULT StatusThrownBy(Call call, std::string* what = nullptr) {
        try {
            call();
        } catch (const SensorError& error) {
            if (what != nullptr) {
                *what = error.what();
            }
            return error.Status();
        }
        return S_OK;
    }
};

TEST_F(SensorClientTest, AnswersQueriesWithTypedValues) {
    InProcessChannel channel(extension_.Get());
    SensorClient client(channel);

    EXPECT_EQ(client.SensorId(), L"FakeSensor");
    EXPECT_EQ(client.SupportedSensorObjects().size(), 1u);
    EXPECT_EQ(client.SupportedProperties().size(), 3u);
    EXPECT_EQ(client.SupportedDataFields().size(), 2u);
    EXPECT_EQ(client.SupportedEvents(),
              (std::vector<GUID>{SENSOR_EVENT_DATA_UPDATED, SENSOR_EVENT_STATE_CHANGED}));

    const PROPERTYKEY properties[] = {SENSOR_PROPERTY_FRIENDLY_NAME, SENSOR_PROPERTY_MODEL};
    const zntr::client::ValuesAnswer got = client.GetProperties(properties);
    EXPECT_EQ(got.status, S_FALSE);
    EXPECT_EQ(std::get<std::wstring>(*got.Find(SENSOR_PROPERTY_FRIENDLY_NAME)), L"Fake GPS");
    EXPECT_EQ(std::get<message::ErrorCode>(*got.Find(SENSOR_PROPERTY_MODEL)).code,
              HRESULT_FROM_WIN32(ERROR_NOT_FOUND));

    const PROPERTYKEY fields[] = {SENSOR_DATA_TYPE_LATITUDE_DEGREES};
    const zntr::client::ValuesAnswer data = client.GetDataFields(fields);
    EXPECT_EQ(data.status, S_OK);
    EXPECT_EQ(std::get<double>(*data.Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES)), 47.5);

    const zntr::client::ValuesAnswer set =
        client.SetProperties({{SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, std::uint32_t{1000}}});
    EXPECT_EQ(set.status, S_FALSE);
    EXPECT_EQ(set.values.size(), 1u);
}

// Each failure names the request and says what its status means.
TEST_F(SensorClientTest, ThrowsErrorsThatNameTheRequestAndTheStatus) {
    InProcessChannel channel(extension_.Get());
    SensorClient client(channel);
    std::string what;
    EXPECT_EQ(StatusThrownBy([&] { client.Subscribe([](const SensorEvent&) {}); }, &what),
              message::kStatusWrongState);
    EXPECT_EQ(what.rfind("subscribe: ERROR_INVALID_STATE (0x8007139F): not connected", 0), 0u)
        << what;
    EXPECT_EQ(StatusThrownBy([&] { client.Disconnect(); }), message::kStatusWrongState);

    client.UseSensor(L"OtherSensor");
    EXPECT_EQ(StatusThrownBy([&] { client.SupportedProperties(); }), message::kStatusUnknownSensor);

    struct Case {
        const char* legend;
        zntr::client::Completion completion;
        HRESULT expected;
    };
    const Case cases[] = {
        {"the host went away", {HRESULT_FROM_WIN32(1167), {}}, HRESULT_FROM_WIN32(1167)},
        {"an answer that is no message", {S_OK, {1, 2, 3}}, message::kStatusMalformed},
        {"an answer to another command",
         {S_OK, message::EncodeRefusal(Command::kConnect, S_OK)},
         message::kStatusMalformed},
        {"a too-small answer that asks for nothing more",
         {S_OK, message::EncodeBufferTooSmall(Command::kGetSupportedSensorObjects, 0)},
         message::kStatusBufferTooSmall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        CannedChannel canned(c.completion);
        SensorClient failing(canned);
        EXPECT_EQ(StatusThrownBy([&] { failing.SupportedSensorObjects(); }), c.expected);
    }
}

TEST_F(SensorClientTest, OffersABiggerBufferWhenTheAnswerNeedsOne) {
    driver_->friendlyName = std::wstring(5000, L'n');  // 10000 bytes on the wire
    InProcessChannel channel(extension_.Get());
    SensorClient client(channel);
    const std::vector<zntr::client::ValueList> objects = client.SupportedSensorObjects();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(
        std::get<std::wstring>(*message::FindValue(objects[0], SENSOR_PROPERTY_FRIENDLY_NAME)),
        driver_->friendlyName);
    const std::vector<std::size_t> sizes = channel.OutputSizes();
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[0], SensorClient::kInitialAnswerBytes);
    EXPECT_GT(sizes[1], 10000u);
}

TEST_F(SensorClientTest, DeliversEventsUntilUnsubscribed) {
    EventQueue events;  // outlives the client, whose event thread fills it to the end
    InProcessChannel channel(extension_.Get());
    SensorClient client(channel);
    ASSERT_EQ(client.Connect(), S_OK);
    ASSERT_EQ(client.Subscribe(events.Callback()), S_OK);
    ASSERT_EQ(driver_->Subscribers(), 1);

    ASSERT_EQ(PostData(46.5), S_OK);
    ASSERT_EQ(PostState(SENSOR_STATE_READY), S_OK);
    SensorEvent data = NextEvent(events);
    EXPECT_EQ(data.kind, SensorEvent::Kind::kDataUpdated);
    EXPECT_EQ(data.sensorId, L"FakeSensor");
    EXPECT_EQ(std::get<double>(*data.Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES)), 46.5);
    SensorEvent state = NextEvent(events);
    EXPECT_EQ(state.kind, SensorEvent::Kind::kStateChanged);
    EXPECT_EQ(state.state, std::optional<std::uint32_t>(SENSOR_STATE_READY));

    ASSERT_EQ(client.Unsubscribe(), S_OK);
    SensorEvent ended = NextEvent(events);
    EXPECT_EQ(ended.kind, SensorEvent::Kind::kEnded);
    EXPECT_EQ(ended.status, message::kStatusEnded);
    EXPECT_EQ(driver_->Subscribers(), 0);

    // Events posted now reach nobody; a new subscription starts a new stream.
    ASSERT_EQ(PostData(1.0), S_OK);
    ASSERT_EQ(client.Subscribe(events.Callback()), S_OK);
    ASSERT_EQ(PostData(2.0), S_OK);
    data = NextEvent(events);
    EXPECT_EQ(std::get<double>(*data.Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES)), 2.0);
}

TEST_F(SensorClientTest, ReceivesAnEventBiggerThanItsFirstBuffer) {
    EventQueue events;  // outlives the client, whose event thread fills it to the end
    InProcessChannel channel(extension_.Get());
    SensorClient client(channel);
    client.Connect();
    client.Subscribe(events.Callback());
    ComPtr<IPortableDeviceValues> parameters;
    ComPtr<IPortableDeviceValuesCollection> collection;
    ASSERT_EQ(Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, parameters), S_OK);
    ASSERT_EQ(Create(CLSID_PortableDeviceValuesCollection, IID_IPortableDeviceValuesCollection,
                     collection),
              S_OK);
    const std::wstring sentence(6000, L'$');
    parameters->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
    parameters->SetStringValue(SENSOR_DATA_TYPE_NMEA_SENTENCE, sentence.c_str());
    collection->Add(parameters.Get());
    std::wstring id = kFakeSensorId;
    ASSERT_EQ(extension_->PostEvent(id.data(), collection.Get()), S_OK);
    const SensorEvent event = NextEvent(events);
    ASSERT_EQ(event.kind, SensorEvent::Kind::kDataUpdated);
    EXPECT_EQ(std::get<std::wstring>(*event.Find(SENSOR_DATA_TYPE_NMEA_SENTENCE)), sentence);
}

// However a client ends, the driver's counts go back to zero and its event thread ends.
TEST_F(SensorClientTest, EveryWayOfLeavingLetsTheSensorGo) {
    struct Case {
        const char* legend;
        void (*leave)(SensorClient& client, InProcessChannel& channel);
    };
    const Case cases[] = {
        {"disconnects while subscribed",
         [](SensorClient& client, InProcessChannel&) { client.Disconnect(); }},
        {"is destroyed while subscribed", [](SensorClient&, InProcessChannel&) {}},
        {"closes the channel (or dies) while subscribed",
         [](SensorClient&, InProcessChannel& channel) { channel.Close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        EventQueue events;
        {
            InProcessChannel channel(extension_.Get());
            SensorClient client(channel);
            client.Connect();
            client.Subscribe(events.Callback());
            ASSERT_EQ(driver_->Clients(), 1);
            c.leave(client, channel);
        }
        EXPECT_EQ(driver_->Clients(), 0);
        EXPECT_EQ(driver_->Subscribers(), 0);
        const SensorEvent ended = NextEvent(events);
        EXPECT_EQ(ended.kind, SensorEvent::Kind::kEnded);
    }
}

TEST_F(SensorClientTest, SeveralClientsEachGetEveryEvent) {
    constexpr int kClients = 3;
    // In the order that lets each outlive what uses it.
    std::vector<std::unique_ptr<EventQueue>> queues;
    std::vector<std::unique_ptr<InProcessChannel>> channels;
    std::vector<std::unique_ptr<SensorClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        channels.push_back(std::make_unique<InProcessChannel>(extension_.Get()));
        clients.push_back(std::make_unique<SensorClient>(*channels.back()));
        queues.push_back(std::make_unique<EventQueue>());
        clients.back()->Connect();
        clients.back()->Subscribe(queues.back()->Callback());
    }
    EXPECT_EQ(driver_->Clients(), kClients);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(PostData(i), S_OK);
    }
    for (auto& queue : queues) {
        for (int i = 0; i < 5; ++i) {
            const SensorEvent event = NextEvent(*queue);
            EXPECT_EQ(std::get<double>(*event.Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES)), i);
        }
    }
    clients.clear();
    EXPECT_EQ(driver_->Clients(), 0);
}

TEST(EventQueueTest, KeepsTheNewestAndCountsWhatItDropped) {
    EventQueue queue(2);
    for (int i = 0; i < 5; ++i) {
        SensorEvent event;
        event.droppedBefore = static_cast<std::uint32_t>(i);  // a tag to tell them apart
        queue.Push(event);
    }
    EXPECT_EQ(queue.Dropped(), 3u);
    EXPECT_EQ(queue.Next(std::chrono::milliseconds(0))->droppedBefore, 3u);
    EXPECT_EQ(queue.Next(std::chrono::milliseconds(0))->droppedBefore, 4u);
    EXPECT_FALSE(queue.Next(std::chrono::milliseconds(1)).has_value());
}

}  // namespace
}  // namespace zntr::test
