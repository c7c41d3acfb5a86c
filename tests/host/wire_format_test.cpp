// The host's wire format: every message survives its frame, frames are cut out of a stream
// however it arrives, and what is not a message is refused for good.
#include <gtest/gtest.h>

#include <vector>

#include "host_commands.h"
#include "wire_format.h"

namespace {

using namespace zntr::protocol;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int value : values) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::vector<Message> Samples() {
    DeviceIoControlMessage control;
    control.requestId = 0x0102030405060708ull;
    control.controlCode = 0x40C108;
    control.outputLength = 4096;
    control.input = {1, 2, 3};
    CompletedMessage completed;
    completed.requestId = 7;
    completed.status = static_cast<HRESULT>(0x80030005u);
    completed.data = {'$', 'G', 'P'};
    return {OpenMessage{kProtocolVersion, "raw"},
            ControlMessage{kProtocolVersion, HostCommand::kSurpriseRemove},
            ReadMessage{9, 1024},
            control,
            OpenedMessage{static_cast<HRESULT>(0x80070651u)},
            ControlResultMessage{S_OK, "{\"pnp\":\"started\"}"},
            completed};
}

TEST(WireFormatTest, EveryMessageComesOutAsItWentIn) {
    for (const Message& sample : Samples()) {
        const std::vector<std::uint8_t> frame = EncodeFrame(sample);
        FrameReader reader;
        reader.Append(frame);
        Message decoded;
        std::string problem;
        ASSERT_EQ(reader.Next(decoded, &problem), FrameReader::Result::kMessage) << problem;
        EXPECT_EQ(decoded, sample) << "message type index " << sample.index();
        EXPECT_EQ(reader.Next(decoded, &problem), FrameReader::Result::kNeedMore);
    }
}

TEST(WireFormatTest, ALittleEndianLengthAndTypeLeadEachFrame) {
    EXPECT_EQ(EncodeFrame(ReadMessage{0x11, 0x200}),
              Bytes({13, 0, 0, 0, 0x03, 0x11, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x02, 0, 0}));
    EXPECT_EQ(EncodeFrame(OpenedMessage{static_cast<HRESULT>(0x80030005u)}),
              Bytes({5, 0, 0, 0, 0x81, 0x05, 0x00, 0x03, 0x80}));
}

TEST(WireFormatTest, FramesAreCutOutOfAStreamHoweverItArrives) {
    std::vector<std::uint8_t> stream;
    for (const Message& sample : Samples()) {
        const auto frame = EncodeFrame(sample);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{3}, std::size_t{7}, stream.size()}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece) + " bytes");
        FrameReader reader;
        std::vector<Message> decoded;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.Append(std::span<const std::uint8_t>(stream).subspan(
                at, std::min(piece, stream.size() - at)));
            Message message;
            while (reader.Next(message, nullptr) == FrameReader::Result::kMessage) {
                decoded.push_back(message);
            }
        }
        EXPECT_EQ(decoded, Samples());
        EXPECT_EQ(reader.Buffered(), 0u);
    }
}

TEST(WireFormatTest, RefusesWhatIsNotAMessage) {
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> stream;
    };
    const Case cases[] = {
        {"an empty frame", Bytes({0, 0, 0, 0})},
        {"a length beyond the limit, refused before its body comes",
         Bytes({0x41, 0x00, 0x10, 0x00})},
        {"an unknown message type", Bytes({1, 0, 0, 0, 0x7F})},
        {"a read one byte short", Bytes({12, 0, 0, 0, 0x03, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0})},
        {"a read with a byte too many",
         Bytes({14, 0, 0, 0, 0x03, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 9})},
        {"a read beyond the transfer limit",
         Bytes({13, 0, 0, 0, 0x03, 1, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x10, 0x00})},
        {"an open whose name is longer than the frame",
         Bytes({8, 0, 0, 0, 0x01, 1, 0, 0, 0, 5, 0, 'a'})},
        {"a control command that does not exist", Bytes({6, 0, 0, 0, 0x02, 1, 0, 0, 0, 0x40})},
        {"a device I/O control request without its header", Bytes({5, 0, 0, 0, 0x04, 1, 2, 3, 4})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        FrameReader reader;
        reader.Append(c.stream);
        Message message;
        std::string problem;
        EXPECT_EQ(reader.Next(message, &problem), FrameReader::Result::kMalformed);
        EXPECT_FALSE(problem.empty());
        // A stream that went wrong cannot be trusted again, whatever follows.
        reader.Append(EncodeFrame(ReadMessage{1, 1}));
        EXPECT_EQ(reader.Next(message, &problem), FrameReader::Result::kMalformed);
    }
}

TEST(HostCommandsTest, EveryCommandHasOneNameAndTheNamesFindIt) {
    for (const HostCommandName& name : kHostCommandNames) {
        EXPECT_EQ(FindHostCommand(name.group, name.verb), name.command) << name.verb;
        EXPECT_EQ(NameOf(name.command).verb, name.verb);
    }
    EXPECT_EQ(FindHostCommand("power", "query-remove"), std::nullopt) << "a pnp verb";
    EXPECT_EQ(FindHostCommand("pnp", "release"), HostCommand::kRelease);
    EXPECT_EQ(std::size(kHostCommandNames), static_cast<std::size_t>(HostCommand::kRelease));
}

}  // namespace
