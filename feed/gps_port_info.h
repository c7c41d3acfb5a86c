// QueryGpsPortInfo: asks the hotspot's web interface whether its GPS stream is on and where it
// is served.
#pragma once

#include "driver_platform.h"

// What the discovery uses of the raw read queue: the queue's stop event and the completion of
// its waiting reads. The queue object (cQueue) derives from this, so QueryGpsPortInfo takes it
// as it is; the sensor's path passes no queue at all.
class cPortQueryQueue {
  public:
    // The device's auto-reset queue stop event; may be null. Not owned by the caller.
    virtual HANDLE GetStopEvent() = 0;
    // Completes every waiting read with no data and empties the list; returns 1.
    virtual int FreeList() = 0;

  protected:
    ~cPortQueryQueue() = default;
};

// Fills pIpAddress (the caller's cleared buffer of PORT_QUERY_ADDRESS_SIZE bytes) with the
// stream's dotted-decimal address and *pPort with its port. Returns 1 when an address and port
// are to be used (found, or defaulted to 192.168.1.1 and 10110), 0 when the device has no
// stream to offer or the queue's stop event ended the wait. Retries the HTTP connection until it
// succeeds: without a queue it returns only once the web interface accepts a connection.
int QueryGpsPortInfo(char* pIpAddress, int* pPort, cPortQueryQueue* pQueue);

// The caller's address buffer.
constexpr size_t PORT_QUERY_ADDRESS_SIZE = 256;
