// The sentence reader: framing of the received text into sentences, the checksum test, and the
// dispatch of each sentence to its decoder by tag.
//
// The text arrives in pieces, as a rule one line each, but a sentence may be split over two
// pieces and a piece may hold several sentences or stray bytes. A sentence runs from a "$" to
// the next "\n"; whatever precedes a "$" is noise and is dropped, and an unfinished sentence at
// the end of a piece waits in mPendingData for the rest of it.
#include <string>
#include <type_traits>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "nmea_parser.h"

namespace {

// A tag of six ASCII characters packed seven bits each into one integer, so that the table is
// searched by integer comparisons; 0 for any other text, which no known tag packs to.
constexpr unsigned long long TagKey(std::wstring_view tag) {
    if (tag.size() != 6) {
        return 0;
    }
    unsigned long long key = 0;
    for (const WCHAR c : tag) {
        if (static_cast<unsigned>(c) >= 0x80) {
            return 0;
        }
        key = key << 7 | static_cast<unsigned>(c);
    }
    return key;
}

struct cSentenceDecoder {
    std::wstring_view mTag;
    NMEASentenceType mCode;
    void (cNMEAParser::*mDecode)(std::wstring_view fields);
    unsigned long long mKey = TagKey(mTag);
};

// Tags are compared in this order, exactly and over the whole tag. Only the GP talker is known;
// the same sentence from another talker (GN, GL, ...) is an unknown tag.
constexpr cSentenceDecoder kSentenceDecoders[] = {
    {L"$GPGGA", NMEA_GPGGA, &cNMEAParser::ParseGGA},
    {L"$GPVTG", NMEA_GPVTG, &cNMEAParser::ParseVTG},
    {L"$GPRMC", NMEA_GPRMC, &cNMEAParser::ParseRMC},
    {L"$GPGLL", NMEA_GPGLL, &cNMEAParser::ParseGLL},
    {L"$GPGSA", NMEA_GPGSA, &cNMEAParser::ParseGSA},
    {L"$GPGSV", NMEA_GPGSV, &cNMEAParser::ParseGSV},
    {L"$PQXFI", NMEA_PQXFI, &cNMEAParser::ParsePQXFI},
};

// Sentences are short; a longer one is converted on the heap.
constexpr size_t kChecksumBufferLength = 1024;

}  // namespace

NMEASentenceType cNMEAParser::ParseNMEAData(std::wstring newText) {
    if (newText.empty()) {
        return NMEA_NONE;
    }
    std::wstring work;
    if (mPendingData.empty()) {
        work = std::move(newText);
    } else {
        work = std::move(mPendingData);
        work += newText;
    }
    mPendingData.clear();

    NMEASentenceType result = NMEA_NONE;
    size_t start = 0;  // the work text is work[start..]
    while (start < work.size()) {
        // As a rule the text is one sentence, its "$" first.
        const size_t dollar = work[start] == L'$' ? start : work.find(L'$', start);
        if (dollar == std::wstring::npos) {
            break;
        }
        // The "$" itself never ends a sentence, so the search for its end starts behind it.
        const size_t lineFeed = work.find(L'\n', dollar + 1);
        if (lineFeed == std::wstring::npos) {
            if (dollar == 0) {
                mPendingData = std::move(work);
            } else {
                mPendingData.assign(work, dollar);
            }
            break;
        }
        result = ParseSentence(std::wstring_view(work).substr(dollar, lineFeed - dollar));
        // The line feed stays at the front of the rest and is dropped with the next search.
        start = lineFeed;
    }
    work.clear();
    mSpareText.swap(work);
    return result;
}

NMEASentenceType cNMEAParser::ParseSentence(std::wstring_view sentence) {
    if (!VerifyChecksum(sentence)) {
        return NMEA_NONE;
    }
    const size_t comma = sentence.find(L',');
    if (comma == std::wstring_view::npos) {
        return NMEA_NONE;
    }
    const std::wstring_view tag = sentence.substr(0, comma);
    const std::wstring_view fields = sentence.substr(comma + 1);

    // Held across the decoding so that a reader taking mLock sees whole sentences only.
    cCriticalSectionLock lock(mLock);
    const unsigned long long key = TagKey(tag);
    for (const cSentenceDecoder& decoder : kSentenceDecoders) {
        if (key == decoder.mKey) {
            (this->*decoder.mDecode)(fields);
            return decoder.mCode;
        }
    }
    return NMEA_NONE;
}

namespace {

constexpr bool IsWhiteSpace(unsigned c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

constexpr int HexDigitValue(unsigned c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if ((c | 0x20u) >= 'a' && (c | 0x20u) <= 'f') {
        return static_cast<int>((c | 0x20u) - 'a' + 10);
    }
    return -1;
}

enum class ChecksumResult { kMatch, kMismatch, kMalformed, kNotAscii };

// The checksum test over the sentence's characters: the XOR of everything between the "$" and
// the last "*" against the two hexadecimal digits behind that "*", white space around them
// allowed. A wide text with a character outside ASCII is not tested (kNotAscii).
template <typename Char>
ChecksumResult TestChecksum(std::basic_string_view<Char> text, unsigned& computed,
                            unsigned& received) {
    using Unsigned = std::make_unsigned_t<Char>;
    const size_t star = text.rfind(Char('*'));
    const size_t covered = star == text.npos ? 0 : star;
    unsigned all = 0;
    computed = 0;
    for (size_t i = 0; i < covered; ++i) {
        const unsigned c = static_cast<Unsigned>(text[i]);
        computed ^= c;
        all |= c;
    }
    if (covered != 0) {
        computed ^= static_cast<Unsigned>(text[0]);  // the "$" is not covered
    }
    for (size_t i = covered; i < text.size(); ++i) {
        all |= static_cast<Unsigned>(text[i]);
    }
    if (sizeof(Char) > 1 && all >= 0x80) {
        return ChecksumResult::kNotAscii;
    }
    if (star == text.npos) {
        return ChecksumResult::kMalformed;
    }
    size_t first = star + 1;
    size_t last = text.size();
    while (first < last && IsWhiteSpace(static_cast<Unsigned>(text[first]))) {
        ++first;
    }
    while (last > first && IsWhiteSpace(static_cast<Unsigned>(text[last - 1]))) {
        --last;
    }
    if (last - first != 2) {
        return ChecksumResult::kMalformed;
    }
    const char digits[3] = {static_cast<char>(text[first]), static_cast<char>(text[first + 1]),
                            '\0'};
    const int high = HexDigitValue(static_cast<unsigned char>(digits[0]));
    const int low = HexDigitValue(static_cast<unsigned char>(digits[1]));
    // Two plain digits directly; strtol's reading with base 16 for the rest (a sign, no digit).
    received = high >= 0 && low >= 0 ? static_cast<unsigned>(high * 16 + low)
                                     : static_cast<unsigned>(strtol(digits, nullptr, 16)) & 0xFFu;
    return computed == received ? ChecksumResult::kMatch : ChecksumResult::kMismatch;
}

}  // namespace

// The checksum covers the sentence's bytes in the thread's ANSI code page. Every ANSI code page
// keeps ASCII as it is, so a sentence of ASCII characters only (the common case) is tested on
// its own characters; any other is converted first.
bool cNMEAParser::VerifyChecksum(std::wstring_view sentence) {
    unsigned computed = 0;
    unsigned received = 0;
    ChecksumResult result = TestChecksum(sentence, computed, received);
    if (result == ChecksumResult::kNotAscii) {
        char stackBytes[kChecksumBufferLength];
        std::string heapBytes;
        char* bytes = stackBytes;
        if (sentence.size() > sizeof(stackBytes)) {
            heapBytes.resize(sentence.size());
            bytes = heapBytes.data();
        }
        const int converted = WideCharToMultiByte(
            CP_THREAD_ACP, 0, sentence.data(), static_cast<int>(sentence.size()), bytes,
            static_cast<int>(sentence.size()), nullptr, nullptr);
        result = TestChecksum(
            std::string_view(bytes, converted > 0 ? static_cast<size_t>(converted) : 0), computed,
            received);
    }
    if (result == ChecksumResult::kMatch) {
        return true;
    }
    if (result == ChecksumResult::kMismatch) {
        DebugLog("Invalid checksum: expect 0x%02X, received 0x%02X\n", computed, received);
    }
    return false;
}
