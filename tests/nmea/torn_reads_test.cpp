// The fix record seen from another thread: a reader that copies it under the parser's lock, as
// the reading update does (member by member, or through the accessors), while the receive thread
// decodes, sees the values of whole sentences only, never the latitude of one with the longitude
// or the time of another.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>

#include "critical_section_lock.h"
#include "nmea_parser.h"
#include "nmea_text.h"
#include "sentence.h"

namespace {

struct Fix {
    double time, latitude, longitude, altitude, errorRadius;
    bool operator==(const Fix&) const = default;
};

TEST(TornFixReads, AReaderUnderTheLockSeesWholeSentences) {
    cNMEAParser parser;
    const std::wstring sentences[] = {
        AnsiTextToWide(zntr::test::Sentence("PQXFI,1,1000.0,N,02000.0,E,1,1").c_str()),
        AnsiTextToWide(zntr::test::Sentence("PQXFI,2,3000.0,S,04000.0,W,2,2").c_str())};
    constexpr double kNo = NO_DOUBLE_VALUE;
    const Fix whole[] = {{kNo, kNo, kNo, kNo, kNo}, {1, 10, 20, 1, 1}, {2, -30, -40, 2, 2}};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (int i = 0; !done; ++i) {
            Fix seen{};
            if (i % 2 == 0) {
                parser.GetPQXFIData(seen.latitude, seen.longitude, seen.altitude, seen.time,
                                    seen.errorRadius);
            } else {
                cCriticalSectionLock lock(parser.mLock);
                seen = {parser.mUTCTime, parser.mLatitude, parser.mLongitude, parser.mAltitude,
                        parser.mErrorRadius};
            }
            torn += std::find(std::begin(whole), std::end(whole), seen) == std::end(whole);
            ++reads;
        }
    });
    // Decode until the reader has looked many times, however late it was scheduled.
    int decoded = 0;
    for (int i = 0; reads < 5000; ++i) {
        decoded += parser.ParseNMEAData(sentences[i % 2]) == NMEA_PQXFI;
    }
    done = true;
    reader.join();
    EXPECT_GT(decoded, 0);
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
}

}  // namespace
