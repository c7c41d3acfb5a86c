#include "mixed_corpus.h"

#include "track/synthetic_track.h"

namespace zntr::bench {

std::vector<std::string> MixedCorpus(bool withPqxfiAndDummy, std::size_t count) {
    std::vector<std::string> lines;
    zntr::hotspot::SyntheticTrack track;
    for (int epoch = 0; count != 0 ? lines.size() < count : epoch < 600; ++epoch) {
        for (const std::string& sentence : track.Next().sentences) {
            const std::string tag = sentence.substr(0, 6);
            if (tag == "$GPGGA" || tag == "$GPGSA" || tag == "$GPGSV" || tag == "$GPRMC" ||
                tag == "$GPVTG" || (withPqxfiAndDummy && tag == "$PQXFI")) {
                lines.push_back(sentence);
                if (withPqxfiAndDummy && lines.size() % 7 == 6) {
                    lines.push_back("Dummy");
                }
            }
        }
    }
    if (count != 0) {
        lines.resize(count);
    }
    return lines;
}

}  // namespace zntr::bench
