// The JSON writing helpers: number formats fixed by the output contract, string escaping, and
// the code page conversions behind it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "json_output.h"

namespace {

using namespace zntr::tools;

std::string Double(double value) {
    std::string out;
    AppendJsonDouble(out, value);
    return out;
}

TEST(JsonOutputTest, DoublesPrintWith17SignificantDigitsAsPercentG) {
    EXPECT_EQ(Double(1.7976931348623157e308), "1.7976931348623157e+308");
    EXPECT_EQ(Double(0.9), "0.90000000000000002");
    EXPECT_EQ(Double(48.1173), "48.1173");
    EXPECT_EQ(Double(123519.0), "123519");
    EXPECT_EQ(Double(1e-7), "9.9999999999999995e-08");
    EXPECT_EQ(Double(-0.0), "-0");
    EXPECT_EQ(Double(std::numeric_limits<double>::infinity()), "\"inf\"");
    EXPECT_EQ(Double(-std::numeric_limits<double>::infinity()), "\"-inf\"");
    EXPECT_EQ(Double(std::nan("")), "\"nan\"");
    EXPECT_EQ(Double(-std::nan("")), "\"nan\"");
    char printf[32];
    for (const double value : {545.4, 11.516666666666667, 1e21, 123456789.125, 5e-324}) {
        std::snprintf(printf, sizeof(printf), "%.17g", value);
        EXPECT_EQ(Double(value), printf);
    }
}

TEST(JsonOutputTest, StringsAreEscapedAndConvertedToUtf8) {
    std::string out;
    AppendJsonString(out, AnsiToUtf8("Invalid \"x\"\\ \r\n\t\x01\x7F \xE9\x80"));
    EXPECT_EQ(out, "\"Invalid \\\"x\\\"\\\\ \\r\\n\\t\\u0001\x7F \xC3\xA9\xE2\x82\xAC\"");
    EXPECT_EQ(WideToUtf8(L"$GP\u00E9\u20AC"), "$GP\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD")
        << "a lone surrogate becomes U+FFFD";
    out.clear();
    AppendJsonInteger(out, -2147483648LL);
    EXPECT_EQ(out, "-2147483648");
}

}  // namespace
