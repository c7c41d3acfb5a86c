// The host's frames, read from tests/data/wire/frames, whose files are also the seeds of the
// host_framing fuzz target: each row of frames.table is a byte stream and what the host's frame
// reader makes of it. Beside the table: a stream decodes alike however it arrives, and each
// message encodes back to the very bytes it was read from.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "host_commands.h"
#include "table_tests.h"
#include "wire_format.h"

namespace {

namespace protocol = zntr::protocol;
using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path kWire = ZNTR_WIRE_DATA;

Bytes ReadBytes(const std::filesystem::path& path) {
    const std::string text = zntr::test::ReadTextFile(path);
    return Bytes(text.begin(), text.end());
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

std::string Describe(const protocol::Message& m) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, protocol::OpenMessage>) {
                return "open v" + std::to_string(v.version) + " \"" + v.fileName + "\"";
            } else if constexpr (std::is_same_v<T, protocol::ControlMessage>) {
                const auto& name = protocol::NameOf(v.command);
                return "control v" + std::to_string(v.version) + " " + std::string(name.group) +
                       " " + std::string(name.verb);
            } else if constexpr (std::is_same_v<T, protocol::ReadMessage>) {
                return "read #" + std::to_string(v.requestId) + " of " + std::to_string(v.length);
            } else if constexpr (std::is_same_v<T, protocol::DeviceIoControlMessage>) {
                return "ioctl #" + std::to_string(v.requestId) + " " + Hex(v.controlCode) +
                       " out " + std::to_string(v.outputLength) + " in " +
                       std::to_string(v.input.size());
            } else if constexpr (std::is_same_v<T, protocol::OpenedMessage>) {
                return "opened " + Hex(static_cast<std::uint32_t>(v.status));
            } else if constexpr (std::is_same_v<T, protocol::ControlResultMessage>) {
                return "control result " + Hex(static_cast<std::uint32_t>(v.status)) + " " + v.text;
            } else {
                return "completed #" + std::to_string(v.requestId) + " " +
                       Hex(static_cast<std::uint32_t>(v.status)) + " with " +
                       std::to_string(v.data.size());
            }
        },
        m);
}

// What a frame reader makes of the stream given to it in pieces of `piece` bytes.
std::string Frames(const Bytes& stream, std::size_t piece) {
    protocol::FrameReader reader;
    std::string decoding;
    std::size_t taken = 0;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        reader.Append(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
        protocol::Message m;
        std::string problem;
        for (auto result = reader.Next(m, &problem);
             result != protocol::FrameReader::Result::kNeedMore;
             result = reader.Next(m, &problem)) {
            if (result == protocol::FrameReader::Result::kMalformed) {
                return decoding + "malformed: " + problem;
            }
            const Bytes frame = protocol::EncodeFrame(m);
            const bool same = std::equal(frame.begin(), frame.end(), stream.begin() + taken);
            taken += frame.size();
            decoding += Describe(m) + (same ? "; " : " (encodes otherwise); ");
        }
    }
    return decoding + std::to_string(reader.Buffered()) + " bytes left";
}

// Every stream has its row: a seed without an expected decoding tests nothing.
TEST(Frames, EveryStreamHasItsRow) {
    const auto rows = zntr::test::ReadTable(kWire / "frames.table").rows;
    for (const auto& file : std::filesystem::directory_iterator(kWire / "frames")) {
        const std::string name = file.path().filename().string();
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
            return row[0] == name;
        })) << name;
    }
}

// A stream cut into single bytes decodes as it does whole.
TEST(Frames, DecodeAlikeHoweverTheyArrive) {
    for (const auto& file : std::filesystem::directory_iterator(kWire / "frames")) {
        const Bytes stream = ReadBytes(file.path());
        EXPECT_EQ(Frames(stream, 1), Frames(stream, stream.size() + 1)) << file.path();
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    zntr::test::RegisterTableRows(
        "Frames", {kWire / "frames.table"}, 1,
        [](const zntr::test::Table&, const zntr::test::TableRow& row) -> std::vector<std::string> {
            const Bytes stream = ReadBytes(kWire / "frames" / row[0]);
            return {Frames(stream, stream.size() + 1)};
        });
    return RUN_ALL_TESTS();
}
