#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace netrevia::inference {

// The free-format number grammar of list-directed input, shared by the data-file reader and the
// parameter fields of the window, so that a number means the same in both places:
//  - tokens are separated by blanks and tabs; a comma or a slash ends a token too;
//  - an integer is an optional sign and decimal digits;
//  - a real is an optional sign, digits with at most one decimal point (".5" and "5." are fine,
//    one digit at least), then optionally an exponent: E or D in either case, an optional sign
//    and digits;
//  - a value may carry a repeat prefix "r*" (decimal digits r, then a star).
// Independent of the C and C++ locales.

constexpr bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
// Characters that end an unquoted token (the end of the text or line ends it too).
constexpr bool ends_token(char c) noexcept { return is_blank(c) || c == ',' || c == '/'; }

// Position of the first character at or after pos that ends a token, or text.size().
std::size_t token_end(std::string_view text, std::size_t pos) noexcept;

// Length of a repeat prefix "r*" at the start of token (its digits and the star), 0 when the
// token has none.
std::size_t repeat_prefix_length(std::string_view token) noexcept;

// Decimal digits into an unsigned value; false when the text is not all digits or the value
// overflows 64 bits.
bool parse_unsigned(std::string_view digits, std::uint64_t& value) noexcept;

enum class NumberParse { ok, syntax, range };

// A whole token as an integer within 32 bits. value is set only on ok.
NumberParse parse_integer(std::string_view token, int& value) noexcept;

// A whole token as a real. A value beyond the range of double is a range error; one below the
// smallest subnormal becomes a zero of its sign, as the rounding of any tiny value would.
// value is set only on ok.
NumberParse parse_real(std::string_view token, double& value);

// One number from a text field: leading blanks skipped, the value ends at the next blank,
// comma or slash or at the end of the text and whatever follows is ignored ("2.5 abc" gives
// 2.5, "1,5" gives 1); a repeat prefix with a positive r may precede it ("3*0.5" gives 0.5);
// a null value (a comma or slash before any value, or "r*" directly followed by a separator)
// succeeds and leaves last_parsed unchanged. Fails on an empty or all-blank text and on a
// malformed or out-of-range value, and leaves last_parsed unchanged then; rarer forms (exponent
// letter Q, an exponent sign without a letter, quoted or logical values) count as malformed.
bool parse_free_format(std::string_view text, double& last_parsed);

// x with 15 significant digits in general numeric form:
// - fixed point when 0.1 - 0.5e-16 <= |x| < 1e15 - 0.5, with 15 minus the count of integer
//   digits as decimals (0.5 gives "0.500000000000000", 123.25 gives "123.250000000000"); the
//   range test applies to |x| rounded to 15 digits, so 0.09999999999999999 gives
//   "0.100000000000000". With no decimals left the point still ends the text
//   ("123456789012345.");
// - otherwise, zero included, scientific with one digit before the point, 15 after and a
//   three-digit exponent ("1.000000000000000E-006", "0.000000000000000E+000").
// Negative values carry a minus sign; negative zero shows as zero. Not-a-number shows as
// "NaN", infinities as "Infinity" and "-Infinity". Independent of the locales.
std::string display_format(double x);

}  // namespace netrevia::inference
