// The queue's list of waiting reads: a doubly linked list whose head is the newest entry, served
// oldest first.
#include "critical_section_lock.h"
#include "debug_log.h"
#include "queue.h"

namespace {

PendingRead* NewPendingRead(IWDFIoRequest* pRequest, ULONG bytesToRead) {
    PendingRead* pEntry = static_cast<PendingRead*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PendingRead)));
    if (pEntry != nullptr) {
        pEntry->mpRequest = pRequest;
        pEntry->mBytesToRead = bytesToRead;
    }
    return pEntry;
}

}  // namespace

int cQueue::PushToQueue(IWDFIoRequest* pRequest, ULONG bytesToRead) {
    if (mpPendingReads == nullptr) {
        PendingRead* pFirst = NewPendingRead(pRequest, bytesToRead);
        if (pFirst == nullptr) {
            DebugLog("PushToQueue returns No Memory");
            return 0;
        }
        pFirst->mPosition = 1;
        mpPendingReads = pFirst;
        return 1;
    }
    if (mpPendingReads->mPosition >= MAX_PENDING_READS) {
        DebugLog("PushToQueue Queues size exceeded");
        return 0;
    }
    PendingRead* pNewest = NewPendingRead(pRequest, bytesToRead);
    if (pNewest == nullptr) {
        return 0;
    }
    pNewest->mpOlder = mpPendingReads;
    pNewest->mPosition = mpPendingReads->mPosition + 1;
    mpPendingReads->mpNewer = pNewest;
    mpPendingReads = pNewest;
    return 1;
}

// Every entry but the oldest moves one place closer to the front as the walk passes it.
void cQueue::PopFromQueue(IWDFIoRequest** ppRequest, ULONG* pBytesToRead) {
    *ppRequest = nullptr;
    *pBytesToRead = 0;
    if (mpPendingReads == nullptr) {
        DebugLog("PopFromQueue returns No Memory");
        return;
    }
    PendingRead* pOldest = mpPendingReads;
    while (pOldest->mpOlder != nullptr) {
        --pOldest->mPosition;
        pOldest = pOldest->mpOlder;
    }
    *ppRequest = pOldest->mpRequest;
    *pBytesToRead = pOldest->mBytesToRead;
    if (pOldest == mpPendingReads) {
        mpPendingReads = nullptr;
    } else {
        pOldest->mpNewer->mpOlder = nullptr;
    }
    HeapFree(GetProcessHeap(), 0, pOldest);
}

int cQueue::FreeList() {
    cCriticalSectionLock lock(mQueueLock);
    if (mpPendingReads == nullptr) {
        return 1;
    }
    PendingRead* pEntry = mpPendingReads;
    while (pEntry != nullptr) {
        PendingRead* pOlder = pEntry->mpOlder;
        pEntry->mpRequest->CompleteWithInformation(S_OK, 0);
        HeapFree(GetProcessHeap(), 0, pEntry);
        pEntry = pOlder;
    }
    mpPendingReads = nullptr;
    DebugLog("FreeList returns\n");
    return 1;
}
