// The device's Plug and Play and power life: which callbacks each step makes, in which order,
// with which power action, and which steps the device's state refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_lifecycle.h"
#include "framework_fakes.h"
#include "host_status.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::host::DeviceLifecycle;
using zntr::host::DeviceState;
using zntr::host::FrameworkDevice;
using zntr::host::PnpState;
using zntr::test::FakeCallbacks;
using zntr::test::Offers;

constexpr HRESULT kInvalidState = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
constexpr HRESULT kRemoved = HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED);

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        Offers offers;
        offers.hardware = offers.pnp = true;
        callbacks_ = FakeCallbacks::Make(offers);
        std::shared_ptr<DeviceState> state;
        ASSERT_EQ(DeviceState::Open(L"ROOT\\ZNTR\\0000", {}, state), S_OK);
        device_ = FrameworkDevice::Create(L"ROOT\\ZNTR\\0000", state, nullptr,
                                          static_cast<IPnpCallback*>(callbacks_.Get()), {});
        lifecycle_ = std::make_unique<DeviceLifecycle>(device_);
    }
    void TearDown() override {
        lifecycle_.reset();
        device_->Delete();
    }
    // The calls recorded since the last look.
    std::vector<std::string> NewCalls() {
        const auto calls = callbacks_->Calls();
        std::vector<std::string> fresh(calls.begin() + static_cast<std::ptrdiff_t>(seen_),
                                       calls.end());
        seen_ = calls.size();
        return fresh;
    }

    ComPtr<FakeCallbacks> callbacks_;
    ComPtr<FrameworkDevice> device_;
    std::unique_ptr<DeviceLifecycle> lifecycle_;
    std::size_t seen_ = 0;
};

using Calls = std::vector<std::string>;

TEST_F(Lifecycle, EachStepMakesItsCallbacksWithThePowerActionOfTheChange) {
    // D3Final is 5, D3 is 4; actions: none 0, sleep 2, hibernate 3.
    struct Step {
        const char* legend;
        std::function<HRESULT(DeviceLifecycle&)> run;
        HRESULT result;
        Calls calls;
    };
    const Step steps[] = {
        {"start: prepare, then D0 entry from D3Final with no action",
         [](DeviceLifecycle& l) { return l.Start(); },
         S_OK,
         {"OnPrepareHardware", "OnD0Entry 5 action=0"}},
        {"a second start is refused",
         [](DeviceLifecycle& l) { return l.Start(); },
         kInvalidState,
         {}},
        {"wake while in D0 is refused",
         [](DeviceLifecycle& l) { return l.Wake(); },
         kInvalidState,
         {}},
        {"sleep: D0 exit to D3 while the system sleeps",
         [](DeviceLifecycle& l) { return l.Sleep(PowerActionSleep); },
         S_OK,
         {"OnD0Exit 4 action=2"}},
        {"sleep again while asleep is refused",
         [](DeviceLifecycle& l) { return l.Sleep(PowerActionHibernate); },
         kInvalidState,
         {}},
        {"query-remove while asleep goes to the driver",
         [](DeviceLifecycle& l) { return l.QueryRemove(); },
         S_OK,
         {"OnQueryRemove"}},
        {"wake: D0 entry from D3 with the action the system returns from",
         [](DeviceLifecycle& l) { return l.Wake(); },
         S_OK,
         {"OnD0Entry 4 action=2"}},
        {"hibernate",
         [](DeviceLifecycle& l) { return l.Sleep(PowerActionHibernate); },
         S_OK,
         {"OnD0Exit 4 action=3"}},
        {"wake from hibernation",
         [](DeviceLifecycle& l) { return l.Wake(); },
         S_OK,
         {"OnD0Entry 4 action=3"}},
        {"query-stop", [](DeviceLifecycle& l) { return l.QueryStop(); }, S_OK, {"OnQueryStop"}},
        {"release: D0 exit to D3Final with no action, then the hardware",
         [](DeviceLifecycle& l) { return l.Release(); },
         S_OK,
         {"OnD0Exit 5 action=0", "OnReleaseHardware"}},
        {"a second release is refused: the device is removed",
         [](DeviceLifecycle& l) { return l.Release(); },
         kRemoved,
         {}},
        {"power after removal is refused",
         [](DeviceLifecycle& l) { return l.Sleep(PowerActionSleep); },
         kRemoved,
         {}},
        {"queries after removal are refused",
         [](DeviceLifecycle& l) { return l.QueryRemove(); },
         kRemoved,
         {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.legend);
        EXPECT_EQ(step.run(*lifecycle_), step.result);
        EXPECT_EQ(NewCalls(), step.calls);
    }
    EXPECT_EQ(device_->GetSystemPowerAction(), PowerActionNone) << "outside a power change";
}

TEST_F(Lifecycle, SurpriseRemovalReleasesTheDeviceAsTheFrameworkDoes) {
    ASSERT_EQ(lifecycle_->Start(), S_OK);
    NewCalls();
    EXPECT_EQ(lifecycle_->SurpriseRemove(), S_OK);
    EXPECT_EQ(NewCalls(), (Calls{"OnSurpriseRemoval", "OnD0Exit 5 action=0", "OnReleaseHardware"}));
    EXPECT_EQ(lifecycle_->Status().pnp, PnpState::kRemoved);
    EXPECT_EQ(lifecycle_->SurpriseRemove(), kRemoved);
    lifecycle_->ReleaseForShutdown();
    EXPECT_TRUE(NewCalls().empty()) << "nothing is released twice";
}

TEST_F(Lifecycle, SurpriseRemovalWhileAsleepHasNoD0Exit) {
    ASSERT_EQ(lifecycle_->Start(), S_OK);
    ASSERT_EQ(lifecycle_->Sleep(PowerActionSleep), S_OK);
    NewCalls();
    EXPECT_EQ(lifecycle_->SurpriseRemove(), S_OK);
    EXPECT_EQ(NewCalls(), (Calls{"OnSurpriseRemoval", "OnReleaseHardware"}));
}

TEST_F(Lifecycle, AFailedPreparationReleasesTheHardwareAndRemovesTheDevice) {
    callbacks_->prepareResult = E_OUTOFMEMORY;
    EXPECT_EQ(lifecycle_->Start(), E_OUTOFMEMORY);
    EXPECT_EQ(NewCalls(), (Calls{"OnPrepareHardware", "OnReleaseHardware"}));
    EXPECT_EQ(lifecycle_->Status().pnp, PnpState::kRemoved);
}

TEST_F(Lifecycle, AFailedD0EntryAtStartReleasesTheHardware) {
    callbacks_->d0EntryResult = E_FAIL;
    EXPECT_EQ(lifecycle_->Start(), E_FAIL);
    EXPECT_EQ(NewCalls(), (Calls{"OnPrepareHardware", "OnD0Entry 5 action=0", "OnReleaseHardware"}))
        << "no D0 exit for a device that never reached D0";
}

TEST_F(Lifecycle, AFailedWakeLeavesTheDeviceAsleepForAnotherTry) {
    ASSERT_EQ(lifecycle_->Start(), S_OK);
    ASSERT_EQ(lifecycle_->Sleep(PowerActionHibernate), S_OK);
    callbacks_->d0EntryResult = E_FAIL;
    EXPECT_EQ(lifecycle_->Wake(), E_FAIL);
    EXPECT_FALSE(lifecycle_->Status().inD0);
    callbacks_->d0EntryResult = S_OK;
    NewCalls();
    EXPECT_EQ(lifecycle_->Wake(), S_OK);
    EXPECT_EQ(NewCalls(), Calls{"OnD0Entry 4 action=3"}) << "still returning from hibernation";
    EXPECT_TRUE(lifecycle_->Status().inD0);
}

TEST_F(Lifecycle, AVetoedQueryIsTheDriversAnswerAndChangesNothing) {
    ASSERT_EQ(lifecycle_->Start(), S_OK);
    callbacks_->queryResult = E_ACCESSDENIED;
    EXPECT_EQ(lifecycle_->QueryRemove(), E_ACCESSDENIED);
    EXPECT_EQ(lifecycle_->QueryStop(), E_ACCESSDENIED);
    EXPECT_EQ(lifecycle_->Status().pnp, PnpState::kStarted);
    EXPECT_TRUE(lifecycle_->Status().inD0);
}

TEST_F(Lifecycle, ReleasingForShutdownTakesAStartedDeviceDown) {
    ASSERT_EQ(lifecycle_->Start(), S_OK);
    ASSERT_EQ(lifecycle_->Sleep(PowerActionSleep), S_OK);
    NewCalls();
    lifecycle_->ReleaseForShutdown();
    EXPECT_EQ(NewCalls(), Calls{"OnReleaseHardware"}) << "already out of D0";
}

}  // namespace
