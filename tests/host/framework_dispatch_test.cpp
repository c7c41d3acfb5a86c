// How the framework hands requests to a driver's queue callbacks: which requests it completes
// itself, parallel, sequential and manual queues, the device's locking constraint, power-managed
// queues, routing, and a file's cleanup coming after the callbacks of its requests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "device_initialize.h"
#include "framework_driver.h"
#include "framework_fakes.h"
#include "framework_request.h"
#include "host_status.h"

namespace {

using namespace std::chrono_literals;
using Microsoft::WRL::ComPtr;
using zntr::host::DeviceInitialize;
using zntr::host::DeviceSettings;
using zntr::host::DeviceState;
using zntr::host::FrameworkDevice;
using zntr::host::FrameworkFile;
using zntr::host::FrameworkRequest;
using zntr::host::RequestResult;
using zntr::test::FakeCallbacks;
using zntr::test::Offers;

// A device with a callback object, its queue made as a driver makes it, and a file; the device
// is deleted at the end as the framework does.
class Dispatch : public ::testing::Test {
  protected:
    void MakeDevice(const Offers& offers, WDF_CALLBACK_CONSTRAINT locking = None) {
        std::shared_ptr<DeviceState> state;
        ASSERT_EQ(DeviceState::Open(L"ROOT\\ZNTR\\0000", {}, state), S_OK);
        DeviceSettings settings;
        settings.lockingConstraint = locking;
        callbacks_ = FakeCallbacks::Make(offers);
        device_ =
            FrameworkDevice::Create(L"ROOT\\ZNTR\\0000", state, nullptr,
                                    static_cast<IQueueCallbackCreate*>(callbacks_.Get()), settings);
        file_ = FrameworkFile::Create(device_.Get(), L"", 1);
    }
    void MakeQueue(WDF_IO_QUEUE_DISPATCH_TYPE type, BOOL powerManaged = FALSE,
                   BOOL zeroLength = TRUE) {
        ASSERT_EQ(device_->CreateIoQueue(static_cast<IQueueCallbackCreate*>(callbacks_.Get()), TRUE,
                                         type, powerManaged, zeroLength, queue_.GetAddressOf()),
                  S_OK);
    }
    void TearDown() override {
        if (callbacks_) {
            callbacks_->OpenGate();
        }
        if (device_) {
            device_->Delete();
        }
    }

    // A request submitted to the device whose completion lands in results_[index].
    ComPtr<FrameworkRequest> Submit(WDF_REQUEST_TYPE type, std::size_t length = 16) {
        std::size_t index = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = results_.size();
            results_.emplace_back();
        }
        auto record = [this, index](const RequestResult& result) {
            std::lock_guard<std::mutex> lock(mutex_);
            results_[index] = result.status;
        };
        ComPtr<FrameworkRequest> request;
        if (type == WdfRequestCreate) {
            request = FrameworkRequest::CreateFileRequest(file_, record);
        } else if (type == WdfRequestRead) {
            request = FrameworkRequest::ReadRequest(file_, length, record);
        } else {
            request = FrameworkRequest::DeviceIoControlRequest(file_, 0x22, {}, length, record);
        }
        device_->Submit(request);
        return request;
    }
    std::optional<HRESULT> Result(std::size_t index) {
        std::lock_guard<std::mutex> lock(mutex_);
        return results_[index];
    }
    bool WaitForResult(std::size_t index) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!Result(index) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
        return Result(index).has_value();
    }

    ComPtr<FakeCallbacks> callbacks_;
    ComPtr<FrameworkDevice> device_;
    ComPtr<FrameworkFile> file_;
    ComPtr<IWDFIoQueue> queue_;
    std::mutex mutex_;
    std::vector<std::optional<HRESULT>> results_;
};

TEST_F(Dispatch, CompletesTheRequestsTheCallbackObjectHasNoInterfaceFor) {
    struct Case {
        const char* legend;
        WDF_REQUEST_TYPE type;
        HRESULT frameworkResult;  // S_OK from the callback when it has the interface
    };
    const Case cases[] = {
        {"a create without IQueueCallbackCreate succeeds", WdfRequestCreate, S_OK},
        {"a read without IQueueCallbackRead is not supported", WdfRequestRead,
         HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)},
        {"a device I/O control request without its interface is not supported",
         WdfRequestDeviceIoControl, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)},
    };
    Offers offers;
    offers.read = true;  // a queue needs one callback interface
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::size_t index = results_.size();
        Submit(c.type);
        ASSERT_TRUE(WaitForResult(index));
        EXPECT_EQ(*Result(index), c.type == WdfRequestRead ? S_OK : c.frameworkResult);
    }
    EXPECT_EQ(callbacks_->Calls(), std::vector<std::string>{"OnRead"});
}

TEST_F(Dispatch, ADeviceWithoutAQueueCanBeOpenedButNotRead) {
    MakeDevice(Offers{});
    Submit(WdfRequestCreate);
    Submit(WdfRequestRead);
    ASSERT_TRUE(WaitForResult(0) && WaitForResult(1));
    EXPECT_EQ(*Result(0), S_OK);
    EXPECT_EQ(*Result(1), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
}

TEST_F(Dispatch, AParallelQueueRunsCallbacksAtOnce) {
    Offers offers;
    offers.read = offers.deviceIoControl = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel);
    callbacks_->CloseGate();
    Submit(WdfRequestRead);
    Submit(WdfRequestDeviceIoControl);
    Submit(WdfRequestRead);
    EXPECT_TRUE(callbacks_->WaitForWaiting(3)) << "all three callbacks run together";
    callbacks_->OpenGate();
    ASSERT_TRUE(WaitForResult(0) && WaitForResult(1) && WaitForResult(2));
}

TEST_F(Dispatch, DeviceLevelLockingMakesTheCallbacksTakeTurns) {
    Offers offers;
    offers.read = true;
    MakeDevice(offers, WdfDeviceLevel);
    MakeQueue(WdfIoQueueDispatchParallel);
    callbacks_->CloseGate();
    Submit(WdfRequestRead);
    Submit(WdfRequestRead);
    ASSERT_TRUE(callbacks_->WaitForWaiting(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(callbacks_->Waiting(), 1) << "the second callback waits for the device's lock";
    callbacks_->OpenGate();
    ASSERT_TRUE(WaitForResult(0) && WaitForResult(1));
    EXPECT_EQ(callbacks_->Calls().size(), 2u);
}

TEST_F(Dispatch, ASequentialQueueHandsOverTheNextRequestOnlyAfterACompletion) {
    Offers offers;
    offers.read = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchSequential);
    // The driver keeps the requests it is given; the test completes them.
    std::vector<ComPtr<IWDFIoRequest>> held;
    std::mutex heldMutex;
    callbacks_->onRequest = [&](IWDFIoRequest* request) {
        std::lock_guard<std::mutex> lock(heldMutex);
        held.emplace_back(request);
    };
    auto heldCount = [&] {
        std::lock_guard<std::mutex> lock(heldMutex);
        return held.size();
    };
    auto waitForHeld = [&](std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (heldCount() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
        return heldCount() >= count;
    };
    Submit(WdfRequestRead);
    Submit(WdfRequestRead);
    ASSERT_TRUE(waitForHeld(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(heldCount(), 1u) << "the first request is not completed yet";
    ULONG inQueue = 0;
    ULONG inDriver = 0;
    queue_->GetState(&inQueue, &inDriver);
    EXPECT_EQ(inQueue, 1u);
    EXPECT_EQ(inDriver, 1u);
    {
        std::lock_guard<std::mutex> lock(heldMutex);
        held[0]->Complete(S_OK);
    }
    ASSERT_TRUE(waitForHeld(2));
    std::lock_guard<std::mutex> lock(heldMutex);
    held[1]->Complete(S_OK);
}

TEST_F(Dispatch, AManualQueueKeepsItsRequestsUntilTheDriverTakesThem) {
    MakeDevice(Offers{});
    ASSERT_EQ(device_->CreateIoQueue(nullptr, TRUE, WdfIoQueueDispatchManual, FALSE, TRUE,
                                     queue_.GetAddressOf()),
              S_OK);
    const ComPtr<FrameworkRequest> first = Submit(WdfRequestRead);
    const ComPtr<FrameworkRequest> second = Submit(WdfRequestDeviceIoControl);
    ComPtr<IWDFIoRequest> taken;
    ASSERT_EQ(queue_->RetrieveNextRequest(taken.GetAddressOf()), S_OK);
    EXPECT_EQ(taken.Get(), static_cast<IWDFIoRequest*>(first.Get())) << "oldest first";
    ComPtr<IWDFIoQueue> owner;
    taken->GetIoQueue(owner.ReleaseAndGetAddressOf());
    EXPECT_EQ(owner.Get(), queue_.Get());
    taken->Complete(S_OK);
    ASSERT_EQ(queue_->RetrieveNextRequestByFileObject(file_.Get(), taken.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_EQ(taken.Get(), static_cast<IWDFIoRequest*>(second.Get()));
    taken->Complete(S_OK);
    EXPECT_EQ(queue_->RetrieveNextRequest(taken.ReleaseAndGetAddressOf()),
              HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(taken);
}

TEST_F(Dispatch, ADispatchingQueueHasNoRequestsToRetrieve) {
    Offers offers;
    offers.read = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel);
    ComPtr<IWDFIoRequest> taken;
    EXPECT_EQ(queue_->RetrieveNextRequest(taken.GetAddressOf()),
              static_cast<HRESULT>(0xD0000184u))  // HRESULT_FROM_NT(STATUS_INVALID_DEVICE_STATE)
        << "a parallel queue";
}

TEST_F(Dispatch, APowerManagedQueueHoldsRequestsWhileTheDeviceIsOutOfD0) {
    Offers offers;
    offers.read = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel, TRUE);
    device_->SetPowerHeld(true);
    Submit(WdfRequestRead);
    ULONG inQueue = 0;
    const WDF_IO_QUEUE_STATE state = queue_->GetState(&inQueue, nullptr);
    EXPECT_EQ(inQueue, 1u);
    EXPECT_NE(state & WdfIoQueuePnpHeld, 0);
    EXPECT_EQ(state & WdfIoQueueDispatchRequests, 0);
    EXPECT_TRUE(callbacks_->Calls().empty());
    device_->SetPowerHeld(false);
    ASSERT_TRUE(WaitForResult(0));
    EXPECT_EQ(callbacks_->Calls(), std::vector<std::string>{"OnRead"});
}

TEST_F(Dispatch, AQueueThatIsNotPowerManagedIgnoresTheDevicesPower) {
    Offers offers;
    offers.read = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel, FALSE);
    device_->SetPowerHeld(true);
    Submit(WdfRequestRead);
    ASSERT_TRUE(WaitForResult(0));
}

TEST_F(Dispatch, ZeroLengthReadsAreTheFrameworksUnlessTheQueueTakesThem) {
    Offers offers;
    offers.read = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel, FALSE, FALSE);
    Submit(WdfRequestRead, 0);
    ASSERT_TRUE(WaitForResult(0));
    EXPECT_EQ(*Result(0), S_OK);
    EXPECT_TRUE(callbacks_->Calls().empty());
}

TEST_F(Dispatch, ARemovedDeviceRefusesNewOpens) {
    Offers offers;
    offers.create = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel);
    device_->SetRemoved(true);
    Submit(WdfRequestCreate);
    ASSERT_TRUE(WaitForResult(0));
    EXPECT_EQ(*Result(0), HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED));
    EXPECT_TRUE(callbacks_->Calls().empty());
}

TEST_F(Dispatch, RoutesATypeToTheQueueConfiguredForIt) {
    Offers offers;
    offers.read = offers.deviceIoControl = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel);
    ComPtr<IWDFIoQueue> manual;
    ASSERT_EQ(device_->CreateIoQueue(nullptr, FALSE, WdfIoQueueDispatchManual, FALSE, TRUE,
                                     manual.GetAddressOf()),
              S_OK);
    ASSERT_EQ(manual->ConfigureRequestDispatching(WdfRequestRead, TRUE), S_OK);
    EXPECT_EQ(device_->ConfigureRequestDispatching(manual.Get(), WdfRequestCleanup, TRUE),
              E_INVALIDARG);
    Submit(WdfRequestRead);
    Submit(WdfRequestDeviceIoControl);
    ASSERT_TRUE(WaitForResult(1));
    EXPECT_EQ(callbacks_->Calls(), std::vector<std::string>{"OnDeviceIoControl"});
    ComPtr<IWDFIoRequest> read;
    ASSERT_EQ(manual->RetrieveNextRequest(read.GetAddressOf()), S_OK);
    EXPECT_EQ(read->GetType(), WdfRequestRead);
    read->Complete(S_OK);
}

TEST_F(Dispatch, AFilesCleanupWaitsForTheCallbacksOfItsRequests) {
    Offers offers;
    offers.read = offers.cleanup = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel);
    callbacks_->CloseGate();
    Submit(WdfRequestRead);
    ASSERT_TRUE(callbacks_->WaitForWaiting(1));
    std::atomic<bool> done{false};
    device_->CleanupFile(file_, [&done] { done = true; });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(callbacks_->Calls(), std::vector<std::string>{"OnRead"})
        << "no cleanup while the read's callback runs";
    callbacks_->OpenGate();
    ASSERT_TRUE(callbacks_->WaitForCalls(2));
    EXPECT_EQ(callbacks_->Calls(), (std::vector<std::string>{"OnRead", "OnCleanupFile"}));
    device_->Workers().Drain();
    EXPECT_TRUE(done);
}

TEST_F(Dispatch, DeletingTheDeviceEndsWhatItsQueuesStillHold) {
    MakeDevice(Offers{});
    ASSERT_EQ(device_->CreateIoQueue(nullptr, TRUE, WdfIoQueueDispatchManual, FALSE, TRUE,
                                     queue_.GetAddressOf()),
              S_OK);
    Submit(WdfRequestRead);
    EXPECT_EQ(device_->OutstandingRequests(), 1u);
    EXPECT_EQ(device_->Delete(), 0u) << "the framework completed it: nothing left over";
    ASSERT_TRUE(Result(0));
    EXPECT_EQ(*Result(0), HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED));
    device_ = nullptr;
}

TEST_F(Dispatch, DeletingTheDeviceCountsRequestsTheDriverNeverCompleted) {
    Offers offers;
    offers.read = true;
    MakeDevice(offers);
    MakeQueue(WdfIoQueueDispatchParallel);
    callbacks_->onRequest = [](IWDFIoRequest*) {};  // dropped on the floor
    Submit(WdfRequestRead);
    ASSERT_TRUE(callbacks_->WaitForCalls(1));
    device_->Workers().Drain();
    EXPECT_EQ(device_->OutstandingRequests(), 1u);
    EXPECT_EQ(device_->Delete(), 1u);
    EXPECT_FALSE(Result(0)) << "never completed";
    device_ = nullptr;
}

}  // namespace
