// CircularBuffer driven by a sequence of operations (allocate, release, write, read, take lines),
// checked after each against CircularBufferModel: the same result, the same bytes out, the same
// indices, unread count and storage. Input (FuzzedDataProvider): the operations and their counts
// from the end, the bytes that writes store from the front.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "circular_buffer_model.h"
#include "fuzz_check.h"

// Driver headers last: they rename the C runtime's number readers.
#include "circular_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Counts reach past the capacity, so that an oversized write is tried; outputs start as 0x5A.
    constexpr std::uint16_t kLargestCount = 3200;
    constexpr std::uint8_t kUntouched = 0x5A;
    FuzzedDataProvider provider(data, size);
    std::vector<BYTE> storage;
    CircularBuffer real{nullptr, 0, 0, 0};
    zntr::fuzz::CircularBufferModel model;
    while (provider.remaining_bytes() > 0) {
        // Taking lines, what the receive loop does most, has two of the six values.
        switch (provider.ConsumeIntegralInRange<int>(0, 5)) {
            case 0:  // the owners' way: zero-filled storage of the fixed size, indices 0
                storage.assign(CIRCULAR_BUFFER_SIZE, 0);
                real = {storage.data(), CIRCULAR_BUFFER_SIZE, 0, 0};
                model.Allocate();
                break;
            case 1:
                storage.clear();
                real = {nullptr, 0, 0, 0};
                model.Release();
                break;
            case 2: {
                const std::vector<std::uint8_t> bytes = provider.ConsumeBytes<std::uint8_t>(
                    provider.ConsumeIntegralInRange<std::uint16_t>(0, kLargestCount));
                FUZZ_CHECK(
                    WriteToCircularBuffer(real, bytes.data(), static_cast<DWORD>(bytes.size())) ==
                        model.Write(bytes),
                    "write result");
                break;
            }
            case 3: {
                const std::uint16_t count =
                    provider.ConsumeIntegralInRange<std::uint16_t>(0, kLargestCount);
                std::vector<std::uint8_t> out(count, kUntouched);
                std::vector<std::uint8_t> expected;
                FUZZ_CHECK(
                    ReadFromCircularBuffer(real, out.data(), count) == model.Read(count, &expected),
                    "read result");
                FUZZ_CHECK(std::equal(expected.begin(), expected.end(), out.begin()), "bytes read");
                FUZZ_CHECK(std::all_of(out.begin() + static_cast<long>(expected.size()), out.end(),
                                       [&](std::uint8_t b) { return b == kUntouched; }),
                           "nothing written past the bytes taken");
                break;
            }
            default: {
                // The receive loop passes its 1024-byte buffer; other sizes bound the window.
                const std::size_t outputSize =
                    provider.ConsumeBool()
                        ? 1024
                        : provider.ConsumeIntegralInRange<std::uint16_t>(0, 1100);
                std::vector<char> out(outputSize, kUntouched);
                std::vector<char> expected(outputSize, kUntouched);
                FUZZ_CHECK(ReadLinesFromCircularBuffer(real, out.empty() ? nullptr : out.data(),
                                                       static_cast<DWORD>(outputSize)) ==
                               model.ReadLines(&expected),
                           "lines result");
                FUZZ_CHECK(out == expected, "lines taken");
                break;
            }
        }
        FUZZ_CHECK((real.mpData != nullptr) == model.HasStorage(), "storage held alike");
        FUZZ_CHECK(real.mReadIndex == model.ReadIndex() && real.mWriteIndex == model.WriteIndex(),
                   "indices");
        FUZZ_CHECK(GetCircularBufferUnreadCount(real) == model.Unread(), "unread count");
        FUZZ_CHECK(!model.HasStorage() ||
                       std::memcmp(real.mpData, model.Bytes().data(), CIRCULAR_BUFFER_SIZE) == 0,
                   "storage bytes");
    }
    return 0;
}
