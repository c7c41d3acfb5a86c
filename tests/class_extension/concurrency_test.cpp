// The class extension under several threads at once, as the framework's parallel dispatch and
// the driver's event thread use it: whatever the interleaving, every request is completed
// exactly once and the driver's counts go back to zero.
#include <future>
#include <thread>

#include "class_extension_test_support.h"

namespace zntr::test {
namespace {

using ConcurrencyTest = ClassExtensionTest;

TEST_F(ConcurrencyTest, ClientsComingAndGoingWhileEventsArePostedLeaveNothingBehind) {
    constexpr int kClients = 4;
    constexpr int kRounds = 40;
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        for (int i = 0; !stop; ++i) {
            PostData(i);
            PostState(i % 2 == 0 ? SENSOR_STATE_READY : SENSOR_STATE_INITIALIZING);
        }
    });

    std::mutex sentMutex;
    std::vector<ComPtr<FakeRequest>> sent;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int round = 0; round < kRounds; ++round) {
                ComPtr<FakeFile> file = FakeFile::Make();
                std::vector<ComPtr<FakeRequest>> mine;
                mine.push_back(Send(file.Get(), Named(Command::kConnect)));
                mine.push_back(Send(file.Get(), Named(Command::kSubscribe)));
                mine.push_back(Wait(file.Get()));
                mine.push_back(Wait(file.Get()));
                mine.back()->WaitCompleted(std::chrono::milliseconds(2));
                // A third of the clients just go away; the rest leave properly first.
                if ((round + c) % 3 != 0) {
                    mine.push_back(Send(file.Get(), Named(Command::kUnsubscribe)));
                    mine.push_back(Send(file.Get(), Named(Command::kDisconnect)));
                }
                extension_->CleanupFile(file.Get());
                std::lock_guard<std::mutex> lock(sentMutex);
                sent.insert(sent.end(), mine.begin(), mine.end());
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    stop = true;
    poster.join();

    EXPECT_EQ(driver_->Clients(), 0);
    EXPECT_EQ(driver_->Subscribers(), 0);
    for (const ComPtr<FakeRequest>& request : sent) {
        EXPECT_EQ(request->Completions(), 1);
    }
}

// A cleanup that comes while the file's connect is still inside the driver waits for it and
// then undoes it.
TEST_F(ConcurrencyTest, ACleanupDuringAConnectUndoesTheConnection) {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    driver_->duringConnect = [&] {
        entered.set_value();
        released.wait();
    };
    ComPtr<FakeFile> file = FakeFile::Make();
    std::future<ComPtr<FakeRequest>> connect =
        std::async(std::launch::async, [&] { return Send(file.Get(), Named(Command::kConnect)); });
    entered.get_future().wait();
    std::future<HRESULT> cleanup =
        std::async(std::launch::async, [&] { return extension_->CleanupFile(file.Get()); });
    // The cleanup is now waiting for the connect (or about to); either way it must undo it.
    EXPECT_EQ(cleanup.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    release.set_value();
    EXPECT_EQ(AnswerOf(connect.get()).status, S_OK);
    EXPECT_EQ(cleanup.get(), S_OK);
    driver_->duringConnect = nullptr;
    EXPECT_EQ(driver_->Clients(), 0);
}

// Uninitialize waits for the driver calls under way and lets none start after it returns.
TEST_F(ConcurrencyTest, UninitializeWaitsForCallsUnderWay) {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    driver_->duringConnect = [&] {
        entered.set_value();
        released.wait();
    };
    ComPtr<FakeFile> file = FakeFile::Make();
    std::future<ComPtr<FakeRequest>> connect =
        std::async(std::launch::async, [&] { return Send(file.Get(), Named(Command::kConnect)); });
    entered.get_future().wait();
    std::future<HRESULT> uninitialize =
        std::async(std::launch::async, [&] { return extension_->Uninitialize(); });
    EXPECT_EQ(uninitialize.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    release.set_value();
    EXPECT_EQ(uninitialize.get(), S_OK);
    connect.get();
    driver_->duringConnect = nullptr;
    // The connection that was under way was undone before the driver was let go.
    EXPECT_EQ(driver_->Clients(), 0);
    driver_->ForgetCalls();
    EXPECT_EQ(Exchange(file.Get(), Command::kConnect), message::kStatusNotReady);
    EXPECT_TRUE(driver_->Calls().empty());
}

}  // namespace
}  // namespace zntr::test
