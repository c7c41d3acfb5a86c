// The class extension under several threads at once, as the framework's parallel dispatch and the
// driver's event thread use it (run under the thread sanitizer too): whatever the interleaving,
// every request is completed exactly once, the driver's counts come back to zero, and a cleanup
// or an Uninitialize that comes while a driver call runs waits for it and undoes it.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "fake_sensor_driver.h"
#include "sensor_message.h"

namespace zntr::test {
namespace {

namespace message = zntr::sensor_message;
using message::Command;

std::vector<std::uint8_t> Request(Command command, std::wstring sensor = kFakeSensorId) {
    return message::EncodeRequest(message::Request{command, std::move(sensor), {}, {}});
}

TEST(ClassExtensionConcurrency, ClientsComingAndGoingWhileEventsArePostedLeaveNothingBehind) {
    ClassExtensionSession session;
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        for (int i = 0; !stop; ++i) {
            session.PostData(i);
            session.PostState(i % 2 == 0 ? SENSOR_STATE_READY : SENSOR_STATE_INITIALIZING);
        }
    });
    std::mutex sentMutex;
    std::vector<std::shared_ptr<SentRequest>> sent;
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            for (int round = 0; round < 40; ++round) {
                const auto file = session.NewFile("c" + std::to_string(c));
                std::vector<std::shared_ptr<SentRequest>> mine;
                for (const Command command :
                     {Command::kConnect, Command::kSubscribe, Command::kGetProperties,
                      Command::kWaitForEvent, Command::kWaitForEvent}) {
                    mine.push_back(session.Send(file.Get(), Request(command)));
                }
                // A third of the clients just go away; the rest leave properly first.
                if ((round + c) % 3 != 0) {
                    mine.push_back(session.Send(file.Get(), Request(Command::kUnsubscribe)));
                    mine.push_back(session.Send(file.Get(), Request(Command::kDisconnect)));
                }
                session.Extension().CleanupFile(file.Get());
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
    EXPECT_EQ(session.Driver().Clients(), 0);
    EXPECT_EQ(session.Driver().Subscribers(), 0);
    for (const auto& request : sent) {
        EXPECT_TRUE(request->Completed());
    }
    EXPECT_EQ(session.Driver().calls.Count("HostError"), 0u) << "a request completed twice";
}

// A cleanup, and then an Uninitialize, each arriving while a connect is inside the driver: each
// waits for the connect and takes the connection back, so the driver is left with no client.
TEST(ClassExtensionConcurrency, ACleanupOrUninitializeDuringAConnectUndoesIt) {
    ClassExtensionSession session;
    CallRecorder& calls = session.Driver().calls;
    for (const bool uninitialize : {false, true}) {
        const auto file = session.NewFile("a");
        calls.CloseGate("OnClientConnect");
        auto connect = std::async(std::launch::async, [&] {
            return session.Send(file.Get(), Request(Command::kConnect));
        });
        EXPECT_TRUE(calls.WaitForCalls("OnClientConnect", uninitialize ? 2 : 1));
        auto undo = std::async(std::launch::async, [&] {
            return uninitialize ? session.Extension().Uninitialize()
                                : session.Extension().CleanupFile(file.Get());
        });
        calls.OpenGate("OnClientConnect");
        message::Answer answer;
        EXPECT_EQ(message::DecodeAnswer(connect.get()->Result().value().data, &answer), S_OK);
        EXPECT_EQ(answer.status, S_OK) << "connected, then taken back";
        EXPECT_EQ(undo.get(), S_OK);
        EXPECT_EQ(session.Driver().Clients(), 0) << (uninitialize ? "Uninitialize" : "cleanup");
    }
}

}  // namespace
}  // namespace zntr::test
