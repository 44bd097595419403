#include "inference/free_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace netrevia::inference {
namespace {

// The value a text gives, starting from a last parsed value that no example produces.
struct Parsed {
    bool ok;
    double value;
};
Parsed parse(std::string_view text, double last = -777.0) {
    const bool ok = parse_free_format(text, last);
    return {ok, last};
}

// Each text parses, to the value given. A blank, tab, comma or slash ends the value and
// whatever follows is not read, a repeat prefix included.
TEST(ParseFreeFormat, AcceptsNumbersUpToTheirTerminator) {
    const std::vector<std::pair<std::string, double>> cases{
        {"0", 0.0},
        {"-3", -3.0},
        {"0.5", 0.5},
        {".25", 0.25},
        {"5.", 5.0},
        {"1e-6", 1.0e-6},
        {"1.0D-3", 1.0e-3},
        {"1.0d-3", 1.0e-3},
        {"+2E+01", 20.0},
        {"0.000001", 1.0e-6},
        {"2.5 abc", 2.5},
        {"1,5", 1.0},
        {"7/8", 7.0},
        {"7/x", 7.0},
        {"3*0.5", 0.5},
        {"2*-1e2/", -100.0},
        {"010*4", 4.0},
        {"   -4.5   ", -4.5},
        {"\t3\tx", 3.0},
        {"1e-3" + std::string(252, ' '), 1.0e-3},  // the field buffer, blank-padded to 256
    };
    for (const auto& [text, value] : cases) {
        const Parsed result = parse(text);
        EXPECT_TRUE(result.ok) << '"' << text << '"';
        EXPECT_EQ(result.value, value) << '"' << text << '"';
    }
    EXPECT_EQ(token_end("ab/c d", 0), 2U);
    EXPECT_EQ(token_end("ab/c d", 3), 4U);
    EXPECT_EQ(token_end("a\tb", 0), 1U);
    EXPECT_EQ(token_end("abc", 1), 3U);
}

// A comma or slash before any value, or "r*" ended by one (or by a blank or the end), is a
// null value: it succeeds and keeps the value.
TEST(ParseFreeFormat, NullValuesKeepTheLastParsedValue) {
    for (const char* text : {",", "/", "3*,", "3*/", "  ,5", "  /5", "3*", "3* 9"}) {
        const Parsed result = parse(text, 4.25);
        EXPECT_TRUE(result.ok) << text;
        EXPECT_EQ(result.value, 4.25) << text;
    }
}

TEST(ParseFreeFormat, RejectsTextsWithoutAProperValue) {
    for (const char* text :
         {"",       "   ",   "\t",  "abc", "1.5x", "--1",   "+-1",  "-",     ".",
          "1..2",   "1.2.3", "e5",  "1e",  "1e+",  "1.0+5", "1q5",  "1E5.0", "'1'",
          ".true.", "0x10",  "inf", "nan", "0*5",  "00*5",  "-3*5", "*5",    "2*3*4"}) {
        const Parsed result = parse(text, 4.25);
        EXPECT_FALSE(result.ok) << '"' << text << '"';
        EXPECT_EQ(result.value, 4.25) << "a failed parse changed the value: " << text;
    }
}

// Overflow is told from underflow by the place of the first significant digit, also when the
// digits alone are out of range: 400 digits before the point overflow, after it underflow.
TEST(ParseFreeFormat, OverflowFailsAndUnderflowGivesSignedZero) {
    EXPECT_FALSE(parse("1e400").ok);
    EXPECT_FALSE(parse("-1.5D999999999999").ok);
    EXPECT_FALSE(parse("0.1e310").ok);
    EXPECT_FALSE(parse("1" + std::string(400, '0')).ok);
    EXPECT_FALSE(parse("0001" + std::string(400, '0') + "e-80").ok);

    const Parsed tiny = parse("-1e-400");
    EXPECT_TRUE(tiny.ok);
    EXPECT_EQ(tiny.value, 0.0);
    EXPECT_TRUE(std::signbit(tiny.value));
    const Parsed fraction = parse("0." + std::string(400, '0') + "1e20");
    EXPECT_TRUE(fraction.ok);
    EXPECT_EQ(fraction.value, 0.0);
    EXPECT_EQ(parse("1000e-325").value, 1.0e-322);  // subnormal, still representable
    EXPECT_EQ(parse("1.7976931348623157e308").value, std::numeric_limits<double>::max());
}

TEST(DisplayFormat, ScientificOutsideTheFixedRange) {
    EXPECT_EQ(display_format(1.0e-6), "1.000000000000000E-006");
    EXPECT_EQ(display_format(0.0), "0.000000000000000E+000");
    EXPECT_EQ(display_format(-0.0), "0.000000000000000E+000");
    EXPECT_EQ(display_format(-0.0025), "-2.500000000000000E-003");
    EXPECT_EQ(display_format(2.0e20), "2.000000000000000E+020");
    EXPECT_EQ(display_format(1.0e-3), "1.000000000000000E-003");
    EXPECT_EQ(display_format(1.0e15), "1.000000000000000E+015");
    EXPECT_EQ(display_format(std::numeric_limits<double>::max()), "1.797693134862316E+308");
    EXPECT_EQ(display_format(std::numeric_limits<double>::denorm_min()), "4.940656458412465E-324");
}

TEST(DisplayFormat, FixedWithFifteenSignificantDigits) {
    EXPECT_EQ(display_format(0.5), "0.500000000000000");
    EXPECT_EQ(display_format(1.0), "1.00000000000000");
    EXPECT_EQ(display_format(123.25), "123.250000000000");
    EXPECT_EQ(display_format(-2.0), "-2.00000000000000");
    EXPECT_EQ(display_format(0.1), "0.100000000000000");
    EXPECT_EQ(display_format(12345678901234.5), "12345678901234.5");
    EXPECT_EQ(display_format(123456789012345.0), "123456789012345.");
}

TEST(DisplayFormat, RangeBoundsApplyToTheRoundedValue) {
    // Rounds up to 0.1 at 15 digits: fixed.
    EXPECT_EQ(display_format(0.09999999999999999), "0.100000000000000");
    // Below 0.1 - 0.5e-16: scientific, with its 16 digits.
    EXPECT_EQ(display_format(0.09999999999999994), "9.999999999999994E-002");
    // Rounding to 15 digits carries into a new integer digit: one decimal fewer.
    EXPECT_EQ(display_format(9.9999999999999996), "10.0000000000000");
    EXPECT_EQ(display_format(0.99999999999999999), "1.00000000000000");
    // Just below 1e15 - 0.5 stays fixed; 1e15 - 0.5 itself is scientific.
    EXPECT_EQ(display_format(999999999999999.4), "999999999999999.");
    EXPECT_EQ(display_format(999999999999999.5), "9.999999999999995E+014");
}

TEST(DisplayFormat, NonFiniteValues) {
    EXPECT_EQ(display_format(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(display_format(std::numeric_limits<double>::infinity()), "Infinity");
    EXPECT_EQ(display_format(-std::numeric_limits<double>::infinity()), "-Infinity");
}

TEST(DisplayFormat, ParsesBackToTheSameTextAfterRoundTrip) {
    // The echo of a value typed in its own display form shows that form again.
    for (const char* text : {"1.000000000000000E-006", "123.250000000000", "-2.00000000000000",
                             "-2.500000000000000E-003", "0.500000000000000"}) {
        double value = 0.0;
        ASSERT_TRUE(parse_free_format(text, value)) << text;
        EXPECT_EQ(display_format(value), text);
    }
}

}  // namespace
}  // namespace netrevia::inference
