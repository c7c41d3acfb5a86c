// The raw read queue's stream against loopback: the simulator answers the discovery, and the
// network map sends the stream endpoint it names to a stream peer whose every write the test
// decides. The guard stays closed, so nothing the map misses leaves the machine.
//
// The receive thread polls: each pass waits 100 ms on the stop event, then receives; an empty
// receive completes every waiting read with no data. Where a test needs a read to wait for data,
// it queues the read and sends the data while it holds mQueueLock, and tries again in the rare
// case that the thread's receive came just before the data did.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver_test_support.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"
#include "standin/resource_control.h"
#include "stream_peer.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zntr::hotspot::HotspotSimulator;
using zntr::hotspot::SimulatorOptions;
using zntr::test::Completion;
using zntr::test::ComPtr;
using zntr::test::DriverTest;
using zntr::test::FakeFile;
using zntr::test::FakeRequest;
using zntr::test::MakeFake;
using zntr::test::StreamPeer;

// The usual stream endpoint of the discovery answer, which the map sends to the peer.
constexpr int kHotspotStreamPort = 10110;

class QueueStreamTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        StartDevice();
    }
    void TearDown() override {
        // The queue goes with the device (DriverTest::TearDown) while the peer still listens;
        // the network settings go last.
        DriverTest::TearDown();
        network_.reset();
        hotspot_.reset();
    }

    void Serve(const std::string& gpsEnable = "1") {
        SimulatorOptions options;
        options.answer.gps_enable = gpsEnable;
        options.answer.address = "192.168.1.1";
        options.answer.port = kHotspotStreamPort;
        hotspot_ = std::make_unique<HotspotSimulator>(std::move(options));
        network_ =
            std::make_unique<zntr::platform::ScopedNetworkSettings>(zntr::platform::NetworkSettings{
                "gps-hotspot.internal=192.168.1.1;192.168.1.1:80=127.0.0.1:" +
                    std::to_string(hotspot_->http_port()) +
                    ";192.168.1.1:" + std::to_string(kHotspotStreamPort) +
                    "=127.0.0.1:" + std::to_string(peer_.port()),
                false});
    }

    cQueue& TheQueue() { return *Queue(); }

    // The first read after an open: it starts the stream and is completed with no data after
    // about a second; the peer then accepts the queue's connection.
    void StartStream() {
        Serve();
        const ComPtr<FakeRequest> first = FakeRequest::Read(4096);
        const auto start = Clock::now();
        TheQueue().OnRead(nullptr, first.Get(), 4096);
        const auto elapsed = Clock::now() - start;
        ASSERT_EQ(first->CompletionCount(), 1u);
        EXPECT_EQ(first->Completions()[0].status, S_OK);
        EXPECT_EQ(first->Completions()[0].information, 0u);
        EXPECT_GE(elapsed, 1000ms);
        ASSERT_NE(TheQueue().mhRecvThread.load(), nullptr);
        ASSERT_TRUE(peer_.Accept(10s)) << "the queue never connected";
    }

    DWORD Unread() {
        cCriticalSectionLock lock(TheQueue().mQueueLock);
        return GetCircularBufferUnreadCount(TheQueue().mRecvBuffer);
    }
    bool WaitForUnread(DWORD count) {
        const auto deadline = Clock::now() + 5s;
        while (Unread() < count) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    // Reads queued while the buffer is empty and the thread cannot take the lock, then the text
    // sent; true when the oldest read was served with it, false when an empty receive completed
    // the reads first (each then with no data).
    bool QueueReadsThenSend(const std::vector<ComPtr<FakeRequest>>& reads,
                            const std::string& text) {
        {
            cCriticalSectionLock lock(TheQueue().mQueueLock);
            EXPECT_EQ(GetCircularBufferUnreadCount(TheQueue().mRecvBuffer), 0u);
            for (const ComPtr<FakeRequest>& read : reads) {
                TheQueue().OnRead(nullptr, read.Get(), 100);
                EXPECT_EQ(read->CompletionCount(), 0u) << "the read waits";
            }
            EXPECT_TRUE(peer_.Send(text));
            std::this_thread::sleep_for(20ms);
        }
        const std::optional<Completion> oldest = reads.front()->WaitForCompletion(5s);
        EXPECT_TRUE(oldest.has_value());
        if (oldest && oldest->information == 0) {
            for (const ComPtr<FakeRequest>& read : reads) {
                EXPECT_TRUE(read->WaitForCompletion(5s).has_value());
                EXPECT_EQ(read->Completions()[0].information, 0u);
            }
            // The text reached the buffer after all: take it out before the next try.
            EXPECT_TRUE(WaitForUnread(static_cast<DWORD>(text.size())));
            DrainBuffer();
            return false;
        }
        return oldest.has_value();
    }
    void DrainBuffer() {
        cCriticalSectionLock lock(TheQueue().mQueueLock);
        BYTE sink[CIRCULAR_BUFFER_SIZE];
        ReadFromCircularBuffer(TheQueue().mRecvBuffer, sink, sizeof(sink));
    }

    StreamPeer peer_;
    std::unique_ptr<HotspotSimulator> hotspot_;
    std::unique_ptr<zntr::platform::ScopedNetworkSettings> network_;
};

TEST_F(QueueStreamTest, TheFirstReadStartsTheStreamAndLaterReadsAreServedFromTheBuffer) {
    StartStream();
    std::string sent;
    for (size_t i = 0; i < 2000; ++i) {
        sent.push_back(static_cast<char>('A' + i % 26));
    }
    ASSERT_TRUE(peer_.Send(sent));
    ASSERT_TRUE(WaitForUnread(2000));

    // A read of 4096 bytes delivers at most 1024, and more than 10 bytes cost a 100 ms pause.
    const ComPtr<FakeRequest> large = FakeRequest::Read(4096);
    const auto start = Clock::now();
    TheQueue().OnRead(nullptr, large.Get(), 4096);
    EXPECT_GE(Clock::now() - start, 100ms);
    ASSERT_EQ(large->CompletionCount(), 1u);
    EXPECT_EQ(large->Completions()[0].information, 1024u);
    EXPECT_EQ(large->Output(1024), sent.substr(0, 1024));

    // The rest, in the order sent, to a read that asks for exactly that much.
    const ComPtr<FakeRequest> rest = FakeRequest::Read(976);
    TheQueue().OnRead(nullptr, rest.Get(), 976);
    ASSERT_EQ(rest->CompletionCount(), 1u);
    EXPECT_EQ(rest->Completions()[0].information, 976u);
    EXPECT_EQ(rest->Output(976), sent.substr(1024));
    EXPECT_EQ(Unread(), 0u);
}

TEST_F(QueueStreamTest, AWaitingReadIsCompletedByTheNextReceiveWithData) {
    StartStream();
    bool served = false;
    for (int attempt = 0; attempt < 5 && !served; ++attempt) {
        const std::vector<ComPtr<FakeRequest>> reads = {FakeRequest::Read(100)};
        const std::string text = "$GPGGA,attempt " + std::to_string(attempt) + "\r\n";
        Log();
        served = QueueReadsThenSend(reads, text);
        if (served) {
            EXPECT_EQ(reads[0]->Completions()[0].information, text.size());
            EXPECT_EQ(reads[0]->Output(text.size()), text);
            // The thread logs the completion just after it completes the request.
            EXPECT_TRUE(WaitForLog("Completed RR\n"));
            EXPECT_TRUE(Contains(Log(), "OnRead:: Queued\n"));
        }
    }
    EXPECT_TRUE(served) << "five receives in a row came just before the data";
}

TEST_F(QueueStreamTest, TwoWaitingReadsAreServedOldestFirstOnePerReceive) {
    StartStream();
    bool served = false;
    for (int attempt = 0; attempt < 5 && !served; ++attempt) {
        const std::vector<ComPtr<FakeRequest>> reads = {FakeRequest::Read(100),
                                                        FakeRequest::Read(100)};
        served = QueueReadsThenSend(reads, "first");
        if (served) {
            EXPECT_EQ(reads[0]->Output(5), "first");
            // The newer read got none of it: it is completed by the next receive, with the
            // next text or with nothing.
            ASSERT_TRUE(peer_.Send("second"));
            const std::optional<Completion> newer = reads[1]->WaitForCompletion(5s);
            ASSERT_TRUE(newer.has_value());
            if (newer->information != 0) {
                EXPECT_EQ(reads[1]->Output(newer->information), "second");
            }
        }
    }
    EXPECT_TRUE(served);
}

// An empty receive completes all waiting reads with no data; the sixth in a row, and every one
// after it, clears the buffer.
TEST_F(QueueStreamTest, EmptyReceivesCompleteWaitingReadsAndTheSixthClearsTheBuffer) {
    StartStream();
    ASSERT_TRUE(peer_.Send("$GPRMC,unread"));
    ASSERT_TRUE(WaitForUnread(13));
    const auto dataArrived = Clock::now();
    Log();
    ASSERT_TRUE(WaitForLog("Clr buff\n", 10s));
    // Six passes of at least 100 ms wait and 200 ms pause each.
    EXPECT_GE(Clock::now() - dataArrived, 1500ms);
    EXPECT_EQ(Unread(), 0u);
    {
        cCriticalSectionLock lock(TheQueue().mQueueLock);
        EXPECT_EQ(TheQueue().mRecvBuffer.mReadIndex, 0u);
        EXPECT_EQ(TheQueue().mRecvBuffer.mWriteIndex, 0u);
        EXPECT_NE(TheQueue().mRecvBuffer.mpData, nullptr) << "cleared, not released";
        EXPECT_GE(TheQueue().mEmptyRecvCount, 6u);
    }
}

TEST_F(QueueStreamTest, WhileTheStreamRunsAReadRefusedByTheFullListIsCompletedAtOnce) {
    StartStream();
    std::vector<ComPtr<FakeRequest>> reads;
    {
        // The thread cannot complete anything while this thread holds the lock; the lock is
        // recursive, so the reads take it too.
        cCriticalSectionLock lock(TheQueue().mQueueLock);
        ASSERT_EQ(GetCircularBufferUnreadCount(TheQueue().mRecvBuffer), 0u);
        for (int i = 0; i < 33; ++i) {
            reads.push_back(FakeRequest::Read(100));
            TheQueue().OnRead(nullptr, reads.back().Get(), 100);
        }
        for (int i = 0; i < 32; ++i) {
            EXPECT_EQ(reads[i]->CompletionCount(), 0u) << "read " << i << " waits";
        }
        ASSERT_EQ(reads[32]->CompletionCount(), 1u) << "the 33rd is completed at once";
        EXPECT_EQ(reads[32]->Completions()[0].information, 0u);
        EXPECT_TRUE(Contains(Log(), "PushToQueue Queues size exceeded"));
    }
    for (int i = 0; i < 32; ++i) {
        EXPECT_TRUE(reads[i]->WaitForCompletion(5s).has_value());
    }
}

TEST_F(QueueStreamTest, OpensAreRefusedWhileStreamingAndAllowedAgainAfterCleanup) {
    StartStream();
    const ComPtr<FakeRequest> refused = FakeRequest::Create();
    TheQueue().OnCreateFile(nullptr, refused.Get(), nullptr);
    ASSERT_EQ(refused->CompletionCount(), 1u);
    EXPECT_EQ(refused->Completions()[0].status, STG_E_ACCESSDENIED);
    EXPECT_TRUE(Contains(Log(), "cQueue::OnCreateFile returning S_FALSE\n"));

    // A read waits while the reader's file is cleaned up: the stop ends the stream within a
    // polling period, completes the read, releases the storage and closes the connection.
    const ComPtr<FakeRequest> waiting = FakeRequest::Read(100);
    {
        cCriticalSectionLock lock(TheQueue().mQueueLock);
        TheQueue().OnRead(nullptr, waiting.Get(), 100);
    }
    const ComPtr<FakeFile> file = MakeFake<FakeFile>();
    Device().OnCleanupFile(file.Get());
    EXPECT_TRUE(peer_.WaitForClose(5s)) << "the stream connection stays open";
    EXPECT_TRUE(WaitForLog("Before returning from thread funtion\n"));
    EXPECT_TRUE(waiting->WaitForCompletion(5s).has_value());
    EXPECT_EQ(waiting->Completions()[0].information, 0u);
    EXPECT_EQ(TheQueue().mhRecvThread.load(), nullptr);
    EXPECT_EQ(TheQueue().mSocket.load(), 0u);
    {
        cCriticalSectionLock lock(TheQueue().mQueueLock);
        EXPECT_EQ(TheQueue().mRecvBuffer.mpData, nullptr);
    }
    const std::vector<std::string> log = Log();
    EXPECT_LT(IndexOf(log, "Inside Terminating the thread\n"),
              IndexOf(log, "Before returning from thread funtion\n"));

    const ComPtr<FakeRequest> allowed = FakeRequest::Create();
    TheQueue().OnCreateFile(nullptr, allowed.Get(), nullptr);
    ASSERT_EQ(allowed->CompletionCount(), 1u);
    EXPECT_EQ(allowed->Completions()[0].status, S_OK);

    // The next first read starts a new stream on a new connection.
    const ComPtr<FakeRequest> restart = FakeRequest::Read(100);
    TheQueue().OnRead(nullptr, restart.Get(), 100);
    EXPECT_EQ(restart->CompletionCount(), 1u);
    EXPECT_TRUE(peer_.Accept(10s));
}

TEST_F(QueueStreamTest, AHotspotWithoutAStreamEndsTheThreadAndCompletesTheReads) {
    Serve("0");
    const ComPtr<FakeRequest> first = FakeRequest::Read(100);
    TheQueue().OnRead(nullptr, first.Get(), 100);
    EXPECT_EQ(first->CompletionCount(), 1u);
    EXPECT_TRUE(WaitForLog("GpsRecvThreadProc: Failed to create and connect to the socket"));
    const auto deadline = Clock::now() + 5s;
    while (TheQueue().mhRecvThread.load() != nullptr && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(TheQueue().mhRecvThread.load(), nullptr);
    EXPECT_EQ(TheQueue().mSocket.load(), 0u);
    {
        cCriticalSectionLock lock(TheQueue().mQueueLock);
        EXPECT_EQ(TheQueue().mRecvBuffer.mpData, nullptr);
    }
}

// With no hotspot reachable the discovery retries; the stop event set by a cleanup ends it.
TEST_F(QueueStreamTest, TheDiscoveryStopsWhenTheReadersFileIsCleanedUp) {
    network_ = std::make_unique<zntr::platform::ScopedNetworkSettings>(
        zntr::platform::NetworkSettings{"", false});
    const ComPtr<FakeRequest> first = FakeRequest::Read(100);
    TheQueue().OnRead(nullptr, first.Get(), 100);
    ASSERT_NE(TheQueue().mhRecvThread.load(), nullptr);
    EXPECT_FALSE(WaitForLog("GpsRecvThreadProc: Failed to create and connect to the socket", 300ms))
        << "the discovery gave up by itself";

    const ComPtr<FakeFile> file = MakeFake<FakeFile>();
    Device().OnCleanupFile(file.Get());
    EXPECT_TRUE(WaitForLog("GpsRecvThreadProc: Failed to create and connect to the socket"));
    const auto deadline = Clock::now() + 5s;
    while (TheQueue().mhRecvThread.load() != nullptr && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(TheQueue().mhRecvThread.load(), nullptr);
}

TEST_F(QueueStreamTest, WithoutStorageTheStreamRunsAndReadsAreCompletedEmpty) {
    Serve();
    const ComPtr<FakeRequest> first = FakeRequest::Read(100);
    zntr::platform::FailNextHeapAllocations(1);
    TheQueue().OnRead(nullptr, first.Get(), 100);
    zntr::platform::FailNextHeapAllocations(0);
    EXPECT_TRUE(Contains(Log(), "OnRead:: Failed in initialize the buffer\n"));
    ASSERT_TRUE(peer_.Accept(10s)) << "the thread runs without storage";
    ASSERT_TRUE(peer_.Send("$GPGGA,lost"));

    const ComPtr<FakeRequest> read = FakeRequest::Read(100);
    TheQueue().OnRead(nullptr, read.Get(), 100);
    const std::optional<Completion> completion = read->WaitForCompletion(5s);
    ASSERT_TRUE(completion.has_value());
    EXPECT_EQ(completion->information, 0u);
}

// The queue destroyed with its device while it streams: the receive thread is ended and the
// connection closed.
TEST_F(QueueStreamTest, DestroyingTheQueueEndsTheStream) {
    StartStream();
    ASSERT_EQ(Release(), S_OK);
    device_ = nullptr;
    WdfDevice().DeleteQueue();
    EXPECT_TRUE(Contains(Log(), "Queue Destructor\n"));
    EXPECT_TRUE(peer_.WaitForClose(5s));
}

}  // namespace
