// `zntr decode --fields` (the default of `zntr decode`): a capture run through the driver's line
// sink into an initialised sensor with one subscribed client, reporting the sensor's data fields,
// state and events after each piece.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "decode_fix.h"

namespace zntr::tools {

struct DecodeFieldsOptions {
    // A readable line per event the subscribed client receives instead of JSON Lines.
    bool table = false;
    // The UTC date (a FILETIME count at midnight) that timestamps are given; the computer's
    // current date, as in the driver, when absent.
    std::optional<std::uint64_t> date;
};

// Writes one JSON object per piece of the input (split as for --fix):
// {"line":N,"state":S,"data_event":B,"state_event":B,"fields":{...},"log":[...]}, or the table.
// Returns 0; 1 when the input could not be read; 2 when the sensor could not be set up.
int RunDecodeFields(std::FILE* input, const DecodeFieldsOptions& options,
                    const DecodeOutput& output);

// The FILETIME count of midnight UTC of a "YYYY-MM-DD" date; nothing for a text that is no
// valid date.
std::optional<std::uint64_t> ParseDecodeDate(const char* text);

}  // namespace zntr::tools
