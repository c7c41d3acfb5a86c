// The raw read queue of a prepared device against a status page and a stream on loopback: reads
// served from the buffer, reads that wait for the next receive, the limit of waiting reads, the
// clearing of the buffer after empty receives, and the first read's decision. Where a read must
// wait for data, the test holds the queue's lock until the data waits in the socket, so that no
// receive can come between (its receive thread takes the lock before each receive).
#include <thread>

#include "prepared_device.h"
#include "scripted_peer.h"
#include "standin/resource_control.h"
#include "status_page.h"
#include "wait_until.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"

namespace {

using namespace zntr::test;
using namespace std::chrono_literals;

class QueueStream : public ::testing::Test {
  protected:
    explicit QueueStream(bool hold = false)
        : status_({{"GPSEnable=1\x1bWwIpaddr=127.0.0.1\x1bWwPort=" +
                    std::to_string(stream_.Port()) + "\x1b"},
                   true,
                   hold}),
          network_({StatusPageMap(true, status_.Port()), false}) {}

    cQueue& Queue() { return d_.Queue(); }
    // A read of the given size handed to the queue, as the framework dispatches it.
    void Read(std::size_t bytes, std::function<void()> atCompletion = {}) {
        Queue().OnRead(nullptr, requests_.Read(bytes, std::move(atCompletion)).Get(), bytes);
    }
    // The first read starts the stream and is completed empty; the stream then connects.
    void Start() {
        Read(100);
        ASSERT_TRUE(WaitUntil([&] { return stream_.OpenConnections() == 1; }, 30s, 2ms));
    }
    DWORD Unread() {
        cCriticalSectionLock lock(Queue().mQueueLock);
        return GetCircularBufferUnreadCount(Queue().mRecvBuffer);
    }
    Requests::Completion Done(int request) {
        Requests::Completion completion{};
        EXPECT_TRUE(requests_.WaitFor(request, &completion)) << "read " << request;
        return completion;
    }

    PreparedDevice d_;
    ScriptedPeer stream_{{{}, false, false, false}};
    ScriptedPeer status_;
    zntr::platform::ScopedNetworkSettings network_;
    Requests requests_{d_.Framework().device.Get()};
};

TEST_F(QueueStream, ReadsAreServedFromTheBufferAtMost1024BytesEach) {
    Start();
    std::string sent;
    for (int i = 0; i < 2000; ++i) {
        sent += static_cast<char>('A' + i % 26);
    }
    ASSERT_TRUE(stream_.Send(sent));
    ASSERT_TRUE(WaitUntil([&] { return Unread() == 2000; }, 30s));
    Read(4096);
    Read(976);
    EXPECT_EQ(Done(2).data, sent.substr(0, 1024));
    EXPECT_EQ(Done(3).data, sent.substr(1024));
    EXPECT_EQ(Unread(), 0u);
}

class WaitingReads : public QueueStream {
  protected:
    WaitingReads() : QueueStream(true) {}
};

// Two reads wait while the stream's thread waits for the status page. The first receive with
// data serves the older; as it is completed, the next data is put in the socket, so the next
// receive serves the newer.
TEST_F(WaitingReads, AreServedOldestFirstOnePerReceiveWithData) {
    Read(100);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::vector<std::string> received = status_.Received();
            return !received.empty() && received[0].find("\r\n\r\n") != std::string::npos;
        },
        30s, 2ms));
    Read(100, [&] { stream_.Deliver("second"); });
    Read(100);
    EXPECT_EQ(d_.log.Count("OnRead:: Queued\n"), 2u);
    {
        cCriticalSectionLock lock(Queue().mQueueLock);
        status_.Release();
        ASSERT_TRUE(WaitUntil([&] { return stream_.OpenConnections() == 1; }, 30s, 2ms));
        ASSERT_TRUE(stream_.Deliver("first"));
    }
    EXPECT_EQ(Done(2).data, "first");
    EXPECT_EQ(Done(3).data, "second");
    EXPECT_TRUE(d_.log.WaitFor("Completed RR\n", 2));
}

// While the thread cannot take the lock, 32 reads wait and the 33rd is completed at once, empty;
// the next receive, which brings nothing, completes the 32.
TEST_F(QueueStream, AtMost32ReadsWait) {
    Start();
    {
        cCriticalSectionLock lock(Queue().mQueueLock);
        for (int i = 0; i < 33; ++i) {
            Read(100);
        }
        const std::vector<Requests::Completion> done = requests_.Completions();
        ASSERT_EQ(done.size(), 2u);
        EXPECT_EQ(done[1].request, 34);
        EXPECT_EQ(done[1].information, 0u);
    }
    EXPECT_EQ(d_.log.Count("PushToQueue Queues size exceeded"), 1u);
    for (int read = 2; read <= 33; ++read) {
        EXPECT_EQ(Done(read).information, 0u);
    }
}

// After data, the sixth empty receive in a row clears the whole buffer.
TEST_F(QueueStream, TheSixthEmptyReceiveInARowClearsTheBuffer) {
    Start();
    ASSERT_TRUE(stream_.Send("$GPRMC,unread"));
    ULONG emptyReceives = 0;
    d_.log.OnMessage("Clr buff\n", [&] { emptyReceives = Queue().mEmptyRecvCount; });
    d_.log.Take();
    ASSERT_TRUE(d_.log.WaitFor("Clr buff\n"));
    cCriticalSectionLock lock(Queue().mQueueLock);
    EXPECT_EQ(emptyReceives, 6u);
    EXPECT_EQ(GetCircularBufferUnreadCount(Queue().mRecvBuffer), 0u);
    EXPECT_NE(Queue().mRecvBuffer.mpData, nullptr) << "cleared, not released";
}

// The first read decides to start the stream under the queue's lock. Its allocation fails, and
// at that line a second read comes: it must wait for the first's decision (in vain for two
// seconds) and find the stream started, so there is one stream thread, not two.
TEST_F(QueueStream, AFirstReadDecidesUnderTheLock) {
    std::thread second;
    d_.log.OnMessage("OnRead:: Failed in initialize the buffer\n", [&] {
        second = std::thread([&] { Read(100); });
        WaitUntil([&] { return !requests_.Completions().empty(); }, 2s);
    });
    zntr::platform::FailNextHeapAllocations(1);
    Read(100);
    zntr::platform::FailNextHeapAllocations(0);
    second.join();
    Done(1);
    Done(2);
    EXPECT_EQ(d_.log.Count("cQueue::SocketCreateAndConnect\n"), 1u) << "one stream thread";
}

// The queue's stream set-up (a thread given no queue ends at once): a socket already held is kept;
// a socket that cannot be made, or a stream port that refuses, gives 0 with no socket left behind.
TEST_F(QueueStream, TheStreamSetUpHoldsASocketOnlyOnceConnected) {
    EXPECT_EQ(cQueue::GpsRecvThreadProc(nullptr), 0u);
    Queue().mSocket = 0x40;
    EXPECT_EQ(Queue().SocketCreateAndConnect(), 1);
    Queue().mSocket = 0;
    zntr::platform::FailNextSocketCreations(1);
    EXPECT_EQ(Queue().SocketCreateAndConnect(), 0);
    const zntr::platform::ScopedNetworkSettings refusing(
        {StatusPageMap(true, status_.Port()) + ";127.0.0.1:" + std::to_string(stream_.Port()) +
             "=127.0.0.1:1",
         false});
    EXPECT_EQ(Queue().SocketCreateAndConnect(), 0);
    EXPECT_EQ(Queue().mSocket.load(), 0u);
    EXPECT_EQ(stream_.Connections(), 0);
}

}  // namespace
