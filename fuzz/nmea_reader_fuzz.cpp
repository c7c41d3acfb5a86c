// The NMEA reader fed a sequence of texts, as the line sink feeds it: each text converted from
// the ANSI code page, then handed to ParseNMEAData of one parser that lives for the whole input.
//
// Input: texts separated by a backslash and any other character (a doubled backslash stands for
// one), as FuzzedDataProvider::ConsumeRandomLengthString cuts them.
//
// Beyond not crashing, it checks the framing against the rules the reader is built to:
// - the carried-over text is empty, or begins with "$" and holds no line feed;
// - an empty text returns no sentence and leaves the carried-over text as it was;
// - the code returned is that of the last sentence completed in this call (decoded on its own by
//   a second parser), or none when no sentence was completed;
// - the text carried over is what the framing rules leave: the unfinished sentence from its
//   "$" on (noise before it dropped), or nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "nmea_parser.h"
#include "nmea_text.h"

namespace {

// The longest text one call gets: the receive loop hands over at most its 1024-byte buffer.
constexpr std::size_t kLongestText = 1200;

struct Framing {
    std::optional<std::wstring> lastSentence;
    std::wstring pending;
};

// What carried-over text plus a new text frame into, by the framing rules: sentences from each
// "$" to the next line feed after it, and the unfinished one carried over.
Framing Frame(const std::wstring& pending, const std::wstring& text) {
    const std::wstring work = pending + text;
    Framing framing;
    std::size_t start = work.find(L'$');
    while (start != std::wstring::npos) {
        const std::size_t end = work.find(L'\n', start + 1);
        if (end == std::wstring::npos) {
            framing.pending = work.substr(start);
            break;
        }
        framing.lastSentence = work.substr(start, end - start);
        start = work.find(L'$', end);
    }
    return framing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = [] {
        zntr::fuzz::DropDebugOutput();
        gEnableLog = 1;
        return true;
    }();
    (void)once;

    FuzzedDataProvider provider(data, size);
    cNMEAParser parser;
    cNMEAParser loneSentenceParser;
    while (provider.remaining_bytes() > 0) {
        const std::string text = provider.ConsumeRandomLengthString(kLongestText);
        const std::wstring wide = AnsiTextToWide(text.c_str());
        const std::wstring pendingBefore = parser.mPendingData;
        const Framing expected = Frame(pendingBefore, wide);

        const NMEASentenceType code = parser.ParseNMEAData(wide);

        FUZZ_CHECK(code >= NMEA_NONE && code <= NMEA_PQXFI, "a known sentence code");
        const std::wstring& pending = parser.mPendingData;
        FUZZ_CHECK(pending.empty() ||
                       (pending.front() == L'$' && pending.find(L'\n') == std::wstring::npos),
                   "carried-over text is one unfinished sentence");
        if (wide.empty()) {
            FUZZ_CHECK(code == NMEA_NONE && pending == pendingBefore,
                       "an empty text changes nothing");
        } else {
            FUZZ_CHECK(pending == expected.pending, "the unfinished sentence is carried over");
            FUZZ_CHECK(code == (expected.lastSentence
                                    ? loneSentenceParser.ParseSentence(*expected.lastSentence)
                                    : NMEA_NONE),
                       "the code of the last completed sentence, or none");
        }
    }
    return 0;
}
