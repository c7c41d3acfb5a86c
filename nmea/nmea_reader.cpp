// The sentence reader: framing of the received text into sentences, the checksum test, and the
// dispatch of each sentence to its decoder by tag.
//
// The text arrives in pieces, as a rule one line each, but a sentence may be split over two
// pieces and a piece may hold several sentences or stray bytes. A sentence runs from a "$" to
// the next "\n"; whatever precedes a "$" is noise and is dropped, and an unfinished sentence at
// the end of a piece waits in mPendingData for the rest of it.
#include <string>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "nmea_parser.h"

namespace {

struct cSentenceDecoder {
    std::wstring_view mTag;
    NMEASentenceType mCode;
    void (cNMEAParser::*mDecode)(std::wstring_view fields);
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

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

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
        const size_t dollar = work.find(L'$', start);
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
    for (const cSentenceDecoder& decoder : kSentenceDecoders) {
        if (tag == decoder.mTag) {
            (this->*decoder.mDecode)(fields);
            return decoder.mCode;
        }
    }
    return NMEA_NONE;
}

bool cNMEAParser::VerifyChecksum(std::wstring_view sentence) {
    // The checksum covers the sentence's bytes in the thread's ANSI code page; for NMEA's ASCII
    // these are the bytes as received.
    char stackBytes[kChecksumBufferLength];
    std::string heapBytes;
    char* bytes = stackBytes;
    if (sentence.size() > sizeof(stackBytes)) {
        heapBytes.resize(sentence.size());
        bytes = heapBytes.data();
    }
    int converted = 0;
    if (!sentence.empty()) {
        converted = WideCharToMultiByte(CP_THREAD_ACP, 0, sentence.data(),
                                        static_cast<int>(sentence.size()), bytes,
                                        static_cast<int>(sentence.size()), nullptr, nullptr);
    }
    const std::string_view text(bytes, converted > 0 ? static_cast<size_t>(converted) : 0);

    const size_t star = text.rfind('*');
    if (star == std::string_view::npos) {
        return false;
    }
    std::string_view digits = text.substr(star + 1);
    const size_t first = digits.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return false;
    }
    digits = digits.substr(first, digits.find_last_not_of(kWhiteSpace) - first + 1);
    if (digits.size() != 2) {
        return false;
    }
    const char digitText[3] = {digits[0], digits[1], '\0'};
    const unsigned received = static_cast<unsigned>(strtol(digitText, nullptr, 16)) & 0xFFu;

    unsigned computed = 0;
    for (size_t i = 1; i < star; ++i) {
        computed ^= static_cast<unsigned char>(text[i]);
    }
    if (computed == received) {
        return true;
    }
    DebugLog("Invalid checksum: expect 0x%02X, received 0x%02X\n", computed, received);
    return false;
}
