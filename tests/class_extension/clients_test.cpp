// Each file's connections and subscriptions: kept in step with the driver's client callbacks,
// and undone at the file's cleanup and at Uninitialize, so that the driver's counts go back to
// zero whatever its clients did.
#include "class_extension_test_support.h"

namespace zntr::test {
namespace {

using ClientsTest = ClassExtensionTest;

struct Step {
    Command command;
    HRESULT expected;
};

// One file's requests, what each is answered, and the driver callbacks they make.
TEST_F(ClientsTest, KeepsOneConnectionAndSubscriptionPerFileAndSensor) {
    struct Case {
        const char* legend;
        std::vector<Step> steps;
        std::vector<std::string> driverCalls;
        int clients;
        int subscribers;
    };
    const HRESULT wrongState = message::kStatusWrongState;
    const Case cases[] = {
        {"a second connect is answered without the driver",
         {{Command::kConnect, S_OK}, {Command::kConnect, S_FALSE}},
         {"OnClientConnect"},
         1,
         0},
        {"only a connected file can subscribe", {{Command::kSubscribe, wrongState}}, {}, 0, 0},
        {"a second subscribe is answered without the driver",
         {{Command::kConnect, S_OK}, {Command::kSubscribe, S_OK}, {Command::kSubscribe, S_FALSE}},
         {"OnClientConnect", "OnClientSubscribeToEvents"},
         1,
         1},
        {"no disconnect without a connection", {{Command::kDisconnect, wrongState}}, {}, 0, 0},
        {"no unsubscribe without a subscription",
         {{Command::kConnect, S_OK}, {Command::kUnsubscribe, wrongState}},
         {"OnClientConnect"},
         1,
         0},
        {"disconnecting unsubscribes first",
         {{Command::kConnect, S_OK}, {Command::kSubscribe, S_OK}, {Command::kDisconnect, S_OK}},
         {"OnClientConnect", "OnClientSubscribeToEvents", "OnClientUnsubscribeFromEvents",
          "OnClientDisconnect"},
         0,
         0},
        {"unsubscribe, then subscribe again",
         {{Command::kConnect, S_OK},
          {Command::kSubscribe, S_OK},
          {Command::kUnsubscribe, S_OK},
          {Command::kSubscribe, S_OK}},
         {"OnClientConnect", "OnClientSubscribeToEvents", "OnClientUnsubscribeFromEvents",
          "OnClientSubscribeToEvents"},
         1,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ComPtr<FakeFile> file = FakeFile::Make();
        driver_->ForgetCalls();
        for (const Step& step : c.steps) {
            EXPECT_EQ(Exchange(file.Get(), step.command), step.expected);
        }
        EXPECT_EQ(driver_->CallNames(), c.driverCalls);
        EXPECT_EQ(driver_->Clients(), c.clients);
        EXPECT_EQ(driver_->Subscribers(), c.subscribers);
        // Whatever the case left, the file's cleanup takes back.
        EXPECT_EQ(extension_->CleanupFile(file.Get()), S_OK);
        EXPECT_EQ(driver_->Clients(), 0);
        EXPECT_EQ(driver_->Subscribers(), 0);
    }
}

TEST_F(ClientsTest, AConnectTheDriverRefusesLeavesTheFileUnconnected) {
    driver_->connectResult = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    ComPtr<FakeFile> file = FakeFile::Make();
    EXPECT_EQ(Exchange(file.Get(), Command::kConnect), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(Exchange(file.Get(), Command::kSubscribe), message::kStatusWrongState);
    driver_->connectResult = S_OK;
    EXPECT_EQ(Exchange(file.Get(), Command::kConnect), S_OK);
    EXPECT_EQ(driver_->Clients(), 1);
}

// The driver learns each client by its file: calls name the file the request came on.
TEST_F(ClientsTest, CleanupUndoesOnlyWhatThatFileLeft) {
    ComPtr<FakeFile> leaving = ConnectedFile(true);
    ComPtr<FakeFile> staying = ConnectedFile(true);
    ComPtr<FakeFile> silent = FakeFile::Make();
    ASSERT_EQ(driver_->Clients(), 2);
    driver_->ForgetCalls();

    EXPECT_EQ(extension_->CleanupFile(leaving.Get()), S_OK);
    const std::vector<FakeSensorDriver::Call> calls = driver_->Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "OnClientUnsubscribeFromEvents");
    EXPECT_EQ(calls[1].name, "OnClientDisconnect");
    for (const FakeSensorDriver::Call& call : calls) {
        EXPECT_EQ(call.file, leaving.Get());
        EXPECT_EQ(call.sensorId, L"FakeSensor");
    }
    EXPECT_EQ(driver_->Clients(), 1);
    EXPECT_EQ(driver_->Subscribers(), 1);

    // A file that never spoke, a file cleaned twice, and no file at all.
    driver_->ForgetCalls();
    EXPECT_EQ(extension_->CleanupFile(silent.Get()), S_OK);
    EXPECT_EQ(extension_->CleanupFile(leaving.Get()), S_OK);
    EXPECT_EQ(extension_->CleanupFile(nullptr), E_POINTER);
    EXPECT_TRUE(driver_->Calls().empty());

    // The one staying is untouched and can still leave on its own.
    EXPECT_EQ(Exchange(staying.Get(), Command::kDisconnect), S_OK);
    EXPECT_EQ(driver_->Clients(), 0);
    EXPECT_EQ(driver_->Subscribers(), 0);
}

TEST_F(ClientsTest, CleanupEndsTheFilesWaits) {
    ComPtr<FakeFile> file = ConnectedFile(true);
    ComPtr<FakeRequest> first = Wait(file.Get());
    ComPtr<FakeRequest> second = Wait(file.Get());
    ASSERT_FALSE(first->Completed());
    ASSERT_FALSE(second->Completed());
    EXPECT_EQ(extension_->CleanupFile(file.Get()), S_OK);
    for (FakeRequest* wait : {first.Get(), second.Get()}) {
        EXPECT_EQ(wait->Completions(), 1);
        EXPECT_EQ(wait->Status(), message::kStatusEnded);
    }
}

TEST_F(ClientsTest, UninitializeTakesEveryFileOffTheDriverAndEndsTheirWaits) {
    ComPtr<FakeFile> subscribed = ConnectedFile(true);
    ComPtr<FakeFile> connected = ConnectedFile(false);
    ComPtr<FakeRequest> wait = Wait(subscribed.Get());
    ASSERT_EQ(driver_->Clients(), 2);

    ASSERT_EQ(extension_->Uninitialize(), S_OK);
    EXPECT_EQ(driver_->Clients(), 0);
    EXPECT_EQ(driver_->Subscribers(), 0);
    EXPECT_EQ(wait->Completions(), 1);
    EXPECT_EQ(wait->Status(), message::kStatusEnded);

    // Nothing reaches the driver afterwards, not even the files' cleanups.
    driver_->ForgetCalls();
    EXPECT_EQ(extension_->CleanupFile(subscribed.Get()), S_OK);
    EXPECT_EQ(Exchange(connected.Get(), Command::kDisconnect), message::kStatusNotReady);
    EXPECT_EQ(extension_->Uninitialize(), S_OK);
    EXPECT_TRUE(driver_->Calls().empty());
}

}  // namespace
}  // namespace zntr::test
