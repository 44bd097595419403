#include "inference/free_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace netrevia::inference {
namespace {

// The exponent of x > 0 after rounding to 15 significant digits.
int rounded_exponent(double x) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x,
                                      std::chars_format::scientific, 14);
    const std::string_view text(buffer.data(),
                                static_cast<std::size_t>(result.ptr - buffer.data()));
    std::size_t p = text.find('e') + 1;
    const bool negative = text[p] == '-';
    ++p;
    int exponent = 0;
    std::from_chars(text.data() + p, text.data() + text.size(), exponent);
    return negative ? -exponent : exponent;
}

}  // namespace

std::size_t token_end(std::string_view text, std::size_t pos) noexcept {
    while (pos < text.size() && !ends_token(text[pos])) ++pos;
    return std::min(pos, text.size());
}

std::size_t repeat_prefix_length(std::string_view token) noexcept {
    std::size_t digits = 0;
    while (digits < token.size() && is_digit(token[digits])) ++digits;
    return digits > 0 && digits < token.size() && token[digits] == '*' ? digits + 1 : 0;
}

bool parse_unsigned(std::string_view digits, std::uint64_t& value) noexcept {
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return result.ec == std::errc{} && result.ptr == digits.data() + digits.size();
}

NumberParse parse_integer(std::string_view token, int& value) noexcept {
    bool negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        negative = token[0] == '-';
        token.remove_prefix(1);
    }
    if (token.empty() || !std::all_of(token.begin(), token.end(), is_digit)) {
        return NumberParse::syntax;
    }
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = std::uint64_t{std::numeric_limits<int>::max()} + (negative ? 1 : 0);
    if (!parse_unsigned(token, magnitude) || magnitude > limit) return NumberParse::range;
    value = negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<int>(magnitude);
    return NumberParse::ok;
}

// The token is checked here and then handed to std::from_chars in that function's own syntax
// (no '+', exponent letter 'e'), which rounds correctly and ignores the locale.
NumberParse parse_real(std::string_view token, double& value) {
    std::string normal;
    normal.reserve(token.size());
    std::size_t pos = 0;
    bool negative = false;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
        negative = token[pos] == '-';
        if (negative) normal.push_back('-');
        ++pos;
    }
    // Decimal position of the first nonzero mantissa digit: d such that the mantissa lies in
    // [10^(d-1), 10^d). Used only to tell overflow from underflow, counted from the digits as
    // the mantissa alone may be out of range too (a long text).
    long long integer_digits = 0;  // significant digits before the point
    long long leading_fraction_zeros = 0;
    bool nonzero_seen = false;
    bool point_seen = false;
    int mantissa_digits = 0;
    for (; pos < token.size(); ++pos) {
        const char c = token[pos];
        if (c == '.' && !point_seen) {
            point_seen = true;
        } else if (is_digit(c)) {
            ++mantissa_digits;
            if (c != '0') nonzero_seen = true;
            if (!point_seen && nonzero_seen) ++integer_digits;
            if (point_seen && !nonzero_seen) ++leading_fraction_zeros;
        } else {
            break;
        }
        normal.push_back(c);
    }
    if (mantissa_digits == 0) return NumberParse::syntax;
    long long exponent = 0;
    if (pos < token.size()) {
        const char letter = token[pos];
        if (letter != 'E' && letter != 'e' && letter != 'D' && letter != 'd') {
            return NumberParse::syntax;
        }
        normal.push_back('e');
        ++pos;
        bool exponent_negative = false;
        if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
            exponent_negative = token[pos] == '-';
            normal.push_back(token[pos]);
            ++pos;
        }
        if (pos == token.size()) return NumberParse::syntax;
        for (; pos < token.size(); ++pos) {
            if (!is_digit(token[pos])) return NumberParse::syntax;
            normal.push_back(token[pos]);
            // Saturated: beyond a billion only the sign of the exponent matters.
            exponent = std::min(exponent * 10 + (token[pos] - '0'), 1'000'000'000'000LL);
        }
        if (exponent_negative) exponent = -exponent;
    }
    double parsed = 0.0;
    const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
    if (result.ec == std::errc::result_out_of_range) {
        // The value lies in [10^(d-1+e), 10^(d+e)): at least 1 is an overflow, below 1 an
        // underflow, which reads as zero.
        const long long magnitude =
            (integer_digits > 0 ? integer_digits : -leading_fraction_zeros) + exponent;
        if (magnitude > 0) return NumberParse::range;
        parsed = negative ? -0.0 : 0.0;
    } else if (result.ec != std::errc{} || result.ptr != normal.data() + normal.size()) {
        return NumberParse::syntax;
    }
    if (!std::isfinite(parsed)) return NumberParse::range;
    value = parsed;
    return NumberParse::ok;
}

bool parse_free_format(std::string_view text, double& last_parsed) {
    std::size_t begin = 0;
    while (begin < text.size() && is_blank(text[begin])) ++begin;
    if (begin == text.size()) return false;
    if (text[begin] == ',' || text[begin] == '/') return true;  // null value

    std::string_view item = text.substr(begin, token_end(text, begin) - begin);
    if (const std::size_t prefix = repeat_prefix_length(item); prefix > 0) {
        // Any positive count will do: a field holds one value, the rest are not read.
        if (item.substr(0, prefix - 1).find_first_not_of('0') == std::string_view::npos) {
            return false;
        }
        item.remove_prefix(prefix);
        if (item.empty()) return true;  // "r*" then a separator: r null values
    }
    return parse_real(item, last_parsed) == NumberParse::ok;
}

std::string display_format(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x < 0.0 ? "-Infinity" : "Infinity";

    std::string text = x < 0.0 ? "-" : "";
    const double magnitude = std::abs(x);
    std::array<char, 400> buffer{};
    char* const first = buffer.data();
    char* const last = first + buffer.size();

    if (magnitude != 0.0) {
        // Rounded to 15 digits, 0.1 - 0.5e-16 <= |x| < 1e15 - 0.5 means exponent -1 to 14.
        const int exponent = rounded_exponent(magnitude);
        if (exponent >= -1 && exponent <= 14) {
            const int decimals = 14 - exponent;
            const auto result =
                std::to_chars(first, last, magnitude, std::chars_format::fixed, decimals);
            text.append(first, result.ptr);
            if (decimals == 0) text += '.';
            return text;
        }
    }

    const auto result = std::to_chars(first, last, magnitude, std::chars_format::scientific, 15);
    const std::string_view scientific(first, static_cast<std::size_t>(result.ptr - first));
    const std::size_t e = scientific.find('e');
    text.append(scientific.substr(0, e));
    text += 'E';
    text += scientific[e + 1];  // exponent sign
    const std::string_view digits = scientific.substr(e + 2);
    text.append(3 - std::min<std::size_t>(3, digits.size()), '0');
    text.append(digits);
    return text;
}

}  // namespace netrevia::inference
