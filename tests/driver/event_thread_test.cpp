// The sensor event thread of a prepared device, posting to the fake class extension: the order in
// which it serves its events, the collapse of signals given while it is busy, what a data event
// carries, its log, the exit signal a release leaves behind, and its failure paths.
#include <algorithm>
#include <thread>

#include "prepared_device.h"
#include "standin/com_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"
#include "prop_variant.h"

namespace {

using zntr::test::ComPtr;
using zntr::test::PreparedDevice;
using Calls = std::vector<std::string>;

bool Ended(HANDLE thread) {
    return WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
}

void SetLatitude(double latitude) {
    cPropVariant value;
    value.vt = VT_R8;
    value.dblVal = latitude;
    ASSERT_EQ(gpSensorDDI->SetDataFieldValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value), S_OK);
}

double Latitude(IPortableDeviceValues* event) {
    cPropVariant value;
    return event != nullptr && SUCCEEDED(event->GetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value))
               ? value.dblVal
               : -1;
}

// Signals set while the thread is held inside a post are served by their index: data, then
// state, then exit.
TEST(EventThreadTest, ServesDataBeforeStateBeforeExit) {
    PreparedDevice d;
    d.extension.CloseGate("PostStateChange");
    SetEvent(d.Device().mhStateEvent);
    ASSERT_TRUE(d.extension.WaitForCalls("PostStateChange", 1));
    for (HANDLE event : {d.Device().mhExitEvent, d.Device().mhStateEvent, d.Device().mhDataEvent}) {
        SetEvent(event);
    }
    d.extension.OpenGate("PostStateChange");
    ASSERT_TRUE(Ended(d.Device().mhEventThread));
    EXPECT_EQ(d.extension.Calls(),
              (Calls{"Initialize", "PostStateChange(2)", "PostEvent", "PostStateChange(2)"}));
}

// Ten signals while the thread posts collapse into one more event, which carries the values of
// the moment it is posted.
TEST(EventThreadTest, SignalsGivenWhileBusyCollapseIntoOneEventWithTheLatestValues) {
    PreparedDevice d;
    d.extension.CloseGate("PostEvent");
    SetLatitude(1.0);
    SetEvent(d.Device().mhDataEvent);
    ASSERT_TRUE(d.extension.WaitForCalls("PostEvent", 1));
    for (int i = 0; i < 10; ++i) {
        SetLatitude(10.0 + i);
        SetEvent(d.Device().mhDataEvent);
    }
    SetEvent(d.Device().mhExitEvent);
    d.extension.OpenGate("PostEvent");
    ASSERT_TRUE(Ended(d.Device().mhEventThread));
    const auto events = d.extension.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(Latitude(events[0].Get()), 1.0);
    EXPECT_EQ(Latitude(events[1].Get()), 19.0);

    // The event id first, then a copy of every data field.
    DWORD fields = 0;
    DWORD posted = 0;
    gpSensorDDI->mpSensorDataFields->GetCount(&fields);
    events[0]->GetCount(&posted);
    EXPECT_EQ(posted, fields + 1);
    PROPERTYKEY key;
    cPropVariant id;
    ASSERT_EQ(events[0]->GetAt(0, &key, &id), S_OK);
    EXPECT_TRUE(IsEqualPropertyKey(key, SENSOR_EVENT_PARAMETER_EVENT_ID));
    ASSERT_EQ(id.vt, VT_CLSID);
    EXPECT_TRUE(IsEqualGUID(*id.puuid, SENSOR_EVENT_DATA_UPDATED));
}

// With no data fields the event carries its id alone; without the collection there is no event
// and no log line. A state the sensor never takes (error) is not posted either.
TEST(EventThreadTest, WhatIsPostedAndLoggedWhenFieldsOrStateAreMissing) {
    PreparedDevice d;
    d.log.Take();
    ComPtr<IPortableDeviceValues> fields;
    {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        gpSensorDDI->mpSensorDataFields->Clear();
    }
    SetEvent(d.Device().mhDataEvent);
    ASSERT_TRUE(d.extension.WaitForCalls("PostEvent", 1));
    {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        fields.Swap(gpSensorDDI->mpSensorDataFields);
    }
    gpSensorDDI->mSensorState = SENSOR_STATE_ERROR;
    for (HANDLE event : {d.Device().mhDataEvent, d.Device().mhStateEvent, d.Device().mhExitEvent}) {
        SetEvent(event);
    }
    ASSERT_TRUE(Ended(d.Device().mhEventThread));
    gpSensorDDI->mpSensorDataFields = fields;
    EXPECT_EQ(d.extension.Calls(), (Calls{"Initialize", "PostEvent"}));
    DWORD posted = 0;
    d.extension.Events()[0]->GetCount(&posted);
    EXPECT_EQ(posted, 1u);
    EXPECT_EQ(d.log.Take(),
              (Calls{"PostDataEvent: posted data event", "SensorEventThreadProc: exit event"}));
}

// The thread procedure run on a thread of the test's own; the lines that thread logged.
Calls RunThread(PreparedDevice& d, LPVOID device, DWORD apartment = 0) {
    Calls log;
    std::thread([&] {
        CoInitializeEx(nullptr, apartment);
        EXPECT_EQ(SensorEventThreadProc(device), 0u);
        log = d.log.TakeOwn();
        CoUninitialize();
    }).join();
    return log;
}

// Each way the thread cannot set itself up ends it with its line (the device has no thread for
// the injected failure to reach). Without a sensor nothing is posted; a data event that cannot be
// built is dropped; without a class extension each post logs its failure and the thread goes on.
TEST(EventThreadTest, FailuresOfTheThreadAreLogged) {
    PreparedDevice d(false);
    const HANDLE data = d.Device().mhDataEvent;
    const HANDLE state = d.Device().mhStateEvent;
    const std::string exit = "SensorEventThreadProc: exit event";
    const auto run = [&](std::initializer_list<HANDLE> events) {
        std::for_each(events.begin(), events.end(), SetEvent);
        SetEvent(d.Device().mhExitEvent);  // signalled last
        return RunThread(d, &d.Device());
    };
    EXPECT_EQ(RunThread(d, nullptr), Calls{"SensorEventThreadProc: invalid pMainDevice pointer"});
    EXPECT_EQ(RunThread(d, &d.Device(), COINIT_APARTMENTTHREADED),
              Calls{"SensorEventThreadProc: unable to initialize multi-thread"});
    {
        zntr::platform::ComCreationFailure noValues(CLSID_PortableDeviceValues, E_OUTOFMEMORY);
        EXPECT_EQ(RunThread(d, &d.Device()),
                  Calls{"SensorEventThreadProc: failed to create event collections"});
    }
    EXPECT_EQ(run({data, state}), Calls{exit}) << "without a sensor nothing is posted";
    cSensorDDI::CreateInstance(&gpSensorDDI);
    gpSensorDDI->AddRef();
    ASSERT_EQ(gpSensorDDI->Initialize(L"root\\zntr\\0", d.Framework().device.Get()), S_OK);
    {
        // A data event whose id cannot be set is dropped without a word.
        const zntr::platform::ComMethodFailure noId("IPortableDeviceValues::SetGuidValue",
                                                    E_OUTOFMEMORY);
        EXPECT_EQ(run({data}), Calls{exit});
    }
    {
        const zntr::platform::ComMethodFailure noAdd("IPortableDeviceValuesCollection::Add",
                                                     E_OUTOFMEMORY);
        EXPECT_EQ(run({data}), (Calls{"PostDataEvent: failed to post data event", exit}));
    }
    EXPECT_EQ(run({data, state}), (Calls{"PostDataEvent: failed to post data event",
                                         "PostStateChangedEvent: failed to post state event",
                                         "SensorEventThreadProc: posted state event", exit}));
    std::exchange(gpSensorDDI, nullptr)->Release();
    EXPECT_EQ(d.extension.Calls(), Calls{});
}

// A preparation that fails after its queue releases what it set up, which sets the exit event
// with no thread to take it; the thread of the next preparation must not take that signal for
// its own. Its first wake-up (a state signal given before it starts) is held in its post, when
// the exit event must not be signalled, whatever the scheduling.
TEST(EventThreadTest, TheNextThreadIgnoresTheExitSignalOfAReleaseWithoutThread) {
    PreparedDevice d(false);
    {
        zntr::platform::ComCreationFailure noExtension(CLSID_SensorClassExtension,
                                                       REGDB_E_CLASSNOTREG);
        ASSERT_EQ(d.Prepare(), S_OK);
    }
    ASSERT_EQ(d.Device().mhEventThread, nullptr);
    d.extension.CloseGate("PostStateChange");
    SetEvent(d.Device().mhStateEvent);
    ASSERT_EQ(d.Prepare(), S_OK);
    EXPECT_TRUE(d.extension.WaitForCalls("PostStateChange", 1));
    EXPECT_EQ(WaitForSingleObject(d.Device().mhExitEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    d.extension.OpenGate("PostStateChange");
}

// The release ends and joins the thread before it uninitialises the class extension, and
// releases the sensor only after that.
TEST(EventThreadTest, TheReleaseJoinsTheThreadBeforeTheClassExtensionGoes) {
    PreparedDevice d;
    d.extension.CloseGate("Uninitialize");
    std::thread release([&] { d.Framework().hardware->OnReleaseHardware(nullptr); });
    ASSERT_TRUE(d.extension.WaitForCalls("Uninitialize", 1));
    EXPECT_EQ(d.log.Count("SensorEventThreadProc: exit event"), 1u);
    EXPECT_NE(gpSensorDDI, nullptr);
    d.extension.OpenGate("Uninitialize");
    release.join();
    EXPECT_EQ(gpSensorDDI, nullptr);
}

}  // namespace
