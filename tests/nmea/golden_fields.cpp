// The field goldens: each capture of tests/data/fields run through the driver's line sink into an
// initialised sensor with one subscribed client, in process, as `zntr decode --fields --date
// 2024-03-23` runs it, and compared with its reviewed output: the data fields, the state and the
// events after each line.
#include <gtest/gtest.h>

#include <filesystem>

#include "decode_fields.h"
#include "golden_captures.h"

namespace {

using zntr::test::GoldenCapture;

const std::filesystem::path kFields = std::filesystem::path(ZNTR_TEST_DATA) / "fields";

class FieldGolden : public testing::TestWithParam<GoldenCapture> {};

TEST_P(FieldGolden, UpdatesTheSensorAsReviewed) {
    zntr::tools::DecodeFieldsOptions options;
    options.date = zntr::tools::ParseDecodeDate("2024-03-23");
    const std::string differs =
        zntr::test::CheckGoldenCapture(GetParam(), [&](std::FILE* file, const auto& write) {
            return zntr::tools::RunDecodeFields(file, options, write);
        });
    EXPECT_EQ(differs, "");
}

INSTANTIATE_TEST_SUITE_P(Captures, FieldGolden,
                         testing::ValuesIn(zntr::test::GoldenCaptures("fields", kFields, ".nmea",
                                                                      kFields, ".fields.jsonl")),
                         [](const auto& test) { return test.param.name; });

}  // namespace
