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

// 1 when the bytes were stored, 0 when they were refused (no storage, more than the capacity,
// or a write that would end on the read index).
int WriteToCircularBuffer(CircularBuffer& buffer, const BYTE* source, DWORD count);
// 1 when bytes were taken, 0 when the buffer was missing or empty. Takes at most the unread
// bytes: the smaller of count and GetCircularBufferUnreadCount(), which is what a raw read
// delivers.
int ReadFromCircularBuffer(CircularBuffer& buffer, BYTE* destination, DWORD count);
// At most four NMEA lines, each "\n"-ended, into output; 1 when lines were taken, 0 when the
// buffer was missing or empty. A last line whose line feed has not arrived stays in the buffer,
// unless it fills the whole window (then it is passed on, cut to fit the output).
int ReadLinesFromCircularBuffer(CircularBuffer& buffer, char* output, DWORD outputSize);

// The bytes written and not yet taken; 0 without storage.
DWORD GetCircularBufferUnreadCount(const CircularBuffer& buffer);
