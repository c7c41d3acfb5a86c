// CircularBuffer driven by a sequence of operations (allocate, release, write, read, take lines),
// checked after each against CircularBufferModel: the same result, the same bytes out, the same
// indices, the same unread count and the same storage.
//
// Input (FuzzedDataProvider): the operations and their counts are taken from the end of the
// input, the bytes that writes store from its front.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "circular_buffer_model.h"
#include "fuzz_check.h"

// Driver headers last: they rename the C runtime's number readers.
#include "circular_buffer.h"

namespace {

// Taking lines, what the receive loop does most, has two of the six values.
enum Operation : int { kAllocate, kRelease, kWrite, kRead, kReadLines, kReadLinesAgain, kLast };

// Counts reach past the capacity so that the refusal of an oversized write is exercised.
constexpr std::uint16_t kLargestCount = 3200;
constexpr std::uint16_t kLargestOutput = 1100;
// What an untouched output holds.
constexpr char kUntouched = '\x5A';

// The owners' way: zero-filled storage of the fixed size, both indices at 0.
struct OwnedBuffer {
    std::vector<BYTE> storage;
    CircularBuffer buffer{nullptr, 0, 0, 0};

    void Allocate() {
        storage.assign(CIRCULAR_BUFFER_SIZE, 0);
        buffer = {storage.data(), CIRCULAR_BUFFER_SIZE, 0, 0};
    }
    void Release() {
        storage.clear();
        storage.shrink_to_fit();
        buffer = {nullptr, 0, 0, 0};
    }
};

void CheckSame(const OwnedBuffer& real, const zntr::fuzz::CircularBufferModel& model) {
    FUZZ_CHECK((real.buffer.mpData != nullptr) == model.HasStorage(), "storage held alike");
    FUZZ_CHECK(real.buffer.mReadIndex == model.ReadIndex(), "read index");
    FUZZ_CHECK(real.buffer.mWriteIndex == model.WriteIndex(), "write index");
    FUZZ_CHECK(GetCircularBufferUnreadCount(real.buffer) == model.Unread(), "unread count");
    if (model.HasStorage()) {
        FUZZ_CHECK(real.buffer.mSize == CIRCULAR_BUFFER_SIZE, "capacity");
        FUZZ_CHECK(std::memcmp(real.buffer.mpData, model.Bytes().data(), CIRCULAR_BUFFER_SIZE) == 0,
                   "storage bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    OwnedBuffer real;
    zntr::fuzz::CircularBufferModel model;

    while (provider.remaining_bytes() > 0) {
        switch (provider.ConsumeIntegralInRange<int>(kAllocate, kLast - 1)) {
            case kAllocate:
                real.Allocate();
                model.Allocate();
                break;
            case kRelease:
                real.Release();
                model.Release();
                break;
            case kWrite: {
                const std::uint16_t count =
                    provider.ConsumeIntegralInRange<std::uint16_t>(0, kLargestCount);
                const std::vector<std::uint8_t> bytes = provider.ConsumeBytes<std::uint8_t>(count);
                const int result = WriteToCircularBuffer(real.buffer, bytes.data(),
                                                         static_cast<DWORD>(bytes.size()));
                FUZZ_CHECK(result == model.Write(bytes), "write result");
                break;
            }
            case kRead: {
                const std::uint16_t count =
                    provider.ConsumeIntegralInRange<std::uint16_t>(0, kLargestCount);
                const DWORD unread = GetCircularBufferUnreadCount(real.buffer);
                std::vector<std::uint8_t> destination(count, kUntouched);
                const int result = ReadFromCircularBuffer(real.buffer, destination.data(), count);
                std::vector<std::uint8_t> expected;
                FUZZ_CHECK(result == model.Read(count, &expected), "read result");
                // What the raw read delivers: the smaller of count and what was unread.
                const std::size_t delivered =
                    result == 1 ? std::min<std::size_t>(count, unread) : 0;
                FUZZ_CHECK(delivered == expected.size(), "bytes delivered");
                FUZZ_CHECK(std::equal(expected.begin(), expected.end(), destination.begin()),
                           "bytes read");
                for (std::size_t i = delivered; i < destination.size(); ++i) {
                    FUZZ_CHECK(destination[i] == static_cast<std::uint8_t>(kUntouched),
                               "nothing written past the bytes taken");
                }
                break;
            }
            case kReadLines:
            case kReadLinesAgain: {
                // The receive loop passes its 1024-byte buffer; other sizes bound the window.
                const std::size_t outputSize =
                    provider.ConsumeBool()
                        ? 1024
                        : provider.ConsumeIntegralInRange<std::uint16_t>(0, kLargestOutput);
                std::vector<char> output(outputSize, kUntouched);
                std::vector<char> expected(outputSize, kUntouched);
                const int result = ReadLinesFromCircularBuffer(
                    real.buffer, output.empty() ? nullptr : output.data(),
                    static_cast<DWORD>(outputSize));
                FUZZ_CHECK(result == model.ReadLines(&expected), "lines result");
                FUZZ_CHECK(output == expected, "lines taken");
                break;
            }
            default:
                break;
        }
        CheckSame(real, model);
    }
    return 0;
}
