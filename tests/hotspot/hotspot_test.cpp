// The hotspot simulator, where a fault of its own would make the other tests lie: the status
// page's bytes, the faults of the page and the stream doing what they claim, the connection
// counts the tests wait on, and the synthetic drive's sentences read back by a reader of their
// own to the positions the tests compare with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <regex>

#include "simulator/simulator.h"
#include "simulator/stream_faults.h"
#include "track/synthetic_track.h"
#include "wait_until.h"
#include "world.h"

namespace zntr::hotspot {
namespace {

using namespace std::chrono_literals;
using test::RawConnection;
using Clock = std::chrono::steady_clock;

const std::string E = "\x1b";
const std::string kRequest = "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\nHost: x\r\n\r\n";
const std::string kSentence = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n";

// The fields of a sentence framed "$BODY*HH\r\n" with HH the upper-case XOR of BODY, the type
// first; nothing when the framing or the checksum is wrong.
std::optional<std::vector<std::string>> Read(const std::string& text) {
    const std::size_t n = text.size();
    if (n < 6 || text[0] != '$' || text[n - 5] != '*' || !text.ends_with("\r\n")) {
        return std::nullopt;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < n - 5; ++i) {
        sum ^= static_cast<unsigned char>(text[i]);
    }
    char hex[3];
    std::snprintf(hex, sizeof(hex), "%02X", sum);
    if (text.compare(n - 4, 2, hex) != 0 || text.find_first_of("$*", 1) != n - 5) {
        return std::nullopt;
    }
    std::vector<std::string> fields{""};
    for (std::size_t i = 1; i < n - 5; ++i) {
        if (text[i] == ',') {
            fields.emplace_back();
        } else {
            fields.back().push_back(text[i]);
        }
    }
    return fields;
}

std::string Ask(int port, const std::string& request = kRequest) {
    RawConnection client(port);
    client.Send(request);
    return client.Receive();
}

TEST(StatusPage, TheAnswerCarriesTheThreeKeysAsTheOptionsSay) {
    StatusAnswerOptions disabled, noAddress, noEsc, announced, split;
    disabled.gps_enable = "0";
    noAddress.omit_address = true;
    noEsc.esc = false;
    announced.address = "10.0.0.9";
    announced.port = 4242;
    EXPECT_EQ(StatusBody({}, "127.0.0.1", 10110),
              "GPSEnable=1" + E + "WwIpaddr=127.0.0.1" + E + "WwPort=10110" + E);
    EXPECT_EQ(StatusBody(disabled, "127.0.0.1", 10110),
              "GPSEnable=0" + E + "WwIpaddr=127.0.0.1" + E + "WwPort=10110" + E);
    EXPECT_EQ(StatusBody(noAddress, "127.0.0.1", 10110), "GPSEnable=1" + E + "WwPort=10110" + E);
    EXPECT_EQ(StatusBody(noEsc, "127.0.0.1", 10110),
              "GPSEnable=1\nWwIpaddr=127.0.0.1\nWwPort=10110\n");
    EXPECT_EQ(StatusBody(announced, "127.0.0.1", 10110),
              "GPSEnable=1" + E + "WwIpaddr=10.0.0.9" + E + "WwPort=4242" + E);
    split.split_headers = true;
    const auto segments = StatusAnswerSegments(split, "127.0.0.1", 10110);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_TRUE(segments[0].starts_with("HTTP/1.1 200 OK\r\n") &&
                segments[0].ends_with("\r\n\r\n"));
    EXPECT_NE(segments[0].find("Content-Length: " + std::to_string(segments[1].size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(segments[1], StatusBody({}, "127.0.0.1", 10110));
}

TEST(StatusPage, TheServerAnswersItsPathWithTheStreamsEndpointAndNothingElse) {
    HotspotSimulator hotspot({});
    const std::string answer = Ask(hotspot.http_port());
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    EXPECT_TRUE(answer.ends_with("GPSEnable=1" + E + "WwIpaddr=127.0.0.1" + E +
                                 "WwPort=" + std::to_string(hotspot.stream_port()) + E));
    EXPECT_EQ(hotspot.last_request(), kRequest);
    EXPECT_TRUE(Ask(hotspot.http_port(), "GET /getGPSStatus.cgiX HTTP/1.1\r\n\r\n")
                    .starts_with("HTTP/1.1 404"));
    EXPECT_TRUE(Ask(hotspot.http_port(), "POST /getGPSStatus.cgi HTTP/1.1\r\n\r\n")
                    .starts_with("HTTP/1.1 404"));
}

// Each fault hits the first status connection only; the second gets the plain answer. Times
// are checked from below only: a loaded machine makes them longer, never shorter.
TEST(StatusPage, FaultsDoWhatTheyClaimOnTheFirstConnectionsOnly) {
    const auto body = [](const std::string& answer) {
        return answer.substr(answer.find("\r\n\r\n") + 4);
    };
    struct Case {
        const char* legend;
        std::function<void(SimulatorOptions&)> fault;
        std::function<void(const std::string& answer, Clock::duration took,
                           const std::string& plain)>
            check;
    };
    const Case cases[] = {
        {"megabytes of filler lines before the keys",
         [](SimulatorOptions& o) { o.answer.filler_bytes = 3 << 20; },
         [&](const std::string& answer, auto, auto&) {
             EXPECT_NE(
                 answer.find("Content-Length: " + std::to_string(body(answer).size()) + "\r\n"),
                 std::string::npos);
             EXPECT_EQ(body(answer).substr(0, 80), std::string(79, '.') + "\n");
             EXPECT_EQ(body(answer).find("GPSEnable="), std::size_t{3} << 20) << "keys last";
         }},
        {"random binary bytes (NUL and ESC among them) before the keys",
         [](SimulatorOptions& o) { o.answer.binary_bytes = 4096; },
         [&](const std::string& answer, auto, auto&) {
             EXPECT_NE(body(answer).substr(0, 4096).find('\0'), std::string::npos);
             EXPECT_NE(body(answer).substr(0, 4096).find('\x1b'), std::string::npos);
             EXPECT_EQ(body(answer).find("GPSEnable=1" + E), 4096u);
         }},
        {"the whole answer after a silence", [](SimulatorOptions& o) { o.timing.delay = 600ms; },
         [&](const std::string& answer, Clock::duration took, const std::string& plain) {
             EXPECT_EQ(body(answer), plain);
             EXPECT_GE(took, 600ms);
         }},
        {"the answer a byte every 5 ms", [](SimulatorOptions& o) { o.timing.byte_pause = 5ms; },
         [&](const std::string& answer, Clock::duration took, const std::string& plain) {
             EXPECT_EQ(body(answer), plain);
             EXPECT_GE(took, 5ms * static_cast<int>(answer.size() - 1));
         }},
        {"the request read, no answer",
         [](SimulatorOptions& o) { o.http_fault = HttpFault::kCloseWithoutAnswer; },
         [](const std::string& answer, auto, auto&) { EXPECT_EQ(answer, ""); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        SimulatorOptions options;
        c.fault(options);
        options.faulty_http_connections = 1;
        HotspotSimulator hotspot(options);
        const std::string plain = StatusBody({}, "127.0.0.1", hotspot.stream_port());
        const auto start = Clock::now();
        const std::string answer = Ask(hotspot.http_port());
        c.check(answer, Clock::now() - start, plain);
        EXPECT_EQ(body(Ask(hotspot.http_port())), plain);
    }
}

TEST(StatusPage, ASilentPageHoldsItsConnectionUntilTheClientLeavesAndARefusingOneRefuses) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kSilent;
    options.faulty_http_connections = 1;
    HotspotSimulator hotspot(options);
    {
        RawConnection silent(hotspot.http_port());
        silent.Send(kRequest);
        EXPECT_TRUE(Ask(hotspot.http_port()).starts_with("HTTP/1.1 200")) << "only the first";
        EXPECT_EQ(silent.Receive(1, 0ms), "") << "never a byte";
        EXPECT_TRUE(test::WaitUntil([&] { return hotspot.open_http_connections() == 1; }, 5s));
    }
    EXPECT_TRUE(test::WaitUntil([&] { return hotspot.open_http_connections() == 0; }, 5s));

    options.http_fault = HttpFault::kRefuse;
    HotspotSimulator refusing(options);
    EXPECT_THROW(RawConnection{refusing.http_port()}, std::runtime_error);
    refusing.AcceptHttp();
    EXPECT_NO_THROW(RawConnection{refusing.http_port()});
}

TEST(Stream, FaultsComeAtTheirShareKeepTheSentencesBytesAndEndWithTheFaultySentences) {
    StreamFaultOptions options;
    options.bad_checksum_share = 0.3;
    options.garbage_share = options.long_line_share = options.nul_share = 0.2;
    options.long_line_bytes = 5000;
    options.split_segments = true;
    options.faulty_sentences = 2000;
    options.seed = 7;
    StreamFaults faults(options), again(options);
    int bad = 0, front = 0, nuls = 0, longLines = 0;
    for (int i = 0; i < options.faulty_sentences; ++i) {
        const std::vector<std::string> pieces = faults.Render(kSentence);
        EXPECT_EQ(pieces, again.Render(kSentence)) << "the same seed, the same faults";
        EXPECT_GE(pieces.size(), 2u) << "cut across segments";
        std::string bytes;
        for (const std::string& piece : pieces) {
            bytes += piece;
        }
        const std::size_t before = bytes.size();
        std::erase(bytes, '\0');
        EXPECT_LE(before - bytes.size(), 4u) << "a run of one to four NUL bytes";
        nuls += bytes.size() < before;
        const std::string sent = bytes.substr(bytes.rfind('$'));
        const std::string junk = bytes.substr(0, bytes.size() - sent.size());
        EXPECT_EQ(sent.substr(0, sent.size() - 4), kSentence.substr(0, kSentence.size() - 4));
        bad += sent != kSentence;
        EXPECT_EQ(Read(sent).has_value(), sent == kSentence) << "a corrupted checksum is wrong";
        EXPECT_EQ(junk.find('$'), std::string::npos);
        front += !junk.empty();
        if (junk.size() >= 5000) {  // garbage is short; a long line has no line end
            ++longLines;
            EXPECT_EQ(junk.substr(junk.size() - 5000).find('\n'), std::string::npos);
        }
    }
    EXPECT_NEAR(bad / 2000.0, 0.3, 0.05);
    EXPECT_NEAR(nuls / 2000.0, 0.2, 0.05);
    EXPECT_NEAR(longLines / 2000.0, 0.2, 0.05);
    EXPECT_NEAR(front / 2000.0, 1 - 0.8 * 0.8, 0.05);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(faults.Render(kSentence), std::vector<std::string>{kSentence}) << "clean again";
    }
}

TEST(Stream, EachConnectionGetsTheDriveFromItsStartCountedWhileOpen) {
    SimulatorOptions options = test::World::Simulator(0.05);
    options.faults.close_after_sentences = 12;
    HotspotSimulator hotspot(options);
    std::string first, second;
    {
        RawConnection a(hotspot.stream_port()), b(hotspot.stream_port());
        EXPECT_TRUE(test::WaitUntil([&] { return hotspot.open_stream_connections() == 2; }, 5s));
        first = a.Receive();
        second = b.Receive();
    }
    EXPECT_TRUE(test::WaitUntil([&] { return hotspot.open_stream_connections() == 0; }, 5s));
    EXPECT_EQ(first, second);
    EXPECT_EQ(hotspot.stream_bytes(0), first);
    EXPECT_TRUE(first.starts_with("$GPGGA,120000.00,"));
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 12) << "closed after 12 sentences";
}

TEST(Stream, SegmentsCarryTheSameBytesAndAPauseHoldsTheRestBack) {
    SimulatorOptions plain;
    plain.capture = kSentence + "$GPVTG,054.7,T,034.4,M*00\r\n";
    plain.capture_lines_per_second = 100;
    plain.faults.close_after_sentences = 10;
    SimulatorOptions split = plain, pausing = plain;
    split.faults.split_segments = true;
    pausing.capture = kSentence;
    pausing.faults.pause_after_sentences = 5;
    pausing.faults.pause = 800ms;
    HotspotSimulator whole(plain), pieces(split), paused(pausing);
    EXPECT_EQ(RawConnection(whole.stream_port()).Receive(),
              RawConnection(pieces.stream_port()).Receive());
    const auto start = Clock::now();
    RawConnection client(paused.stream_port());
    EXPECT_EQ(client.Receive(5 * kSentence.size()).size(), 5 * kSentence.size());
    EXPECT_EQ(client.Receive(1).size(), 1u);
    EXPECT_GE(Clock::now() - start, 800ms) << "the sixth sentence waits out the pause";
    EXPECT_EQ(client.Receive().size(), 5 * kSentence.size() - 1) << "and the stream goes on";
}

// The drive the other tests check positions against: every sentence well formed, in order,
// and the fixes' times and positions those of the epoch; outage epochs have no fix.
TEST(SyntheticDrive, EverySentenceIsWellFormedAndTheFixesReadBackToTheEpoch) {
    TrackOptions options;
    options.outages = {{40, 43}};
    SyntheticTrack track(options);
    const auto degrees = [](const std::string& value, const std::string& hemisphere) {
        const std::size_t minutes = value.find('.') - 2;
        const double d =
            std::stod(value.substr(0, minutes)) + std::stod(value.substr(minutes)) / 60;
        return hemisphere == "S" || hemisphere == "W" ? -d : d;
    };
    int fixes = 0;
    for (int i = 0; i < 450; ++i) {
        const Epoch epoch = track.Next();
        std::vector<std::vector<std::string>> s;
        std::string types;
        for (const std::string& sentence : epoch.sentences) {
            const auto fields = Read(sentence);
            ASSERT_TRUE(fields) << sentence;
            s.push_back(*fields);
            types += fields->front() + " ";
        }
        ASSERT_TRUE(
            std::regex_match(types, std::regex("GPGGA GPGLL GPGSA (GPGSV )+GPRMC GPVTG PQXFI ")));
        ASSERT_EQ(s[0].size(), 15u);
        ASSERT_EQ(s[s.size() - 3].size(), 13u);
        const std::string& time = s[0][1];
        EXPECT_NEAR(std::stod(time.substr(0, 2)) * 3600 + std::stod(time.substr(2, 2)) * 60 +
                        std::stod(time.substr(4)),
                    epoch.seconds_of_day, 1e-6);
        EXPECT_EQ(s[0][6], epoch.has_fix ? "1" : "0");
        EXPECT_EQ(s[1][6] + s[s.size() - 3][2], epoch.has_fix ? "AA" : "VV");
        EXPECT_EQ(i >= 40 && i < 43, !epoch.has_fix);
        if (epoch.has_fix) {
            ++fixes;
            EXPECT_NEAR(degrees(s[0][2], s[0][3]), epoch.latitude, 1e-6);
            EXPECT_NEAR(degrees(s[0][4], s[0][5]), epoch.longitude, 1e-6);
            EXPECT_NEAR(degrees(s[1][1], s[1][2]), epoch.latitude, 1e-6);
            EXPECT_EQ(std::stoul(s[0][7]), epoch.used_prns.size());
        }
    }
    EXPECT_EQ(fixes, 447);
}

}  // namespace
}  // namespace zntr::hotspot
