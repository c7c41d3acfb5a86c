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
//   a second parser), or none when no sentence was completed.
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

// The last sentence that carried-over text plus a new text completes, by the framing rules:
// from each "$" to the next line feed after it.
std::optional<std::wstring> LastCompletedSentence(const std::wstring& pending,
                                                  const std::wstring& text) {
    const std::wstring work = pending + text;
    std::optional<std::wstring> last;
    std::size_t start = work.find(L'$');
    while (start != std::wstring::npos) {
        const std::size_t end = work.find(L'\n', start + 1);
        if (end == std::wstring::npos) {
            break;
        }
        last = work.substr(start, end - start);
        start = work.find(L'$', end);
    }
    return last;
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
        const std::optional<std::wstring> expected = LastCompletedSentence(pendingBefore, wide);

        const NMEASentenceType code = parser.ParseNMEAData(wide);

        FUZZ_CHECK(code >= NMEA_NONE && code <= NMEA_PQXFI, "a known sentence code");
        const std::wstring& pending = parser.mPendingData;
        FUZZ_CHECK(pending.empty() ||
                       (pending.front() == L'$' && pending.find(L'\n') == std::wstring::npos),
                   "carried-over text is one unfinished sentence");
        if (wide.empty()) {
            FUZZ_CHECK(code == NMEA_NONE && pending == pendingBefore,
                       "an empty text changes nothing");
        } else if (!expected) {
            FUZZ_CHECK(code == NMEA_NONE, "no completed sentence, no code");
        } else {
            FUZZ_CHECK(code == loneSentenceParser.ParseSentence(*expected),
                       "the code of the last completed sentence");
        }
    }
    return 0;
}
