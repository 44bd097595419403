#include "output/matrix_file.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "tests/output/test_support.h"

namespace netrevia::output {
namespace {

using testing::InTempDir;
using testing::matches_golden;
using testing::read_bytes;
using testing::worked_example;

const std::string kAsterisks(25, '*');

std::string right_justified(const std::string& text) {
    return std::string(25 - text.size(), ' ') + text;
}

TEST(MatrixField, FixedPointWithTwelveDecimalsRightJustified) {
    EXPECT_EQ(format_matrix_field(0.0), std::string(11, ' ') + "0.000000000000");
    EXPECT_EQ(format_matrix_field(-1.5), std::string(10, ' ') + "-1.500000000000");
    EXPECT_EQ(format_matrix_field(0.0123456789012345), std::string(11, ' ') + "0.012345678901");
    EXPECT_EQ(format_matrix_field(2.0 / 3.0), right_justified("0.666666666667"));
    EXPECT_EQ(format_matrix_field(123456.0), right_justified("123456.000000000000"));
}

TEST(MatrixField, AsterisksExactlyWhenTextExceedsTwentyFiveCharacters) {
    EXPECT_EQ(format_matrix_field(1e12), kAsterisks);
    EXPECT_EQ(format_matrix_field(-1e11), kAsterisks);
    EXPECT_EQ(format_matrix_field(1e300), kAsterisks);
    EXPECT_EQ(format_matrix_field(-std::numeric_limits<double>::max()), kAsterisks);
    // The largest texts that fit, 25 characters each: the binary values' exact digits.
    EXPECT_EQ(format_matrix_field(999999999999.99), "999999999999.989990234375");
    EXPECT_EQ(format_matrix_field(-99999999999.99), "-99999999999.990005493164");
}

TEST(MatrixField, NonFiniteSpelledOutAndNegativeZeroKeepsSign) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(format_matrix_field(nan), right_justified("NaN"));
    EXPECT_EQ(format_matrix_field(-nan), right_justified("NaN"));
    EXPECT_EQ(format_matrix_field(inf), right_justified("Infinity"));
    EXPECT_EQ(format_matrix_field(-inf), right_justified("-Infinity"));
    EXPECT_EQ(format_matrix_field(-0.0), right_justified("-0.000000000000"));
    EXPECT_EQ(format_matrix_field(-4e-13), right_justified("-0.000000000000"));
    EXPECT_EQ(format_matrix_field(4e-13), right_justified("0.000000000000"));
    EXPECT_EQ(format_matrix_field(6e-13), right_justified("0.000000000001"));
}

// The C library's "%25.12f" is an independent, exactly rounding implementation of the same
// format; every value that fits must come out the same, across all magnitudes.
TEST(MatrixField, AgreesWithCFixedFormat) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::mt19937_64 random(20240607);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-16, 11);
    std::array<char, 400> expected{};
    for (int k = 0; k < 20000; ++k) {
        const double value = mantissa(random) * std::pow(10.0, exponent(random));
        const int length = std::snprintf(expected.data(), expected.size(), "%25.12f", value);
        const std::string field = format_matrix_field(value);
        ASSERT_EQ(field, length <= 25 ? std::string(expected.data()) : kAsterisks) << value;
    }
}

// The window's toolkit sets LC_NUMERIC from the environment; a decimal comma there must not
// reach the file.
TEST(MatrixField, IgnoresDecimalCommaOfProcessLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* comma_locale = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            comma_locale = name;
            break;
        }
    }
    if (comma_locale == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
    const std::string field = format_matrix_field(-1.5);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(field, right_justified("-1.500000000000")) << "under " << comma_locale;
}

TEST(MatrixFormat, RowsBecomeLinesOfFieldsWithCrLf) {
    // R(i,j) = 10 i + j inside a 4-row array whose unused row holds NaN: it must not show.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::array<double, 12> data{11, 21, 31, nan, 12, 22, 32, nan, 13, 23, 33, nan};
    std::ostringstream out;
    format_matrix(out, {data.data(), 4}, 3);
    std::string expected;
    for (const char* row : {"1", "2", "3"}) {
        for (const char* column : {"1", "2", "3"}) {
            expected += right_justified(std::string(row) + column + ".000000000000");
        }
        expected += "\r\n";
    }
    EXPECT_EQ(out.str(), expected);
    EXPECT_EQ(out.str().size(), 3u * (75u + 2u));
}

TEST(MatrixFormat, NoGenesGiveNoBytes) {
    std::ostringstream out;
    format_matrix(out, {nullptr, 0}, 0);
    EXPECT_TRUE(out.str().empty());
}

TEST_F(InTempDir, MatrixFileMatchesGolden) {
    write_matrix_file(dir(), worked_example(), 3);
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dat"), "worked_example.dat"));
    EXPECT_EQ(testing::entries(dir()), std::vector<std::string>{"GRN.dat"});
}

TEST_F(InTempDir, MatrixFileReplacesOldContent) {
    testing::write_bytes(dir() / "GRN.dat", std::string(1000, 'x'));
    const double half = 0.5;
    write_matrix_file(dir(), {&half, 1}, 1);
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), right_justified("0.500000000000") + "\r\n");
    write_matrix_file(dir(), {&half, 1}, 1);
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), right_justified("0.500000000000") + "\r\n");
    write_matrix_file(dir(), {nullptr, 0}, 0);
    EXPECT_TRUE(std::filesystem::exists(dir() / "GRN.dat"));
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "");
    EXPECT_EQ(testing::entries(dir()), std::vector<std::string>{"GRN.dat"});
}

}  // namespace
}  // namespace netrevia::output
