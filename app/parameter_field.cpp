#include "app/parameter_field.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "app/dialog.h"
#include "app/dialog_template.h"

namespace netrevia::app {
namespace {

constexpr bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }
constexpr bool is_separator(char c) noexcept { return is_blank(c) || c == ',' || c == '/'; }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// One value without repeat prefix and without separators around it. The text is checked
// here and then handed to from_chars in its own syntax: no '+' and 'e' as exponent letter.
bool parse_value(std::string_view item, double& value) {
    std::string number;
    std::size_t p = 0;
    const std::size_t n = item.size();
    bool negative = false;
    if (p < n && (item[p] == '+' || item[p] == '-')) {
        negative = item[p] == '-';
        ++p;
    }
    if (negative) number += '-';

    // Mantissa: digits with at most one decimal point, at least one digit in all. Its decimal
    // magnitude d (mantissa in [10^(d-1), 10^d)) is counted from the first nonzero digit.
    int digit_count = 0;
    bool seen_point = false;
    bool seen_nonzero = false;
    long magnitude = 0;
    for (; p < n; ++p) {
        if (is_digit(item[p])) {
            ++digit_count;
            seen_nonzero = seen_nonzero || item[p] != '0';
            if (seen_nonzero && !seen_point) ++magnitude;
            if (!seen_nonzero && seen_point) --magnitude;
        } else if (item[p] == '.' && !seen_point) {
            seen_point = true;
        } else {
            break;
        }
        number += item[p];
    }
    if (digit_count == 0) return false;

    // Exponent: E or D in either case, an optional sign, at least one digit.
    long exponent = 0;  // saturated; only its sign and rough size matter below
    if (p < n) {
        const char letter = item[p];
        if (letter != 'e' && letter != 'E' && letter != 'd' && letter != 'D') return false;
        ++p;
        number += 'e';
        bool negative_exponent = false;
        if (p < n && (item[p] == '+' || item[p] == '-')) {
            negative_exponent = item[p] == '-';
            if (negative_exponent) number += '-';
            ++p;
        }
        if (p == n) return false;
        for (; p < n; ++p) {
            if (!is_digit(item[p])) return false;
            number += item[p];
            if (exponent < 1'000'000) exponent = exponent * 10 + (item[p] - '0');
        }
        if (negative_exponent) exponent = -exponent;
    }

    double result = 0.0;
    const char* first = number.data();
    const char* last = first + number.size();
    auto [end, error] = std::from_chars(first, last, result, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Out of range either way. The value lies in [10^(d-1+e), 10^(d+e)): at least 1
        // means overflow, which fails; below 1, underflow, which reads as zero. Counted from
        // the digits, as the mantissa alone may be out of range too (a long text).
        if (magnitude - 1 + exponent >= 0) return false;
        value = negative ? -0.0 : 0.0;
        return true;
    }
    if (error != std::errc{} || end != last) return false;
    value = result;
    return true;
}

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

bool parse_free_format(std::string_view text, double& last_parsed) {
    std::size_t begin = 0;
    while (begin < text.size() && is_blank(text[begin])) ++begin;
    if (begin == text.size()) return false;
    if (text[begin] == ',' || text[begin] == '/') return true;  // null value

    std::size_t end = begin;
    while (end < text.size() && !is_separator(text[end])) ++end;
    std::string_view item = text.substr(begin, end - begin);

    if (const std::size_t star = item.find('*'); star != std::string_view::npos) {
        const std::string_view repeat = item.substr(0, star);
        bool positive = false;
        for (const char c : repeat) {
            if (!is_digit(c)) return false;
            positive = positive || c != '0';
        }
        if (!positive) return false;
        item.remove_prefix(star + 1);
        if (item.empty()) return true;  // "r*" then a separator: r null values
    }
    return parse_value(item, last_parsed);
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

void ParameterFields::on_text_changed(Dialog& dialog, int id) {
    const bool is_lambda = id == kLambdaField;
    if (!is_lambda && id != kThresholdField) return;
    double& stored = is_lambda ? lambda_ : threshold_;
    double& last_parsed = is_lambda ? last_parsed_lambda_ : last_parsed_threshold_;
    const int echo_line = is_lambda ? kMiddleStatusLine : kLowerStatusLine;

    dialog.set_text(echo_line, "");
    const std::string buffer = dialog.get_text(id);
    if (!parse_free_format(buffer, last_parsed)) {
        dialog.set_text(kUpperStatusLine, is_lambda ? "The input of Lambda is not proper!"
                                                    : "The input of threshold is not proper!");
        return;
    }
    dialog.set_text(kUpperStatusLine,
                    is_lambda ? "Updating the lambda!" : "Updating the threshold!");
    stored = last_parsed;
    dialog.set_text(echo_line, display_format(stored));
    dialog.set_text(kUpperStatusLine, "");
}

}  // namespace netrevia::app
