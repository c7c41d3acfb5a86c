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
    std::atomic<int> seenOf[std::size(whole)] = {};
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
            const auto* found = std::find(std::begin(whole), std::end(whole), seen);
            found == std::end(whole) ? ++torn : ++seenOf[found - whole];
        }
    });
    // Decode until the reader has seen each fix many times, however the threads are scheduled
    // (or it saw a torn one, or a bound of sentences is reached).
    int calls = 0;
    int decoded = 0;
    for (; (seenOf[1] < 2000 || seenOf[2] < 2000) && torn == 0 && calls < 50000000; ++calls) {
        decoded += parser.ParseNMEAData(sentences[calls % 2]) == NMEA_PQXFI;
    }
    done = true;
    reader.join();
    EXPECT_EQ(decoded, calls);
    EXPECT_EQ(torn.load(), 0) << "after " << calls << " sentences";
    EXPECT_GE(seenOf[1] + seenOf[2], 4000);
}

}  // namespace
