// Events: what the driver posts reaches the files subscribed to the sensor, through their waits
// or their bounded queues, and no other file.
#include "class_extension_test_support.h"

namespace zntr::test {
namespace {

using EventsTest = ClassExtensionTest;

TEST_F(EventsTest, ReachOnlyTheFilesSubscribedToTheSensor) {
    ComPtr<FakeFile> subscribed = ConnectedFile(true);
    ComPtr<FakeFile> connected = ConnectedFile(false);
    ComPtr<FakeFile> unsubscribed = ConnectedFile(true);
    ComPtr<FakeFile> disconnected = ConnectedFile(true);
    ASSERT_EQ(Exchange(unsubscribed.Get(), Command::kUnsubscribe), S_OK);
    ASSERT_EQ(Exchange(disconnected.Get(), Command::kDisconnect), S_OK);

    ComPtr<FakeRequest> wait = Wait(subscribed.Get());
    EXPECT_FALSE(wait->Completed());
    EXPECT_EQ(PostData(48.25), S_OK);
    ASSERT_EQ(wait->Completions(), 1);
    const message::Event data = EventOf(wait);
    EXPECT_EQ(data.sensorId, L"FakeSensor");
    EXPECT_TRUE(IsEqualGUID(data.eventId, SENSOR_EVENT_DATA_UPDATED));
    EXPECT_EQ(data.parameters,
              (message::ValueList{{SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED},
                                  {SENSOR_DATA_TYPE_LATITUDE_DEGREES, 48.25}}));
    EXPECT_EQ(data.droppedBefore, 0u);

    // The others got nothing: a file with no subscription has nothing to wait for, and its
    // wait ends at once.
    for (FakeFile* file : {connected.Get(), unsubscribed.Get(), disconnected.Get()}) {
        ComPtr<FakeRequest> refused = Wait(file);
        EXPECT_EQ(refused->Completions(), 1);
        EXPECT_EQ(refused->Status(), message::kStatusEnded);
    }

    EXPECT_EQ(PostState(SENSOR_STATE_INITIALIZING), S_OK);
    wait = Wait(subscribed.Get());
    const message::Event state = EventOf(wait);
    EXPECT_TRUE(IsEqualGUID(state.eventId, SENSOR_EVENT_STATE_CHANGED));
    EXPECT_EQ(state.parameters,
              (message::ValueList{{SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_STATE_CHANGED},
                                  {SENSOR_EVENT_PARAMETER_STATE, std::uint32_t{3}}}));

    // Events of another sensor are no business of this file.
    EXPECT_EQ(PostData(1.0, L"OtherSensor"), S_OK);
    wait = Wait(subscribed.Get());
    EXPECT_FALSE(wait->Completed());
}

TEST_F(EventsTest, WaitInTheFilesQueueUntilAWaitArrives) {
    ComPtr<FakeFile> file = ConnectedFile(true);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(PostData(10.0 + i), S_OK);
    }
    for (int i = 0; i < 3; ++i) {
        ComPtr<FakeRequest> wait = Wait(file.Get());
        ASSERT_EQ(wait->Completions(), 1);
        EXPECT_EQ(LatitudeOf(EventOf(wait)), 10.0 + i);
    }
    EXPECT_FALSE(Wait(file.Get())->Completed());
}

TEST_F(EventsTest, AFullQueueDropsTheOldestAndSaysHowMany) {
    ComPtr<FakeFile> file = ConnectedFile(true);
    constexpr int kExtra = 6;
    const int posted = static_cast<int>(zntr::host::kEventQueueLimit) + kExtra;
    for (int i = 0; i < posted; ++i) {
        ASSERT_EQ(PostData(i), S_OK);
    }
    message::Event event = EventOf(Wait(file.Get()));
    EXPECT_EQ(LatitudeOf(event), kExtra);
    EXPECT_EQ(event.droppedBefore, static_cast<std::uint32_t>(kExtra));
    event = EventOf(Wait(file.Get()));
    EXPECT_EQ(LatitudeOf(event), kExtra + 1);
    EXPECT_EQ(event.droppedBefore, 0u);
}

TEST_F(EventsTest, AnEventTooBigForTheWaitStaysForOneThatHasRoom) {
    ComPtr<FakeFile> file = ConnectedFile(true);
    ComPtr<FakeRequest> small = Wait(file.Get(), 20);
    ASSERT_EQ(PostData(7.5), S_OK);
    ASSERT_EQ(small->Completions(), 1);
    const message::Answer tooSmall = AnswerOf(small);
    EXPECT_EQ(tooSmall.status, message::kStatusBufferTooSmall);
    const std::size_t needed = message::kHeaderBytes + tooSmall.neededBodyBytes;
    EXPECT_GT(needed, 20u);

    ComPtr<FakeRequest> fitting = Wait(file.Get(), needed);
    ASSERT_EQ(fitting->Completions(), 1);
    EXPECT_EQ(fitting->Data().size(), needed);
    EXPECT_EQ(LatitudeOf(EventOf(fitting)), 7.5);
}

TEST_F(EventsTest, PostsOneEventPerElementAndSkipsElementsWithoutAnEventId) {
    ComPtr<FakeFile> file = ConnectedFile(true);
    ComPtr<IPortableDeviceValuesCollection> collection;
    ASSERT_EQ(Create(CLSID_PortableDeviceValuesCollection, IID_IPortableDeviceValuesCollection,
                     collection),
              S_OK);
    for (const double latitude : {1.0, 2.0, 3.0}) {
        ComPtr<IPortableDeviceValues> element;
        ASSERT_EQ(Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, element), S_OK);
        if (latitude != 2.0) {
            element->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
        }
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_R8;
        value.dblVal = latitude;
        element->SetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value);
        collection->Add(element.Get());
    }
    std::wstring sensorId = kFakeSensorId;
    EXPECT_EQ(extension_->PostEvent(sensorId.data(), collection.Get()), E_INVALIDARG);
    EXPECT_EQ(LatitudeOf(EventOf(Wait(file.Get()))), 1.0);
    EXPECT_EQ(LatitudeOf(EventOf(Wait(file.Get()))), 3.0);
    EXPECT_FALSE(Wait(file.Get())->Completed());
    EXPECT_EQ(extension_->PostEvent(nullptr, collection.Get()), E_POINTER);
    EXPECT_EQ(extension_->PostEvent(sensorId.data(), nullptr), E_POINTER);
}

TEST_F(EventsTest, EveryFileGetsItsOwnCopyOfEachEvent) {
    ComPtr<FakeFile> first = ConnectedFile(true);
    ComPtr<FakeFile> second = ConnectedFile(true);
    ComPtr<FakeRequest> firstWait = Wait(first.Get());
    ASSERT_EQ(PostData(5.0), S_OK);
    ASSERT_EQ(PostData(6.0), S_OK);
    EXPECT_EQ(LatitudeOf(EventOf(firstWait)), 5.0);
    EXPECT_EQ(LatitudeOf(EventOf(Wait(first.Get()))), 6.0);
    EXPECT_EQ(LatitudeOf(EventOf(Wait(second.Get()))), 5.0);
    EXPECT_EQ(LatitudeOf(EventOf(Wait(second.Get()))), 6.0);
}

TEST_F(EventsTest, UnsubscribingDropsTheQueueAndEndsTheWaits) {
    ComPtr<FakeFile> file = ConnectedFile(true);
    ComPtr<FakeRequest> pending = Wait(file.Get());
    ASSERT_EQ(PostData(1.0), S_OK);  // completes the pending wait
    ASSERT_EQ(PostData(2.0), S_OK);  // queued
    pending = Wait(file.Get());      // takes the queued one
    ASSERT_EQ(LatitudeOf(EventOf(pending)), 2.0);
    ASSERT_EQ(PostData(3.0), S_OK);  // queued again
    pending = Wait(file.Get());
    pending = Wait(file.Get());  // and one pending
    ASSERT_FALSE(pending->Completed());

    EXPECT_EQ(Exchange(file.Get(), Command::kUnsubscribe), S_OK);
    EXPECT_EQ(pending->Status(), message::kStatusEnded);
    EXPECT_EQ(Exchange(file.Get(), Command::kSubscribe), S_OK);
    EXPECT_FALSE(Wait(file.Get())->Completed());  // nothing left over from before
}

TEST_F(EventsTest, RefusesMoreWaitsThanItKeeps) {
    ComPtr<FakeFile> file = ConnectedFile(true);
    std::vector<ComPtr<FakeRequest>> waits;
    for (std::size_t i = 0; i < zntr::host::kPendingWaitLimit; ++i) {
        waits.push_back(Wait(file.Get()));
        EXPECT_FALSE(waits.back()->Completed());
    }
    ComPtr<FakeRequest> extra = Wait(file.Get());
    EXPECT_EQ(extra->Completions(), 1);
    EXPECT_EQ(extra->Status(), message::kStatusTooManyWaits);
    // The kept ones are served in the order they came.
    ASSERT_EQ(PostData(1.0), S_OK);
    EXPECT_TRUE(waits[0]->Completed());
    EXPECT_FALSE(waits[1]->Completed());
}

}  // namespace
}  // namespace zntr::test
