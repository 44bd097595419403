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

}  // namespace
}  // namespace netrevia::app
