// The hotspot simulator, where a fault of its own would make the other tests lie: the status
// page's bytes, the faults of the page and the stream doing what they claim, and the connection
// counts the tests wait on. (The synthetic drive's sentences are pinned by the capture goldens of
// `zntr track`, and the positions the tests compare with by every process test that checks them.)
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "simulator/stream_faults.h"
#include "wait_until.h"
#include "world.h"

namespace zntr::hotspot {
namespace {

using namespace std::chrono_literals;
using test::RawConnection;
using test::WaitUntil;
using Clock = std::chrono::steady_clock;

const std::string E = "\x1b";
const std::string kRequest = "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\nHost: x\r\n\r\n";
const std::string kSentence = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n";

// The fields of a sentence framed "$BODY*HH\r\n" with HH the upper-case XOR of BODY, the type
// first; nothing when the framing or the checksum is wrong.
std::optional<std::vector<std::string>> Read(const std::string& text) {
    const std::size_t n = text.size();
    unsigned sum = 0;
    std::vector<std::string> fields{""};
    for (std::size_t i = 1; i + 5 < n; ++i) {
        sum ^= static_cast<unsigned char>(text[i]);
        text[i] == ',' ? fields.emplace_back() : fields.back() += text[i];
    }
    char end[8];
    std::snprintf(end, sizeof(end), "*%02X\r\n", sum);
    const bool framed = n > 6 && text[0] == '$' && text.find_first_of("$*", 1) == n - 5;
    return framed && text.ends_with(end) ? std::optional(fields) : std::nullopt;
}

std::string Ask(int port, const std::string& request = kRequest) {
    RawConnection client(port);
    client.Send(request);
    return client.Receive();
}

std::string Body(const std::string& answer) {
    return answer.substr(std::min(answer.find("\r\n\r\n") + 4, answer.size()));
}

TEST(StatusPage, TheAnswerCarriesTheStreamsEndpointInTheThreeKeys) {
    HotspotSimulator hotspot({});
    const std::string answer = Ask(hotspot.http_port());
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    EXPECT_EQ(Body(answer), "GPSEnable=1" + E + "WwIpaddr=127.0.0.1" + E +
                                "WwPort=" + std::to_string(hotspot.stream_port()) + E);
    EXPECT_EQ(hotspot.last_request(), kRequest);
    EXPECT_TRUE(Ask(hotspot.http_port(), "GET /x HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 404"));
}

// Each fault hits the first connection only. Times are checked from below: load only adds.
TEST(StatusPage, FaultsDoWhatTheyClaimOnTheFirstConnectionOnly) {
    using Check = std::function<void(const std::string& body, Clock::duration took)>;
    std::string plain;
    const std::tuple<const char*, std::function<void(SimulatorOptions&)>, Check> cases[] = {
        {"megabytes of filler lines before the keys",
         [](SimulatorOptions& o) { o.answer.filler_bytes = 3 << 20; },
         [&](const std::string& body, auto) {
             EXPECT_EQ(body.substr(0, 80), std::string(79, '.') + "\n");
             EXPECT_EQ(body.substr(3 << 20), plain) << "the keys last";
         }},
        {"random binary bytes, NUL and ESC among them, before the keys",
         [](SimulatorOptions& o) { o.answer.binary_bytes = 4096; },
         [&](const std::string& body, auto) {
             EXPECT_NE(body.substr(0, 4096).find('\0'), std::string::npos);
             EXPECT_NE(body.substr(0, 4096).find('\x1b'), std::string::npos);
             EXPECT_EQ(body.substr(4096), plain);
         }},
        {"the whole answer after a silence", [](SimulatorOptions& o) { o.timing.delay = 600ms; },
         [&](const std::string& body, Clock::duration took) {
             EXPECT_EQ(body, plain);
             EXPECT_GE(took, 600ms);
         }},
        {"the answer a byte every 5 ms", [](SimulatorOptions& o) { o.timing.byte_pause = 5ms; },
         [&](const std::string& body, Clock::duration took) {
             EXPECT_EQ(body, plain);
             EXPECT_GE(took, 5ms * static_cast<int>(body.size() + 100)) << "and the headers";
         }},
        {"the request read, no answer",
         [](SimulatorOptions& o) { o.http_fault = HttpFault::kCloseWithoutAnswer; },
         [](const std::string& body, auto) { EXPECT_EQ(body, ""); }},
    };
    for (const auto& [legend, fault, check] : cases) {
        SCOPED_TRACE(legend);
        SimulatorOptions options;
        fault(options);
        options.faulty_http_connections = 1;
        HotspotSimulator hotspot(options);
        plain = StatusBody({}, "127.0.0.1", hotspot.stream_port());
        const auto start = Clock::now();
        const std::string answer = Ask(hotspot.http_port());
        check(Body(answer), Clock::now() - start);
        EXPECT_EQ(Body(Ask(hotspot.http_port())), plain);
    }
}

TEST(StatusPage, ASilentPageHoldsItsConnectionUntilTheClientLeaves) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kSilent;
    options.faulty_http_connections = 1;
    HotspotSimulator hotspot(options);
    {
        RawConnection silent(hotspot.http_port());
        silent.Send(kRequest);
        EXPECT_TRUE(Ask(hotspot.http_port()).starts_with("HTTP/1.1 200")) << "only the first";
        EXPECT_EQ(silent.Receive(1, 0ms), "") << "never a byte";
        EXPECT_TRUE(WaitUntil([&] { return hotspot.open_http_connections() == 1; }, 5s));
    }
    EXPECT_TRUE(WaitUntil([&] { return hotspot.open_http_connections() == 0; }, 5s));
}

TEST(Stream, FaultsComeAtTheirShareKeepTheSentencesBytesAndEndWithTheFaultySentences) {
    StreamFaultOptions options;
    options.garbage_share = options.long_line_share = options.nul_share = 0.2;
    options.bad_checksum_share = 0.3;
    options.long_line_bytes = 5000;
    options.split_segments = true;
    options.faulty_sentences = 2000;
    options.seed = 7;
    StreamFaults faults(options), again(options);
    int bad = 0, front = 0, nuls = 0, longLines = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::vector<std::string> pieces = faults.Render(kSentence);
        EXPECT_EQ(pieces, again.Render(kSentence)) << "the same seed, the same faults";
        EXPECT_GE(pieces.size(), 2u) << "cut across segments";
        std::string bytes = std::accumulate(pieces.begin(), pieces.end(), std::string());
        const std::size_t before = bytes.size();
        std::erase(bytes, '\0');
        EXPECT_LE(before - bytes.size(), 4u) << "a run of one to four NUL bytes";
        const std::string sent = bytes.substr(bytes.rfind('$'));
        const std::string junk = bytes.substr(0, bytes.size() - sent.size());
        EXPECT_EQ(sent.substr(0, sent.size() - 4), kSentence.substr(0, kSentence.size() - 4));
        EXPECT_EQ(Read(sent).has_value(), sent == kSentence) << "a corrupted checksum is wrong";
        EXPECT_EQ(junk.find('$'), std::string::npos);
        // Garbage is short; a long line has no line feed.
        EXPECT_TRUE(junk.size() < 5000 ||
                    junk.substr(junk.size() - 5000).find('\n') == std::string::npos);
        nuls += bytes.size() < before;
        bad += sent != kSentence;
        front += !junk.empty();
        longLines += junk.size() >= 5000;
    }
    EXPECT_NEAR(bad / 2000.0, 0.3, 0.05);
    EXPECT_NEAR(nuls / 2000.0, 0.2, 0.05);
    EXPECT_NEAR(longLines / 2000.0, 0.2, 0.05);
    EXPECT_NEAR(front / 2000.0, 1 - 0.8 * 0.8, 0.05);
    EXPECT_EQ(faults.Render(kSentence), std::vector<std::string>{kSentence}) << "then clean";
}

TEST(Stream, EachConnectionHasItsStreamCountedWhileOpenCutOrPausedAsAsked) {
    SimulatorOptions drive = test::World::Simulator(0.05);
    drive.faults.close_after_sentences = 12;
    SimulatorOptions plain;
    plain.capture = kSentence + "$GPVTG,054.7,T,034.4,M*00\r\n";
    plain.capture_lines_per_second = 100;
    plain.faults.close_after_sentences = 10;
    SimulatorOptions split = plain, pausing = plain;
    split.faults.split_segments = true;
    pausing.capture = kSentence;
    pausing.faults.pause_after_sentences = 5;
    pausing.faults.pause = 800ms;
    HotspotSimulator hotspot(drive), whole(plain), pieces(split), paused(pausing);
    std::string first, second;
    {
        RawConnection a(hotspot.stream_port()), b(hotspot.stream_port());
        EXPECT_TRUE(WaitUntil([&] { return hotspot.open_stream_connections() == 2; }, 5s));
        first = a.Receive();
        second = b.Receive();
    }
    EXPECT_TRUE(WaitUntil([&] { return hotspot.open_stream_connections() == 0; }, 5s));
    EXPECT_TRUE(first == second && first.starts_with("$GPGGA,120000.00,")) << "from the start";
    EXPECT_EQ(hotspot.stream_bytes(0), first);
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 12) << "closed after 12 sentences";
    EXPECT_EQ(RawConnection(whole.stream_port()).Receive(),
              RawConnection(pieces.stream_port()).Receive());
    const auto start = Clock::now();
    RawConnection client(paused.stream_port());
    EXPECT_EQ(client.Receive(5 * kSentence.size()).size(), 5 * kSentence.size());
    EXPECT_EQ(client.Receive(1).size(), 1u);
    EXPECT_GE(Clock::now() - start, 800ms) << "the sixth sentence waits out the pause";
    EXPECT_EQ(client.Receive().size(), 5 * kSentence.size() - 1) << "and the stream goes on";
}

}  // namespace
}  // namespace zntr::hotspot
