// The framework host's framing of client messages: a client's byte stream, cut into arbitrary
// receives, given to a FrameReader as the host's connection does, and every frame body also to
// DecodeBody directly. A local client is a trust boundary: whatever it sends must end in
// messages or a refusal, never a crash, a hang or a leak.
//
// Input (FuzzedDataProvider): the sizes of the receives are taken from the end of the input, the
// stream's bytes from its front.
//
// Beyond that, it checks:
// - a decoded message encodes to a frame that decodes back to the same message;
// - a malformed stream stays malformed (the connection is closed, never resynchronised);
// - the reader never holds more bytes than it was given and not yet taken.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "wire_format.h"

namespace {

using zntr::protocol::DecodeBody;
using zntr::protocol::EncodeFrame;
using zntr::protocol::FrameReader;
using zntr::protocol::Message;

// Larger than the receive buffer of the host's connection, so that several frames can come in
// one receive and a frame can span several.
constexpr std::uint16_t kLargestReceive = 9000;

void CheckRoundTrip(const Message& message) {
    const std::vector<std::uint8_t> frame = EncodeFrame(message);
    FUZZ_CHECK(frame.size() >= 5, "a frame holds a length and a type");
    std::string error;
    const std::optional<Message> again =
        DecodeBody(std::span<const std::uint8_t>(frame).subspan(4), &error);
    FUZZ_CHECK(again.has_value(), "an encoded message decodes");
    FUZZ_CHECK(*again == message, "an encoded message decodes to itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The whole input as one frame body, as DecodeBody meets it after the length was read.
    {
        std::string error;
        const std::optional<Message> direct =
            DecodeBody(std::span<const std::uint8_t>(data, size), &error);
        if (direct) {
            CheckRoundTrip(*direct);
        } else {
            FUZZ_CHECK(!error.empty(), "a refusal says why");
        }
    }

    FuzzedDataProvider provider(data, size);
    FrameReader reader;
    std::size_t given = 0;
    std::size_t taken = 0;
    bool malformed = false;
    while (provider.remaining_bytes() > 0) {
        const std::uint16_t length =
            provider.ConsumeIntegralInRange<std::uint16_t>(1, kLargestReceive);
        const std::vector<std::uint8_t> bytes = provider.ConsumeBytes<std::uint8_t>(length);
        reader.Append(bytes);
        given += bytes.size();
        for (;;) {
            Message message;
            std::string error;
            const FrameReader::Result result = reader.Next(message, &error);
            if (result == FrameReader::Result::kNeedMore) {
                FUZZ_CHECK(!malformed, "malformed is final");
                break;
            }
            if (result == FrameReader::Result::kMalformed) {
                FUZZ_CHECK(!error.empty(), "a refusal says why");
                malformed = true;
                break;
            }
            FUZZ_CHECK(!malformed, "no message after a malformed one");
            taken += EncodeFrame(message).size();
            CheckRoundTrip(message);
        }
        FUZZ_CHECK(reader.Buffered() == given - taken, "bytes held are those not yet taken");
    }
    return 0;
}
