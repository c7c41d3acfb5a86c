// The hotspot simulator: its status answer, its stream sources and faults, and both servers
// over real loopback connections.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sentence_reader.h"
#include "simulator/simulator.h"
#include "simulator/status_answer.h"
#include "simulator/stream_faults.h"
#include "simulator/stream_source.h"

namespace zntr::hotspot {
namespace {

using namespace std::chrono_literals;

const std::string ESC = "\x1b";

// A plain POSIX client on loopback.
class Client {
  public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        error_ = connected_ ? 0 : errno;
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }
    int error() const { return error_; }
    void Send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // One receive, waiting at most `timeout`; "" on timeout or end of stream.
    std::string ReceiveOnce(std::chrono::milliseconds timeout = 3000ms) {
        pollfd fd{fd_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) {
            return "";
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }
    // Everything until the peer closes (or `limit` bytes, or the timeout passes).
    std::string ReceiveAll(size_t limit = 1 << 20, std::chrono::milliseconds timeout = 5000ms) {
        std::string all;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (all.size() < limit && std::chrono::steady_clock::now() < deadline) {
            const std::string part = ReceiveOnce(200ms);
            if (part.empty() && Closed()) {
                break;
            }
            all += part;
        }
        return all;
    }

  private:
    bool Closed() {
        char byte;
        return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }
    int fd_;
    bool connected_ = false;
    int error_ = 0;
};

const std::string kRequest = "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\nHost: x\r\n\r\n";

TEST(StatusAnswerTest, TheBodyCarriesTheThreeKeysAsOptionsSay) {
    struct Case {
        const char* legend;
        StatusAnswerOptions options;
        std::string body;
    };
    StatusAnswerOptions disabled;
    disabled.gps_enable = "0";
    StatusAnswerOptions noAddress;
    noAddress.omit_address = true;
    StatusAnswerOptions noEsc;
    noEsc.esc = false;
    StatusAnswerOptions announced;
    announced.address = "10.0.0.9";
    announced.port = 4242;
    const Case cases[] = {
        {"defaults: the stream server's endpoint",
         {},
         "GPSEnable=1" + ESC + "WwIpaddr=127.0.0.1" + ESC + "WwPort=10110" + ESC},
        {"GPS disabled", disabled,
         "GPSEnable=0" + ESC + "WwIpaddr=127.0.0.1" + ESC + "WwPort=10110" + ESC},
        {"no address", noAddress, "GPSEnable=1" + ESC + "WwPort=10110" + ESC},
        {"values without ESC", noEsc, "GPSEnable=1\nWwIpaddr=127.0.0.1\nWwPort=10110\n"},
        {"announced values", announced,
         "GPSEnable=1" + ESC + "WwIpaddr=10.0.0.9" + ESC + "WwPort=4242" + ESC},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusBody(c.options, "127.0.0.1", 10110), c.body) << c.legend;
    }
    StatusAnswerOptions split;
    split.split_headers = true;
    const auto segments = StatusAnswerSegments(split, "127.0.0.1", 10110);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_TRUE(segments[0].ends_with("\r\n\r\n"));
    EXPECT_EQ(segments[0].find("WwPort="), std::string::npos) << "headers only";
    EXPECT_NE(segments[0].find("Content-Length: " + std::to_string(segments[1].size())),
              std::string::npos);
}

TEST(StatusAnswerTest, OnlyTheStatusPathIsAnswered) {
    EXPECT_TRUE(IsStatusRequest("GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\n"));
    EXPECT_TRUE(IsStatusRequest("GET /getGPSStatus.cgi HTTP/1.0\r\n"));
    EXPECT_FALSE(IsStatusRequest("GET /getGPSStatus.cgiX HTTP/1.1\r\n"));
    EXPECT_FALSE(IsStatusRequest("POST /getGPSStatus.cgi HTTP/1.1\r\n"));
    EXPECT_FALSE(IsStatusRequest("GET / HTTP/1.1\r\n"));
}

TEST(StreamFaultsTest, ACorruptedChecksumIsWellFormedAndWrong) {
    const std::string good = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n";
    for (int flip = 1; flip < 256; ++flip) {
        const std::string bad = CorruptChecksum(good, static_cast<uint8_t>(flip));
        testing::Parsed parsed;
        EXPECT_FALSE(testing::Read(bad, parsed)) << flip;
        EXPECT_EQ(bad.substr(0, bad.size() - 4), good.substr(0, good.size() - 4));
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(bad[bad.size() - 4])) &&
                    std::isxdigit(static_cast<unsigned char>(bad[bad.size() - 3])));
    }
    EXPECT_EQ(CorruptChecksum("$GPGLL,no checksum\r\n", 5), "$GPGLL,no checksum\r\n");
}

TEST(StreamFaultsTest, FaultsComeAtTheirShareAndKeepTheSentencesBytes) {
    const std::string sentence = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n";
    StreamFaultOptions options;
    options.bad_checksum_share = 0.3;
    options.garbage_share = 0.2;
    options.split_segments = true;
    options.seed = 7;
    StreamFaults faults(options);
    StreamFaults again(options);
    int bad = 0;
    int garbage = 0;
    constexpr int kSentences = 2000;
    for (int i = 0; i < kSentences; ++i) {
        const auto pieces = faults.Render(sentence);
        EXPECT_EQ(pieces, again.Render(sentence)) << "the same seed, the same faults";
        EXPECT_GE(pieces.size(), 2u);
        std::string bytes;
        for (const std::string& piece : pieces) {
            EXPECT_FALSE(piece.empty());
            bytes += piece;
        }
        const std::size_t dollar = bytes.find('$');
        ASSERT_NE(dollar, std::string::npos);
        EXPECT_EQ(bytes.find('\0'), std::string::npos);
        garbage += dollar > 0;
        const std::string sent = bytes.substr(dollar);
        EXPECT_EQ(sent.substr(0, sent.size() - 4), sentence.substr(0, sentence.size() - 4));
        bad += sent != sentence;
    }
    EXPECT_NEAR(bad / double(kSentences), 0.3, 0.05);
    EXPECT_NEAR(garbage / double(kSentences), 0.2, 0.05);
}

TEST(StreamSourceTest, ACaptureIsReplayedAtItsRecordedPaceAndLoops) {
    const std::string capture =
        "$GPGGA,120000.00,4648.0720,N,00708.4300,E,1,10,1.3,520.0,M,47.0,M,,*6B\r\n"
        "$GPGSA,A,3,02,05,,,,,,,,,,,2.4,1.3,2.1*3E\r\n"
        "$GPRMC,120001.50,A,4648.0720,N,00708.4300,E,30.0,64.2,051226,3.1,E,A*36\r\n"
        "$GPGLL,4648.0720,N,00708.4300,E,120003.50,A,A*69\r\n";
    auto replay = MakeCaptureReplay(capture, 0);
    const std::vector<std::string> lines = SplitLines(capture);
    const double pauses[] = {0.0, 0.0, 1.5, 2.0, 1.0 /* back to the start */, 0.0, 1.5};
    for (int i = 0; i < 7; ++i) {
        const PacedSentence next = replay->Next();
        EXPECT_EQ(next.text, lines[i % 4]) << i;
        EXPECT_DOUBLE_EQ(next.pause_seconds, pauses[i]) << i;
    }
    auto fixedRate = MakeCaptureReplay(capture, 20);
    EXPECT_DOUBLE_EQ(fixedRate->Next().pause_seconds, 0.0);
    EXPECT_DOUBLE_EQ(fixedRate->Next().pause_seconds, 0.05);
    EXPECT_THROW(MakeCaptureReplay("", 0), std::invalid_argument);
    EXPECT_EQ(SentenceTimeOfDay("$GPGLL,4648.0720,N,00708.4300,E,235959.99,A,A*69\r\n"), 86399.99);
    EXPECT_EQ(SentenceTimeOfDay("$GPVTG,64.2,T,61.1,M,30.0,N,55.6,K,A*20\r\n"), std::nullopt);
}

TEST(SimulatorTest, TheStatusPageAnswersWithTheStreamsEndpoint) {
    HotspotSimulator hotspot(SimulatorOptions{});
    Client client(hotspot.http_port());
    ASSERT_TRUE(client.connected());
    client.Send(kRequest);
    const std::string answer = client.ReceiveAll();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    EXPECT_TRUE(answer.ends_with("GPSEnable=1" + ESC + "WwIpaddr=127.0.0.1" + ESC +
                                 "WwPort=" + std::to_string(hotspot.stream_port()) + ESC))
        << answer;
    EXPECT_EQ(hotspot.last_request(), kRequest);

    Client other(hotspot.http_port());
    other.Send("GET /index.html HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(other.ReceiveAll().starts_with("HTTP/1.1 404")) << "other paths are not found";
}

TEST(SimulatorTest, SplitHeadersArriveInTwoReceives) {
    SimulatorOptions options;
    options.answer.split_headers = true;
    HotspotSimulator hotspot(options);
    Client client(hotspot.http_port());
    client.Send(kRequest);
    const std::string first = client.ReceiveOnce();
    EXPECT_TRUE(first.ends_with("\r\n\r\n")) << first;
    EXPECT_EQ(first.find("GPSEnable="), std::string::npos);
    EXPECT_TRUE(client.ReceiveOnce().starts_with("GPSEnable=1" + ESC));
}

TEST(SimulatorTest, NoAnswerFaultsCloseOrStaySilent) {
    SimulatorOptions closing;
    closing.http_fault = HttpFault::kCloseWithoutAnswer;
    HotspotSimulator closer(closing);
    Client a(closer.http_port());
    a.Send(kRequest);
    EXPECT_EQ(a.ReceiveAll(), "");

    SimulatorOptions silent;
    silent.http_fault = HttpFault::kSilent;
    HotspotSimulator quiet(silent);
    Client b(quiet.http_port());
    b.Send(kRequest);
    EXPECT_EQ(b.ReceiveOnce(300ms), "") << "nothing, and the connection stays open";
    EXPECT_EQ(quiet.http_connections(), 1);
}

TEST(SimulatorTest, ARefusingStatusPortRefusesUntilItAccepts) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kRefuse;
    HotspotSimulator hotspot(options);
    Client refused(hotspot.http_port());
    EXPECT_FALSE(refused.connected());
    EXPECT_EQ(refused.error(), ECONNREFUSED);
    hotspot.AcceptHttp();
    Client accepted(hotspot.http_port());
    EXPECT_TRUE(accepted.connected());
}

TEST(SimulatorTest, EachStreamConnectionGetsItsOwnStreamFromTheStart) {
    SimulatorOptions options;
    options.track.period_seconds = 0.05;
    options.faults.close_after_sentences = 12;
    HotspotSimulator hotspot(options);
    Client first(hotspot.stream_port());
    Client second(hotspot.stream_port());
    const std::string a = first.ReceiveAll();
    const std::string b = second.ReceiveAll();
    EXPECT_EQ(a, b);
    const std::vector<std::string> sentences = SplitLines(a);
    ASSERT_EQ(sentences.size(), 12u) << "closed after 12 sentences";
    testing::Parsed parsed;
    for (const std::string& sentence : sentences) {
        EXPECT_TRUE(testing::Read(sentence, parsed));
    }
    EXPECT_TRUE(sentences[0].starts_with("$GPGGA,120000.00,"));
    EXPECT_EQ(hotspot.stream_connections(), 2);
}

TEST(SimulatorTest, RecordsWhatEachStreamSentAndCountsOnlyOpenStreams) {
    SimulatorOptions options;
    options.track.period_seconds = 0.02;
    options.record_streams = true;
    HotspotSimulator hotspot(options);
    std::string received;
    {
        Client client(hotspot.stream_port());
        while (received.size() < 2000) {
            const std::string part = client.ReceiveOnce();
            ASSERT_FALSE(part.empty()) << "the stream stopped";
            received += part;
        }
        EXPECT_EQ(hotspot.open_stream_connections(), 1);
    }
    // The client is gone: the next writes fail and the connection is no longer served.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (hotspot.open_stream_connections() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(hotspot.open_stream_connections(), 0);
    const std::string sent = hotspot.stream_bytes(0);
    ASSERT_GE(sent.size(), received.size());
    EXPECT_EQ(sent.substr(0, received.size()), received);
    EXPECT_EQ(hotspot.stream_bytes(1), "") << "no second connection was made";
}

TEST(SimulatorTest, SplitSegmentsCarryTheSameBytes) {
    SimulatorOptions plain;
    plain.capture = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n$GPVTG,054.7,T,034.4,M*00\r\n";
    plain.capture_lines_per_second = 200;
    plain.faults.close_after_sentences = 10;
    SimulatorOptions split = plain;
    split.faults.split_segments = true;
    HotspotSimulator whole(plain);
    HotspotSimulator pieces(split);
    Client a(whole.stream_port());
    Client b(pieces.stream_port());
    EXPECT_EQ(a.ReceiveAll(), b.ReceiveAll());
}

TEST(StreamFaultsTest, LongLinesAndNulBytesComeAtTheirShareAndEndWithTheFaultySentences) {
    const std::string sentence = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n";
    StreamFaultOptions options;
    options.long_line_share = 0.3;
    options.long_line_bytes = 5000;
    options.nul_share = 0.2;
    options.faulty_sentences = 2000;
    options.seed = 11;
    StreamFaults faults(options);
    int longLines = 0;
    int nuls = 0;
    for (int i = 0; i < options.faulty_sentences; ++i) {
        std::string bytes = faults.Render(sentence).at(0);
        const std::size_t before = bytes.size();
        std::erase(bytes, '\0');
        const std::size_t removed = before - bytes.size();
        EXPECT_LE(removed, 4u) << "a run of one to four NUL bytes";
        nuls += removed > 0;
        // What is left: the sentence, after a line with neither a line feed nor a '$' when the
        // sentence has one in front.
        ASSERT_TRUE(bytes.ends_with(sentence)) << i;
        const std::string front = bytes.substr(0, bytes.size() - sentence.size());
        EXPECT_TRUE(front.empty() || front.size() == options.long_line_bytes) << front.size();
        EXPECT_EQ(front.find_first_of("$\n"), std::string::npos);
        longLines += !front.empty();
    }
    EXPECT_NEAR(longLines / double(options.faulty_sentences), 0.3, 0.05);
    EXPECT_NEAR(nuls / double(options.faulty_sentences), 0.2, 0.05);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(faults.Render(sentence), std::vector<std::string>{sentence})
            << "past the faulty sentences the stream is clean";
    }
}

TEST(SimulatorTest, AStreamThatPausesStaysOpenAndGoesOnWhereItStopped) {
    SimulatorOptions options;
    options.capture = "$GPGLL,4916.45,N,12311.12,W,225444,A*31\r\n";
    options.capture_lines_per_second = 100;
    options.faults.pause_after_sentences = 5;
    options.faults.pause = 800ms;
    options.faults.close_after_sentences = 8;
    HotspotSimulator hotspot(options);
    Client client(hotspot.stream_port());
    std::string received;
    const auto start = std::chrono::steady_clock::now();
    while (received.size() < 5 * 41 && std::chrono::steady_clock::now() - start < 3s) {
        received += client.ReceiveOnce(200ms);
    }
    EXPECT_EQ(received.size(), 5u * 41) << "five sentences before the pause";
    const auto paused = std::chrono::steady_clock::now();
    EXPECT_EQ(client.ReceiveOnce(400ms), "") << "silence, and the connection stays open";
    received += client.ReceiveAll();
    EXPECT_GE(std::chrono::steady_clock::now() - paused, 700ms);
    EXPECT_EQ(received.size(), 8u * 41) << "then the stream goes on to its end";
}

// The status page's faults, each on the first status connection only: the second connection
// gets the plain answer at once.
TEST(SimulatorTest, StatusPageFaultsHitTheFirstConnectionsOnly) {
    struct Case {
        const char* legend;
        std::function<void(SimulatorOptions&)> fault;
        std::function<void(const std::string& answer)> check;
    };
    const auto body = [](const std::string& answer) {
        const std::size_t end = answer.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : answer.substr(end + 4);
    };
    const auto declared = [](const std::string& answer) {
        const std::size_t at = answer.find("Content-Length: ");
        return at == std::string::npos ? std::size_t{0} : std::stoul(answer.substr(at + 16));
    };
    const Case cases[] = {
        {"megabytes of filler lines before the keys",
         [](SimulatorOptions& o) { o.answer.filler_bytes = 3 << 20; },
         [&](const std::string& answer) {
             const std::string b = body(answer);
             EXPECT_EQ(b.size(), declared(answer));
             EXPECT_GE(b.size(), std::size_t{3} << 20);
             EXPECT_EQ(b.substr(0, 80), std::string(79, '.') + "\n");
             EXPECT_EQ(b.find("GPSEnable="), std::size_t{3} << 20) << "the keys come last";
         }},
        {"random binary bytes (NUL and ESC among them) before the keys",
         [](SimulatorOptions& o) { o.answer.binary_bytes = 4096; },
         [&](const std::string& answer) {
             const std::string b = body(answer);
             EXPECT_EQ(b.size(), declared(answer));
             EXPECT_NE(b.substr(0, 4096).find('\0'), std::string::npos);
             EXPECT_NE(b.substr(0, 4096).find('\x1b'), std::string::npos);
             EXPECT_EQ(b.find("GPSEnable=1\x1b"), 4096u);
         }},
        {"the whole answer after a silence", [](SimulatorOptions& o) { o.timing.delay = 600ms; },
         [](const std::string& answer) { EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        SimulatorOptions options;
        c.fault(options);
        options.faulty_http_connections = 1;
        HotspotSimulator hotspot(options);
        Client faulty(hotspot.http_port());
        const auto start = std::chrono::steady_clock::now();
        faulty.Send(kRequest);
        const std::string answer = faulty.ReceiveAll(8 << 20, 10s);
        c.check(answer);
        if (options.timing.delay.count() > 0) {
            // The simulator's sleep is timed in whole milliseconds by poll().
            EXPECT_GE(std::chrono::steady_clock::now() - start, options.timing.delay - 5ms);
        }
        Client plain(hotspot.http_port());
        plain.Send(kRequest);
        const std::string second = plain.ReceiveAll();
        EXPECT_TRUE(second.ends_with("WwPort=" + std::to_string(hotspot.stream_port()) + ESC));
        EXPECT_LT(second.size(), 300u) << "no filler, no binary bytes";
    }
}

TEST(SimulatorTest, ATricklingAnswerComesOneByteAtATime) {
    SimulatorOptions options;
    options.timing.byte_pause = 30ms;
    HotspotSimulator hotspot(options);
    Client client(hotspot.http_port());
    client.Send(kRequest);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(client.ReceiveOnce().size(), 1u) << "receive " << i;
    }
    EXPECT_EQ(hotspot.open_http_connections(), 1);
}

TEST(SimulatorTest, ASilentStatusPageHoldsTheConnectionUntilTheClientLeaves) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kSilent;
    options.faulty_http_connections = 1;
    HotspotSimulator hotspot(options);
    {
        Client silent(hotspot.http_port());
        silent.Send(kRequest);
        EXPECT_EQ(silent.ReceiveOnce(300ms), "");
        EXPECT_EQ(hotspot.open_http_connections(), 1);
        Client answered(hotspot.http_port());
        answered.Send(kRequest);
        EXPECT_TRUE(answered.ReceiveAll().starts_with("HTTP/1.1 200"))
            << "only the first is silent";
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (hotspot.open_http_connections() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(hotspot.open_http_connections(), 0) << "the silent connection ends with its client";
}

}  // namespace
}  // namespace zntr::hotspot
