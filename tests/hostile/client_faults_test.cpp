// Hostile clients on the host's socket, speaking its wire format (host/protocol.md) byte by
// byte: truncated frames, impossible lengths, unknown types, random bytes, a reused request id,
// another protocol version, and floods of requests from a client that never reads its answers.
// The host answers with an error or closes that one connection; it never crashes, hangs or
// grows without bound, and it goes on serving a well-behaved client throughout.
#include <chrono>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "host_status.h"
#include "hostile_fixture.h"
#include "wire_format.h"

namespace zntr::test {
namespace {

using protocol::EncodeFrame;

std::vector<std::uint8_t> OpenFrame(std::uint32_t version = protocol::kProtocolVersion) {
    return EncodeFrame(protocol::OpenMessage{version, ""});
}

std::vector<std::uint8_t> ReadFrame(std::uint64_t id) {
    return EncodeFrame(protocol::ReadMessage{id, 1024});
}

// A device I/O control code the driver's sensor does not know: the class extension refuses it
// at once, so each request costs the host one quick round through the driver.
std::vector<std::uint8_t> ControlFrame(std::uint64_t id) {
    return EncodeFrame(protocol::DeviceIoControlMessage{id, 0x00228004, 64, {1, 2, 3, 4}});
}

std::int32_t StatusOf(const std::vector<std::uint8_t>& openedBody) {
    if (openedBody.size() != 5 || openedBody[0] != 0x81) {
        return 0x7fffffff;
    }
    return static_cast<std::int32_t>(openedBody[1] | (openedBody[2] << 8) | (openedBody[3] << 16) |
                                     (std::uint32_t(openedBody[4]) << 24));
}

struct RawCase {
    const char* legend;
    // Sends the hostile bytes on a fresh connection; false when the case itself went wrong.
    std::function<void(RawConnection&)> play;
    // The host is expected to close the connection by itself (otherwise the client closes it).
    bool hostCloses;
};

std::vector<std::uint8_t> RandomBytes(std::uint32_t seed, std::size_t count) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(random));
    }
    return bytes;
}

class ClientFaults : public HostileTest {};

TEST_F(ClientFaults, MalformedMessagesCloseOnlyTheirConnection) {
    StartSimulator({});
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(WarmUp());
    const RawCase cases[] = {
        {"a frame cut short, then the connection closes",
         [](RawConnection& c) {
             auto frame = OpenFrame();
             frame.resize(frame.size() - 3);
             EXPECT_TRUE(c.Send(frame));
             c.Close();
         },
         false},
        {"a length field of 4 GiB - 1",
         [](RawConnection& c) {
             c.Send({0xff, 0xff, 0xff, 0xff, 0x01, 0, 0, 0});
         },
         true},
        {"a length field of 0",
         [](RawConnection& c) {
             c.Send({0, 0, 0, 0, 0x01});
         },
         true},
        {"a length just over the limit, body never sent",
         [](RawConnection& c) {
             const std::uint32_t n = protocol::kMaxMessageSize + 1;
             c.Send({std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16),
                     std::uint8_t(n >> 24)});
         },
         true},
        {"an unknown message type",
         [](RawConnection& c) {
             c.Send(Frame({0x7e, 1, 2, 3}));
         },
         true},
        {"an answer's type sent to the host",
         [](RawConnection& c) {
             c.Send(Frame({0x81, 0, 0, 0, 0}));
         },
         true},
        {"64 KiB of random bytes",
         [](RawConnection& c) { c.Send(RandomBytes(20261206, 64 << 10)); }, true},
        {"a read before any open", [](RawConnection& c) { c.Send(ReadFrame(1)); }, true},
        {"an open of another protocol version: an error, then the close",
         [](RawConnection& c) {
             ASSERT_TRUE(c.Send(OpenFrame(7)));
             EXPECT_EQ(StatusOf(c.ReadFrame(kPatience)),
                       std::int32_t(HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH)));
         },
         true},
        {"a request id used again while its read is pending",
         [](RawConnection& c) {
             ASSERT_TRUE(c.Send(OpenFrame()));
             ASSERT_EQ(StatusOf(c.ReadFrame(kPatience)), S_OK);
             auto twice = ReadFrame(9);
             const auto again = ReadFrame(9);
             twice.insert(twice.end(), again.begin(), again.end());
             c.Send(twice);
         },
         true},
        {"an open, then a second open",
         [](RawConnection& c) {
             ASSERT_TRUE(c.Send(OpenFrame()));
             ASSERT_EQ(StatusOf(c.ReadFrame(kPatience)), S_OK);
             c.Send(OpenFrame());
         },
         true},
    };
    // A well-behaved client is subscribed all along and keeps getting positions.
    SensorSession witness(Socket());
    ASSERT_TRUE(witness.WaitForPositionOnTheDrive(kPatience)) << HostOutput();
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.legend);
        RawConnection raw(Socket());
        ASSERT_TRUE(raw.Connected());
        c.play(raw);
        if (c.hostCloses) {
            EXPECT_TRUE(raw.WaitForClose(kPatience)) << "the host closes the connection";
        }
        raw.Close();
        ASSERT_TRUE(HostAlive()) << HostOutput();
        EXPECT_NO_THROW(witness.State());
        EXPECT_TRUE(witness.WaitForPositionOnTheDrive(kPatience)) << HostOutput();
        // A new file opens and answers while the witness stays, once a raw reader the case
        // opened is cleaned up: the driver refuses every open while a raw stream runs, and its
        // queue ends the stream a little after the simulator sees the connection go.
        ASSERT_TRUE(WaitUntil([&] { return Hotspot().open_stream_connections() <= 1; }, kPatience));
        std::unique_ptr<SensorSession> fresh;
        ASSERT_TRUE(WaitUntil(
            [&] {
                try {
                    fresh = std::make_unique<SensorSession>(Socket());
                    return true;
                } catch (const client::DeviceError& error) {
                    if (error.GetKind() != client::DeviceError::Kind::kOpenRefused) {
                        throw;
                    }
                    return false;
                }
            },
            kPatience))
            << "the open is still refused after the raw reader has gone";
        EXPECT_NO_THROW(fresh->State());
    }
}

TEST_F(ClientFaults, MalformedMessagesLeaveNothingBehind) {
    StartSimulator({});
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(WarmUp());
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        RawConnection raw(Socket());
        // Half of them a sound open first, so the garbage meets an open file.
        if (seed % 2 == 0) {
            ASSERT_TRUE(raw.Send(OpenFrame()));
            ASSERT_EQ(StatusOf(raw.ReadFrame(kPatience)), S_OK);
        }
        raw.Send(RandomBytes(seed, 4096));
        raw.Close();
    }
    ExpectANewClientIsServedAndNothingIsLeft();
}

struct FloodCase {
    const char* legend;
    std::function<std::vector<std::uint8_t>(std::uint64_t id)> request;
};

// A client sends requests as fast as the socket takes them and never reads an answer. The host
// must keep serving others, keep its memory bounded, and be rid of it all once it goes.
TEST_F(ClientFaults, AFloodOfRequestsThatNeverReadsItsAnswersStaysBounded) {
    StartSimulator({});
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(WarmUp());
    const FloodCase cases[] = {
        {"device I/O control requests the driver refuses", ControlFrame},
        {"reads, which the driver holds until stream data comes", ReadFrame},
    };
    // Opened before the floods: while the read flood's file streams, the driver refuses
    // other opens (one raw reader at a time), so others are served through this file.
    auto witness = std::make_unique<SensorSession>(Socket());
    for (const FloodCase& c : cases) {
        SCOPED_TRACE(c.legend);
        RawConnection flood(Socket());
        ASSERT_TRUE(flood.Send(OpenFrame()));
        ASSERT_EQ(StatusOf(flood.ReadFrame(kPatience)), S_OK);
        std::vector<std::uint8_t> batch;
        std::uint64_t id = 1;
        std::size_t peakKiB = 0;
        std::size_t sentBytes = 0;
        const auto end = std::chrono::steady_clock::now() + 6s;
        bool hostClosed = false;
        while (std::chrono::steady_clock::now() < end && !hostClosed) {
            if (batch.empty()) {
                for (int i = 0; i < 256; ++i) {
                    const auto frame = c.request(id++);
                    batch.insert(batch.end(), frame.begin(), frame.end());
                }
            }
            const long taken = flood.SendSome(batch);
            if (taken < 0) {
                hostClosed = true;
                break;
            }
            sentBytes += static_cast<std::size_t>(taken);
            batch.erase(batch.begin(), batch.begin() + taken);
            if (taken == 0) {
                std::this_thread::sleep_for(5ms);
            }
            if (const auto now = ReadProcessMetrics(HostPid())) {
                peakKiB = std::max(peakKiB, now->residentKiB);
            }
        }
        std::cout << "[ flood    ] " << c.legend << ": " << sentBytes << " bytes sent, "
                  << (hostClosed ? "the host closed the connection" : "the connection open")
                  << ", host resident peak " << peakKiB << " KiB (baseline "
                  << baseline_->residentKiB << " KiB)\n";
        // Others are served meanwhile.
        EXPECT_NO_THROW(witness->State());
        EXPECT_TRUE(witness->WaitForPositionOnTheDrive(kPatience)) << HostOutput();
        EXPECT_LE(peakKiB, baseline_->residentKiB + 4 * kResidentToleranceKiB)
            << "the host's memory stays bounded under the flood";
        flood.Close();
        ASSERT_TRUE(HostAlive()) << HostOutput();
        ASSERT_TRUE(WaitUntil([&] { return Hotspot().open_stream_connections() <= 1; }, kPatience))
            << "the flooding file's raw stream ends with it; the witness's feed goes on";
    }
    witness.reset();
    ASSERT_TRUE(WaitForFeedToEnd());
    ExpectBackToBaseline();
    ExpectANewClientIsServedAndNothingIsLeft();
}

}  // namespace
}  // namespace zntr::test
