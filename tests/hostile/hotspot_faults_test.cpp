// A faulty hotspot meets the host with the real driver: a status page that answers late, a byte
// at a time, never, with megabytes or with binary bytes, and a stream that sends garbage, bad
// checksums, very long lines without line feeds, NUL bytes, or stops for a while and resumes.
//
// The driver is not asked for more than it is made to do: its discovery has no timeout of its
// own (a blocking receive waits as long as the page is silent, and the last client's leaving
// ends the feed's thread), reads at most two receives of an answer, and takes a page without a
// readable "GPSEnable=" for a hotspot without a stream. What is checked is that the host lives
// through it, serves other clients meanwhile, and that once the fault is over a new client is
// served in full and the host holds no more threads, descriptors or memory than before.
#include <chrono>
#include <functional>
#include <thread>

#include "hostile_fixture.h"
#include "standin/sensors.h"

namespace zntr::test {
namespace {

using hotspot::HttpFault;
using hotspot::SimulatorOptions;

struct StatusPageCase {
    const char* legend;
    std::function<void(SimulatorOptions&)> fault;
    // The driver waits for a late answer and then streams as usual.
    bool streamsDespiteTheFault;
};

const StatusPageCase kStatusPageCases[] = {
    {"answers after a silence of 3 s", [](SimulatorOptions& o) { o.timing.delay = 3s; }, true},
    {"trickles its answer out a byte every 25 ms",
     [](SimulatorOptions& o) { o.timing.byte_pause = 25ms; }, false},
    {"accepts the request and never answers",
     [](SimulatorOptions& o) { o.http_fault = HttpFault::kSilent; }, false},
    {"answers with 4 MiB of filler before the keys",
     [](SimulatorOptions& o) { o.answer.filler_bytes = 4 << 20; }, false},
    {"answers with 64 KiB of random binary bytes before the keys",
     [](SimulatorOptions& o) { o.answer.binary_bytes = 64 << 10; }, false},
    {"closes without an answer (the driver falls back to the default endpoint)",
     [](SimulatorOptions& o) { o.http_fault = HttpFault::kCloseWithoutAnswer; }, true},
};

class HotspotFaults : public HostileTest {};

TEST_F(HotspotFaults, AFaultyStatusPageLeavesTheHostServingAndNothingBehind) {
    StartSimulator({});
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(WarmUp());
    for (const StatusPageCase& c : kStatusPageCases) {
        SCOPED_TRACE(c.legend);
        SimulatorOptions options;
        c.fault(options);
        options.faulty_http_connections = 1;  // the next feed meets a sound page
        StartSimulator(options);
        {
            SensorSession hostile(Socket());
            ASSERT_TRUE(WaitUntil([&] { return Hotspot().http_connections() == 1; }, kPatience))
                << "the first client's feed asks the status page";
            // Meanwhile the host answers others: a second client's requests are served.
            {
                SensorSession other(Socket());
                EXPECT_NO_THROW(other.State());
            }
            if (c.streamsDespiteTheFault) {
                EXPECT_TRUE(hostile.WaitForPositionOnTheDrive(kPatience)) << HostOutput();
            } else {
                // Let the fault play out; the client stays connected and answered.
                std::this_thread::sleep_for(2s);
                EXPECT_NO_THROW(hostile.State());
            }
        }
        ASSERT_TRUE(WaitForFeedToEnd()) << "the feed's thread ends with the last client, even "
                                           "while it waits for a silent page";
        ExpectANewClientIsServedAndNothingIsLeft();
        EXPECT_EQ(Hotspot().http_connections(), 2) << "one faulty exchange, one sound";
    }
}

struct StreamCase {
    const char* legend;
    std::function<void(hotspot::StreamFaultOptions&)> fault;
};

const StreamCase kStreamCases[] = {
    {"garbage before half the sentences", [](auto& f) { f.garbage_share = 0.5; }},
    {"bad checksums on half the sentences", [](auto& f) { f.bad_checksum_share = 0.5; }},
    {"a 5000-byte line without a line feed before a third of the sentences",
     [](auto& f) {
         f.long_line_share = 0.3;
         f.long_line_bytes = 5000;
     }},
    {"NUL bytes in a third of the sentences", [](auto& f) { f.nul_share = 0.3; }},
    {"all of it at once, cut across segments",
     [](auto& f) {
         f.garbage_share = 0.3;
         f.bad_checksum_share = 0.3;
         f.long_line_share = 0.2;
         f.nul_share = 0.2;
         f.split_segments = true;
     }},
};

// Each stream is faulty for its first 60 sentences (six epochs of the drive), then sound: the
// client that saw the fault gets positions on the drive where it ends.
TEST_F(HotspotFaults, AFaultyStreamIsLivedThroughAndPositionsComeWhereItEnds) {
    StartSimulator({});
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(WarmUp());
    for (const StreamCase& c : kStreamCases) {
        SCOPED_TRACE(c.legend);
        SimulatorOptions options;
        c.fault(options.faults);
        options.faults.faulty_sentences = 60;
        options.faults.seed = 5;
        StartSimulator(options);
        {
            SensorSession session(Socket());
            EXPECT_TRUE(session.WaitForPositionOnTheDrive(kPatience)) << HostOutput();
        }
        ASSERT_TRUE(WaitForFeedToEnd());
        ExpectBackToBaseline();
    }
    ExpectANewClientIsServedAndNothingIsLeft();
}

TEST_F(HotspotFaults, AStreamThatStopsAndResumesBringsPositionsBack) {
    SimulatorOptions options;
    options.faults.pause_after_sentences = 30;
    options.faults.pause = 5s;
    StartSimulator(options);
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(WarmUp());
    StartSimulator(options);
    {
        // The silence comes after the third epoch; positions come about every second before
        // it and again after it, with the stream.
        SensorSession session(Socket());
        auto last = std::chrono::steady_clock::now();
        bool resumedAfterSilence = false;
        for (int positions = 0; !resumedAfterSilence; ++positions) {
            ASSERT_TRUE(session.WaitForPositionOnTheDrive(kPatience))
                << "after " << positions << " positions\n"
                << HostOutput();
            const auto now = std::chrono::steady_clock::now();
            resumedAfterSilence = positions > 0 && now - last >= 4s;
            last = now;
        }
        EXPECT_EQ(session.State(), std::uint32_t{SENSOR_STATE_READY});
    }
    ASSERT_TRUE(WaitForFeedToEnd());
    ExpectANewClientIsServedAndNothingIsLeft();
}

}  // namespace
}  // namespace zntr::test
