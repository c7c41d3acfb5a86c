// The framework host's framing of client messages (a local client is a trust boundary: whatever
// it sends ends in messages or a refusal, never a crash, a hang or a leak). The input is a
// client's byte stream, given to a FrameReader once whole and once in receives of 1 to 256 bytes
// (each as long as the byte it starts with says); seeds: tests/data/wire/frames. Checked: a
// message encodes to the very bytes it was read from; the same messages and refusal however the
// stream is cut; malformed is final; the reader holds exactly the bytes given and not yet taken.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "wire_format.h"

namespace {

using zntr::protocol::FrameReader;
using zntr::protocol::Message;

struct Decoding {
    std::vector<Message> messages;
    bool malformed = false;
    bool operator==(const Decoding&) const = default;
};

Decoding Decode(std::span<const std::uint8_t> stream, bool cut) {
    Decoding decoding;
    FrameReader reader;
    std::size_t given = 0;
    std::size_t taken = 0;
    while (given < stream.size() && !decoding.malformed) {
        const std::size_t size = cut ? 1 + stream[given] : stream.size();
        const auto bytes = stream.subspan(given, std::min(size, stream.size() - given));
        reader.Append(bytes);
        given += bytes.size();
        Message message;
        std::string error;
        for (auto result = reader.Next(message, &error); result != FrameReader::Result::kNeedMore;
             result = reader.Next(message, &error)) {
            if (result == FrameReader::Result::kMalformed) {
                FUZZ_CHECK(!error.empty(), "a refusal says why");
                FUZZ_CHECK(reader.Next(message, &error) == FrameReader::Result::kMalformed,
                           "malformed is final");
                decoding.malformed = true;
                break;
            }
            const std::vector<std::uint8_t> frame = zntr::protocol::EncodeFrame(message);
            FUZZ_CHECK(std::equal(frame.begin(), frame.end(), stream.begin() + taken),
                       "a message encodes to the bytes it was read from");
            taken += frame.size();
            decoding.messages.push_back(std::move(message));
        }
        FUZZ_CHECK(decoding.malformed || reader.Buffered() == given - taken,
                   "bytes held are those not yet taken");
    }
    return decoding;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    FUZZ_CHECK(Decode(input, false) == Decode(input, true), "the same however it is cut");
    return 0;
}
