// The circular byte buffer of both stream readers.
//
// Two choices beyond the plain ring, both about what a read may take:
// - Reads and line windows stop at the write index: only unread bytes are taken, never the older
//   stream data (or zeros) that lie behind it.
// - A last piece with no line feed behind it stays in the buffer until its line feed arrives, so
//   a sentence split across two receives is passed on whole; but only while the window is not
//   full. In a full window it is examined like any other piece (a "$" piece passed on, cut to
//   fit the output with its "\n"), so that an over-long line never holds the lines behind it
//   back until the ring laps.
#include "circular_buffer.h"

namespace {

// The line window: at most this many bytes from the read index are examined per call.
constexpr DWORD LINE_WINDOW_SIZE = 1024;
// Pieces examined per call: the first and up to three more.
constexpr int LINE_PIECES_PER_CALL = 4;

bool HasStorage(const CircularBuffer& buffer) {
    return buffer.mpData != nullptr && buffer.mSize != 0;
}

// Copies `count` bytes starting at `from`, continuing at index 0 at the end of the storage.
// Nothing to copy needs no destination: memcpy must not be given a null pointer even for 0 bytes.
void CopyOut(const CircularBuffer& buffer, DWORD from, BYTE* destination, DWORD count) {
    if (count == 0) {
        return;
    }
    const DWORD first = std::min(count, buffer.mSize - from);
    std::memcpy(destination, buffer.mpData + from, first);
    std::memcpy(destination + first, buffer.mpData, count - first);
}

}  // namespace

DWORD GetCircularBufferUnreadCount(const CircularBuffer& buffer) {
    if (!HasStorage(buffer)) {
        return 0;
    }
    return (buffer.mWriteIndex + buffer.mSize - buffer.mReadIndex) % buffer.mSize;
}

// Refuses a write that would leave the write index on the read index (the buffer would look
// empty) and one larger than the storage; nothing else is checked, so a write that runs over
// unread bytes overwrites them.
int WriteToCircularBuffer(CircularBuffer& buffer, const BYTE* source, DWORD count) {
    if (!HasStorage(buffer) || count > buffer.mSize) {
        return 0;
    }
    const DWORD newWriteIndex = (buffer.mWriteIndex + count) % buffer.mSize;
    if (newWriteIndex == buffer.mReadIndex) {
        return 0;
    }
    // An empty write is taken without touching its source, which may then be null.
    if (count != 0) {
        const DWORD first = std::min(count, buffer.mSize - buffer.mWriteIndex);
        std::memcpy(buffer.mpData + buffer.mWriteIndex, source, first);
        std::memcpy(buffer.mpData, source + first, count - first);
    }
    buffer.mWriteIndex = newWriteIndex;
    return 1;
}

// Takes the smaller of `count` and the unread bytes; GetCircularBufferUnreadCount() before the
// call tells the caller how many that is.
int ReadFromCircularBuffer(CircularBuffer& buffer, BYTE* destination, DWORD count) {
    if (!HasStorage(buffer) || buffer.mReadIndex == buffer.mWriteIndex) {
        return 0;
    }
    const DWORD taken = std::min(count, GetCircularBufferUnreadCount(buffer));
    CopyOut(buffer, buffer.mReadIndex, destination, taken);
    buffer.mReadIndex = (buffer.mReadIndex + taken) % buffer.mSize;
    return 1;
}

// Splits the window as strtok does with "\n" as the only separator (a run of line feeds is one
// separator, empty pieces are skipped) and examines at most four pieces. Pieces that begin with
// "$" are appended to the output, each followed by "\n"; others are skipped but still count.
// A carriage return before a line feed stays part of its piece.
//
// The read index then moves by the output's length, as the reader's design has it. Where the
// output is shorter than the text examined (a skipped piece, a run of line feeds) the next call
// therefore begins inside that text and may find a sentence of this call again.
//
// The window is at most outputSize - 1 bytes, so the output (never longer than the text it came
// from) always fits with its terminator; the work area ends at a terminator after the window, so
// a byte 0 in the stream ends its text there.
int ReadLinesFromCircularBuffer(CircularBuffer& buffer, char* output, DWORD outputSize) {
    if (!HasStorage(buffer) || buffer.mReadIndex == buffer.mWriteIndex || output == nullptr ||
        outputSize == 0) {
        return 0;
    }
    const DWORD entryReadIndex = buffer.mReadIndex;
    const DWORD largestWindow = std::min(LINE_WINDOW_SIZE, outputSize - 1);
    const DWORD window = std::min(largestWindow, GetCircularBufferUnreadCount(buffer));
    // A full window can grow no more, so a piece in it waits for no line feed.
    const bool windowFull = window == largestWindow;
    char work[LINE_WINDOW_SIZE + 1];
    std::memset(work, 0, sizeof(work));
    CopyOut(buffer, entryReadIndex, reinterpret_cast<BYTE*>(work), window);
    std::memset(output, 0, outputSize);

    const char* cursor = work;
    size_t outputLength = 0;
    for (int piece = 0; piece < LINE_PIECES_PER_CALL; ++piece) {
        while (*cursor == '\n') {
            ++cursor;
        }
        if (*cursor == '\0') {
            break;
        }
        const char* end = std::strchr(cursor, '\n');
        if (end == nullptr && !windowFull) {
            // No line feed behind the last piece yet: it waits for the rest of its line.
            break;
        }
        // In a full window a last piece without its line feed is taken as it is, cut so that
        // the output keeps room for its "\n" and the terminator.
        const size_t length = end != nullptr
                                  ? static_cast<size_t>(end - cursor)
                                  : std::min(std::strlen(cursor), outputSize - 2 - outputLength);
        if (cursor[0] == '$') {
            std::memcpy(output + outputLength, cursor, length);
            output[outputLength + length] = '\n';
            outputLength += length + 1;
        }
        if (end == nullptr) {
            break;
        }
        cursor = end + 1;
    }
    buffer.mReadIndex = static_cast<DWORD>((entryReadIndex + outputLength) % buffer.mSize);
    return 1;
}
