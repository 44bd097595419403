#include "app/parameter_field.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "app/dialog_template.h"
#include "fake_dialog.h"

namespace netrevia::app {
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

TEST(ParseFreeFormat, AcceptsOrdinaryNumbers) {
    EXPECT_EQ(parse("0").value, 0.0);
    EXPECT_EQ(parse("-3").value, -3.0);
    EXPECT_EQ(parse("0.5").value, 0.5);
    EXPECT_EQ(parse(".25").value, 0.25);
    EXPECT_EQ(parse("5.").value, 5.0);
    EXPECT_EQ(parse("1e-6").value, 1.0e-6);
    EXPECT_EQ(parse("1.0D-3").value, 1.0e-3);
    EXPECT_EQ(parse("1.0d-3").value, 1.0e-3);
    EXPECT_EQ(parse("+2E+01").value, 20.0);
    EXPECT_EQ(parse("0.000001").value, 1.0e-6);
    for (const char* text : {"0", "-3", "0.5", ".25", "1e-6", "1.0D-3", "+2E+01"}) {
        EXPECT_TRUE(parse(text).ok) << text;
    }
}

TEST(ParseFreeFormat, ValueEndsAtBlankCommaOrSlash) {
    EXPECT_EQ(parse("2.5 abc").value, 2.5);
    EXPECT_EQ(parse("1,5").value, 1.0);
    EXPECT_EQ(parse("7/8").value, 7.0);
    EXPECT_EQ(parse("   -4.5   ").value, -4.5);
    // Tabs count as blanks on both sides of the value.
    EXPECT_EQ(parse("\t3\tx").value, 3.0);
    // The field buffer: the text blank-padded to 256 characters.
    std::string record = "1e-3";
    record.resize(256, ' ');
    EXPECT_EQ(parse(record).value, 1.0e-3);
}

TEST(ParseFreeFormat, RepeatPrefixGivesTheValue) {
    EXPECT_EQ(parse("3*0.5").value, 0.5);
    EXPECT_EQ(parse("2*-1e2").value, -100.0);
    EXPECT_FALSE(parse("0*5").ok);
    EXPECT_FALSE(parse("-3*5").ok);
    EXPECT_FALSE(parse("*5").ok);
    EXPECT_FALSE(parse("2*3*4").ok);
}

TEST(ParseFreeFormat, NullValuesKeepTheLastParsedValue) {
    for (const char* text : {",", "/", "3*,", "3*/", "  ,5", "3*", "3* 9"}) {
        const Parsed result = parse(text, 4.25);
        EXPECT_TRUE(result.ok) << text;
        EXPECT_EQ(result.value, 4.25) << text;
    }
}

TEST(ParseFreeFormat, RejectsTextsWithoutAProperValue) {
    for (const char* text :
         {"",   "   ", "\t",  "abc",   "1.5x", "--1",   "+-1", "-",      ".",    "1..2", "1.2.3",
          "e5", "1e",  "1e+", "1.0+5", "1q5",  "1E5.0", "'1'", ".true.", "0x10", "inf",  "nan"}) {
        const Parsed result = parse(text, 4.25);
        EXPECT_FALSE(result.ok) << '"' << text << '"';
        EXPECT_EQ(result.value, 4.25) << "a failed parse changed the value: " << text;
    }
}

TEST(ParseFreeFormat, OverflowFailsAndUnderflowGivesSignedZero) {
    EXPECT_FALSE(parse("1e400").ok);
    EXPECT_FALSE(parse("-1.5D999999999999").ok);
    EXPECT_FALSE(parse("0.1e310").ok);

    const Parsed tiny = parse("-1e-400");
    EXPECT_TRUE(tiny.ok);
    EXPECT_EQ(tiny.value, 0.0);
    EXPECT_TRUE(std::signbit(tiny.value));
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

class ParameterFieldsTest : public ::testing::Test {
protected:
    FakeDialog dialog;
    ParameterFields fields;
    void type(int id, std::string text) {
        dialog.type(id, std::move(text));
        fields.on_text_changed(dialog, id);
    }
};

TEST_F(ParameterFieldsTest, StartsWithZeroLambdaAndMicroThreshold) {
    EXPECT_EQ(fields.lambda(), 0.0);
    EXPECT_EQ(fields.threshold(), 1.0e-6);
}

TEST_F(ParameterFieldsTest, InvalidLambdaComplainsAndValidOneClearsTheComplaint) {
    type(kLambdaField, "2");
    type(kLambdaField, "abc");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "The input of Lambda is not proper!");
    EXPECT_EQ(dialog.visible(kMiddleStatusLine), "");
    EXPECT_EQ(fields.lambda(), 2.0);

    type(kLambdaField, "1e-3");
    EXPECT_EQ(fields.lambda(), 1.0e-3);
    EXPECT_EQ(dialog.visible(kMiddleStatusLine), "1.000000000000000E-003");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "");
}

TEST_F(ParameterFieldsTest, ThresholdEchoesInLowerLineAndAcceptsNegatives) {
    type(kThresholdField, "-0.25");
    EXPECT_EQ(fields.threshold(), -0.25);
    EXPECT_EQ(dialog.visible(kLowerStatusLine), "-0.250000000000000");
    EXPECT_EQ(dialog.visible(kMiddleStatusLine), "");

    type(kThresholdField, "");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "The input of threshold is not proper!");
    EXPECT_EQ(dialog.visible(kLowerStatusLine), "");
    EXPECT_EQ(fields.threshold(), -0.25);
}

TEST_F(ParameterFieldsTest, CommaOnlyThresholdStoresZeroNotTheInitialValue) {
    type(kThresholdField, ",");
    EXPECT_EQ(fields.threshold(), 0.0);
    EXPECT_EQ(dialog.visible(kLowerStatusLine), "0.000000000000000E+000");
}

TEST_F(ParameterFieldsTest, NullValueStoresTheLastParsedValueOfThatField) {
    type(kLambdaField, "5");
    type(kLambdaField, "junk");
    type(kThresholdField, "0.75");
    type(kLambdaField, "3*,");
    EXPECT_EQ(fields.lambda(), 5.0);
    EXPECT_EQ(fields.threshold(), 0.75);
}

TEST_F(ParameterFieldsTest, OnlyTheFirst256CharactersAreRead) {
    std::string text(255, ' ');
    text += "7";
    type(kLambdaField, text + "8");  // the 8 falls outside the buffer
    EXPECT_EQ(fields.lambda(), 7.0);
    type(kLambdaField, std::string(256, ' ') + "8");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "The input of Lambda is not proper!");
}

}  // namespace
}  // namespace netrevia::app
