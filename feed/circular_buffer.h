// CircularBuffer: the byte ring in which both stream readers gather what they receive from the
// hotspot's NMEA stream. A plain record embedded in its owner, which allocates and releases the
// storage (3072 bytes, zero-filled) and sets both indices to 0 whenever it does. No lock of its
// own: the sensor's receive thread is its only user while it runs, and the raw read queue guards
// its buffer with its queue lock.
#pragma once

#include "driver_platform.h"

struct CircularBuffer {
    BYTE* mpData;       // the storage; null while none is allocated
    DWORD mSize;        // capacity in bytes: 3072 while storage is allocated
    DWORD mReadIndex;   // first unread byte
    DWORD mWriteIndex;  // where the next byte is written
};

// Capacity of the storage both readers allocate.
constexpr DWORD CIRCULAR_BUFFER_SIZE = 3072;

// 1 when the bytes were stored, 0 when they were refused.
int WriteToCircularBuffer(CircularBuffer& buffer, const BYTE* source, DWORD count);
// 1 when bytes were taken, 0 when the buffer was missing or empty.
int ReadFromCircularBuffer(CircularBuffer& buffer, BYTE* destination, DWORD count);
// At most four NMEA lines, each "\n"-ended, into output; 1 when lines were taken, 0 when the
// buffer was missing or empty.
int ReadLinesFromCircularBuffer(CircularBuffer& buffer, char* output, DWORD outputSize);
