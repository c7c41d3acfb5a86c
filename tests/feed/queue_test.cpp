// The raw read queue without a stream: its creation, the list of waiting reads (order, the limit
// of 32, FreeList), file creation, and reads that need no stream.
#include <chrono>
#include <string>
#include <vector>

#include "driver_test_support.h"
#include "standin/resource_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::Completion;
using zntr::test::ComPtr;
using zntr::test::DriverTest;
using zntr::test::FakeRequest;

class QueueTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(AddDevice(), S_OK);
        Log();
    }
    // The queue made as the device's preparation makes it.
    cQueue& CreateQueue() {
        EXPECT_EQ(cQueue::CreateInstance(&WdfDevice(), &Device(), Device().mhQueueStopEvent), S_OK);
        Log();
        return *Queue();
    }
    // `count` read requests of the given sizes.
    static std::vector<ComPtr<FakeRequest>> Reads(size_t count) {
        std::vector<ComPtr<FakeRequest>> reads;
        for (size_t i = 0; i < count; ++i) {
            reads.push_back(FakeRequest::Read(100 + i));
        }
        return reads;
    }
};

TEST_F(QueueTest, CreationMakesTheDevicesDefaultQueueWithParallelDispatch) {
    ASSERT_EQ(cQueue::CreateInstance(&WdfDevice(), &Device(), Device().mhQueueStopEvent), S_OK);
    EXPECT_EQ(Log(), std::vector<std::string>{"cQueue: created IO Queue, 0x00000000"});
    cQueue& queue = *Queue();
    ASSERT_EQ(WdfDevice().queueCreations.size(), 1u);
    EXPECT_TRUE(WdfDevice().queueCreations[0].defaultQueue);
    EXPECT_EQ(WdfDevice().queueCreations[0].dispatch, WdfIoQueueDispatchParallel);
    EXPECT_FALSE(WdfDevice().queueCreations[0].powerManaged);
    EXPECT_TRUE(WdfDevice().queueCreations[0].zeroLengthAllowed);
    // All fields start empty; the queue holds its device.
    EXPECT_EQ(queue.mSocket.load(), 0u);
    EXPECT_EQ(queue.mhRecvThread.load(), nullptr);
    EXPECT_EQ(queue.mhStopEvent, Device().mhQueueStopEvent);
    EXPECT_EQ(queue.mEmptyRecvCount, 0u);
    EXPECT_EQ(queue.mRecvBuffer.mpData, nullptr);
    EXPECT_EQ(queue.mpPendingReads, nullptr);
    EXPECT_EQ(queue.mpDevice.Get(), &Device());
    // The queue counts in the module lock count.
    EXPECT_EQ(GetModuleLockCount(), lockBaseline_ + 2);
}

TEST_F(QueueTest, CreationFailuresReturnTheStatusAndLeaveNoQueue) {
    struct Row {
        const char* legend;
        bool nullDevice;
        bool nullOwner;
        int heapFailures;
        HRESULT queueFailure;
        HRESULT expected;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"no framework device",
         true,
         false,
         0,
         S_OK,
         E_INVALIDARG,
         {"cQueue: CreateInstance invalid parameters"}},
        {"no owning device",
         false,
         true,
         0,
         S_OK,
         E_INVALIDARG,
         {"cQueue: CreateInstance invalid parameters"}},
        {"no memory for the object",
         false,
         false,
         1,
         S_OK,
         E_OUTOFMEMORY,
         {"cQueue: failed to create cQueue, 0x8007000E"}},
        {"the framework refuses the queue: the object made goes",
         false,
         false,
         0,
         E_ACCESSDENIED,
         E_ACCESSDENIED,
         {"cQueue: created IO Queue, 0x80070005", "Queue Destructor\n"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        WdfDevice().createQueueFailure = row.queueFailure;
        zntr::platform::FailNextHeapAllocations(row.heapFailures);
        const HRESULT hr =
            cQueue::CreateInstance(row.nullDevice ? nullptr : &WdfDevice(),
                                   row.nullOwner ? nullptr : &Device(), Device().mhQueueStopEvent);
        zntr::platform::FailNextHeapAllocations(0);
        EXPECT_EQ(hr, row.expected);
        EXPECT_EQ(Log(), row.log);
        EXPECT_EQ(Queue(), nullptr);
        EXPECT_EQ(GetModuleLockCount(), lockBaseline_ + 1) << "only the device is left";
    }
}

// Reads wait newest-first in the list and are served oldest first; each entry's position counts
// from the oldest.
TEST_F(QueueTest, WaitingReadsAreServedOldestFirst) {
    cQueue& queue = CreateQueue();
    const std::vector<ComPtr<FakeRequest>> reads = Reads(3);
    cCriticalSectionLock lock(queue.mQueueLock);
    for (size_t i = 0; i < reads.size(); ++i) {
        ASSERT_EQ(queue.PushToQueue(reads[i].Get(), static_cast<ULONG>(10 + i)), 1);
    }
    // Newest (position 3) at the head, linked toward the oldest (position 1).
    ASSERT_NE(queue.mpPendingReads, nullptr);
    EXPECT_EQ(queue.mpPendingReads->mpRequest, reads[2].Get());
    EXPECT_EQ(queue.mpPendingReads->mPosition, 3u);
    EXPECT_EQ(queue.mpPendingReads->mpNewer, nullptr);
    EXPECT_EQ(queue.mpPendingReads->mpOlder->mPosition, 2u);
    EXPECT_EQ(queue.mpPendingReads->mpOlder->mpOlder->mPosition, 1u);
    EXPECT_EQ(queue.mpPendingReads->mpOlder->mpOlder->mpOlder, nullptr);

    for (size_t i = 0; i < reads.size(); ++i) {
        IWDFIoRequest* request = nullptr;
        ULONG bytes = 0;
        queue.PopFromQueue(&request, &bytes);
        EXPECT_EQ(request, reads[i].Get()) << "pop " << i;
        EXPECT_EQ(bytes, 10 + i);
        if (queue.mpPendingReads != nullptr) {
            // The entries left moved one place toward the front.
            EXPECT_EQ(queue.mpPendingReads->mPosition, reads.size() - 1 - i);
        }
    }
    EXPECT_EQ(queue.mpPendingReads, nullptr);
    EXPECT_TRUE(Log().empty()) << "popping what is there logs nothing";

    IWDFIoRequest* request = reinterpret_cast<IWDFIoRequest*>(&queue);
    ULONG bytes = 7;
    queue.PopFromQueue(&request, &bytes);
    EXPECT_EQ(request, nullptr);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(Log(), std::vector<std::string>{"PopFromQueue returns No Memory"});
    for (const ComPtr<FakeRequest>& read : reads) {
        EXPECT_EQ(read->CompletionCount(), 0u) << "popping does not complete";
    }
}

TEST_F(QueueTest, AtMost32ReadsWait) {
    cQueue& queue = CreateQueue();
    const std::vector<ComPtr<FakeRequest>> reads = Reads(33);
    cCriticalSectionLock lock(queue.mQueueLock);
    for (size_t i = 0; i < 32; ++i) {
        ASSERT_EQ(queue.PushToQueue(reads[i].Get(), 1), 1) << "read " << i;
    }
    EXPECT_EQ(queue.mpPendingReads->mPosition, 32u);
    EXPECT_EQ(queue.PushToQueue(reads[32].Get(), 1), 0);
    EXPECT_EQ(Log(), std::vector<std::string>{"PushToQueue Queues size exceeded"});
    EXPECT_EQ(queue.mpPendingReads->mpRequest, reads[31].Get()) << "the list is unchanged";
    EXPECT_EQ(queue.FreeList(), 1);
}

TEST_F(QueueTest, AReadThatCannotBeAllocatedIsRefused) {
    cQueue& queue = CreateQueue();
    const std::vector<ComPtr<FakeRequest>> reads = Reads(2);
    cCriticalSectionLock lock(queue.mQueueLock);
    zntr::platform::FailNextHeapAllocations(1);
    EXPECT_EQ(queue.PushToQueue(reads[0].Get(), 1), 0);
    EXPECT_EQ(Log(), std::vector<std::string>{"PushToQueue returns No Memory"});
    EXPECT_EQ(queue.mpPendingReads, nullptr);

    ASSERT_EQ(queue.PushToQueue(reads[0].Get(), 1), 1);
    zntr::platform::FailNextHeapAllocations(1);
    EXPECT_EQ(queue.PushToQueue(reads[1].Get(), 1), 0);
    zntr::platform::FailNextHeapAllocations(0);
    EXPECT_TRUE(Log().empty()) << "a later entry's failure says nothing";
    EXPECT_EQ(queue.mpPendingReads->mpRequest, reads[0].Get());
    EXPECT_EQ(queue.FreeList(), 1);
}

TEST_F(QueueTest, FreeListCompletesEveryWaitingReadNewestFirstWithNoData) {
    cQueue& queue = CreateQueue();
    EXPECT_EQ(queue.FreeList(), 1);
    EXPECT_TRUE(Log().empty()) << "an empty list: nothing to log";

    const std::vector<ComPtr<FakeRequest>> reads = Reads(3);
    {
        cCriticalSectionLock lock(queue.mQueueLock);
        for (const ComPtr<FakeRequest>& read : reads) {
            ASSERT_EQ(queue.PushToQueue(read.Get(), 100), 1);
        }
    }
    EXPECT_EQ(queue.FreeList(), 1);
    EXPECT_EQ(queue.mpPendingReads, nullptr);
    EXPECT_EQ(Log(), std::vector<std::string>{"FreeList returns\n"});
    std::vector<int> order;
    for (const ComPtr<FakeRequest>& read : reads) {
        const std::vector<Completion> completions = read->Completions();
        ASSERT_EQ(completions.size(), 1u) << "each completed exactly once";
        EXPECT_EQ(completions[0].status, S_OK);
        EXPECT_EQ(completions[0].information, 0u);
        order.push_back(completions[0].sequence);
    }
    EXPECT_GT(order[0], order[1]) << "the newest is completed first";
    EXPECT_GT(order[1], order[2]);
}

TEST_F(QueueTest, AReadWithoutOutputMemoryIsCompletedEmptyAndStartsNothing) {
    cQueue& queue = CreateQueue();
    const ComPtr<FakeRequest> read = FakeRequest::WithoutOutput();
    queue.OnRead(nullptr, read.Get(), 100);
    ASSERT_EQ(read->CompletionCount(), 1u);
    EXPECT_EQ(read->Completions()[0].status, S_OK);
    EXPECT_EQ(read->Completions()[0].information, 0u);
    EXPECT_EQ(queue.mhRecvThread.load(), nullptr);
}

TEST_F(QueueTest, AReadThatCannotStartTheStreamIsCompletedAtOnce) {
    cQueue& queue = CreateQueue();
    const ComPtr<FakeRequest> read = FakeRequest::Read(100);
    zntr::platform::FailNextThreadCreations(1);
    const auto start = std::chrono::steady_clock::now();
    queue.OnRead(nullptr, read.Get(), 100);
    zntr::platform::FailNextThreadCreations(0);

    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms) << "no wait for a stream";
    ASSERT_EQ(read->CompletionCount(), 1u);
    EXPECT_EQ(read->Completions()[0].information, 0u);
    EXPECT_TRUE(Contains(Log(), "OnRead:: Failed in Creating the thread\n"));
    EXPECT_EQ(queue.mhRecvThread.load(), nullptr);
    EXPECT_EQ(queue.mRecvBuffer.mpData, nullptr) << "no storage left without a thread";
}

}  // namespace
