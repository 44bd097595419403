#include "app/parameter_field.h"

#include <gtest/gtest.h>

#include <string>

#include "app/dialog_template.h"
#include "fake_dialog.h"

namespace netrevia::app {
namespace {

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

// A decimal comma is refused, a comma that separates values is not; a value beyond the range
// of a double is told apart from a malformed one, also behind a repeat prefix.
TEST(ParseField, DecimalCommaRangeAndEmptyTextsAreToldApart) {
    struct Case {
        const char* text;
        FieldProblem problem;
        double value;  // last_parsed after the parse, from 7
    };
    for (const Case& c : std::initializer_list<Case>{{"0.39", FieldProblem::none, 0.39},
                                                     {"1, 5", FieldProblem::none, 1.0},
                                                     {"2.5,3", FieldProblem::none, 2.5},
                                                     {",", FieldProblem::none, 7.0},
                                                     {"0,39", FieldProblem::decimal_comma, 7.0},
                                                     {" -1,5e-3", FieldProblem::decimal_comma, 7.0},
                                                     {",5", FieldProblem::decimal_comma, 7.0},
                                                     {"1e400", FieldProblem::out_of_range, 7.0},
                                                     {"3*-1e400", FieldProblem::out_of_range, 7.0},
                                                     {"  1e400 x", FieldProblem::out_of_range, 7.0},
                                                     {"1e-400", FieldProblem::none, 0.0},
                                                     {"   ", FieldProblem::empty, 7.0},
                                                     {"1e", FieldProblem::malformed, 7.0},
                                                     {"0*5", FieldProblem::malformed, 7.0}}) {
        double value = 7.0;
        EXPECT_EQ(parse_field(c.text, value), c.problem) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    std::uint64_t seed = 7;
    EXPECT_EQ(parse_seed(" 42 ", seed), FieldProblem::none);
    EXPECT_EQ(seed, 42u);
    EXPECT_EQ(parse_seed("18446744073709551615", seed), FieldProblem::none);
    EXPECT_EQ(seed, 18446744073709551615u);
    EXPECT_EQ(parse_seed("18446744073709551616", seed), FieldProblem::out_of_range);
    EXPECT_EQ(parse_seed(" ", seed), FieldProblem::empty);
    for (const char* bad : {"-1", "1e3", "4 2", "+3", "x"}) {
        EXPECT_EQ(parse_seed(bad, seed), FieldProblem::malformed) << bad;
    }
    EXPECT_EQ(seed, 18446744073709551615u);
}

}  // namespace
}  // namespace netrevia::app
