// Fuzz target of the parameter fields: the free-format parser and the display format.
// Invariants checked (abort on failure):
//  - display_format of any double (the first 8 bytes taken as one, NaN and infinities
//    included, and every parsed value) is non-empty printable ASCII from the characters of a
//    number, NaN or Infinity: no locale decimal comma, no blanks;
//  - a failed parse leaves the target unchanged;
//  - a parsed finite value, displayed and parsed again, comes back within the display's
//    precision: 15 significant digits round by at most 5e-15 relative, the parse adds half an
//    ulp, and subnormals may lose up to half of the smallest subnormal. The one exception by
//    design: a value within 5e-15 of the largest double displays rounded above it, and that
//    text is beyond the range of a double;
//  - the fixed-point form (15 significant digits, at most DBL_DIG) is a fixed point of
//    display and parse: display(parse(display(x))) == display(x). Not so the scientific form:
//    its 16 digits need not survive a trip through a double (1.000000000000000E+034 reads as
//    the double nearest 1e34, which displays as 9.999999999999999E+033);
//  - a parsed value equals the C library's correctly rounded reading of the same item (the
//    value without its repeat prefix, D read as E) in the C locale;
//  - the window's field check (parse_field) accepts a text only with the value the grammar
//    reads, refuses without changing the value, and has a message for every refusal; a seed
//    (parse_seed) is accepted only as digits between blanks, with their value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "app/parameter_field.h"
#include "inference/free_format.h"

namespace {

using netrevia::inference::display_format;
using netrevia::inference::parse_free_format;
using netrevia::inference::token_end;

void check(bool holds) {
    if (!holds) std::abort();
}

bool is_number_text(const std::string& text) {
    if (text == "NaN" || text == "Infinity" || text == "-Infinity") return true;
    if (text.empty()) return false;
    for (const char c : text) {
        const bool allowed = (c >= '0' && c <= '9') || c == '.' || c == 'E' || c == '+' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

void check_display(double x) {
    const std::string text = display_format(x);
    check(is_number_text(text));
    if (!std::isfinite(x)) return;

    double back = -7.0;  // a parse that fails must leave it so
    if (!parse_free_format(text, back)) {
        check(back == -7.0);
        // Rounded to 15 digits above the largest double.
        check(std::abs(x) > 1.797693134862315e308);
        return;
    }
    const double tolerance = 5.2e-15 * std::abs(x) + std::numeric_limits<double>::denorm_min();
    check(std::abs(back - x) <= tolerance);
    if (text.find('E') == std::string::npos) check(display_format(back) == text);
}

// The item parse_free_format reads, in strtod's syntax: leading blanks skipped, cut at the
// first separator, without a repeat prefix, D as exponent letter turned into E.
std::string item_of(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    std::string item(text.substr(begin, token_end(text, begin) - begin));
    if (const std::size_t star = item.find('*'); star != std::string::npos) item.erase(0, star + 1);
    for (char& c : item) {
        if (c == 'd' || c == 'D') c = 'e';
    }
    return item;
}

// The window's checks of the same text: a field runs only with what parse_free_format reads
// from it, never with a decimal comma's integer part, and every refusal has its message.
void check_field(std::string_view text, bool parsed, double parsed_value) {
    using netrevia::app::FieldProblem;
    double value = 0.25;
    const FieldProblem problem = netrevia::app::parse_field(text, value);
    // "0,39", "-1,5", ",5": digits (perhaps none) after blanks and a sign, then a comma and a
    // digit. The grammar would read 0 or -1 and stop at the comma; the field refuses it.
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    const bool decimal_comma =
        at + 1 < text.size() && text[at] == ',' && text[at + 1] >= '0' && text[at + 1] <= '9';
    check(decimal_comma == (problem == FieldProblem::decimal_comma));
    if (problem == FieldProblem::none) {
        check(parsed);
        check(std::memcmp(&value, &parsed_value, sizeof value) == 0);
    } else {
        // A refused text leaves the value as the grammar's failed parse leaves it, or, for a
        // decimal comma the grammar would take, untouched.
        check(value == 0.25);
        const std::string message = netrevia::app::refusal_text("Lambda", problem, text);
        check(message.ends_with("nothing was run."));
    }
    std::uint64_t seed = 7;
    const FieldProblem seed_problem = netrevia::app::parse_seed(text, seed);
    if (seed_problem != FieldProblem::none) {
        check(seed == 7);
        check(
            netrevia::app::refusal_text("Seed", seed_problem, text).ends_with("nothing was run."));
        return;
    }
    // Digits alone between blanks, equal to strtoull of them.
    std::size_t begin = 0;
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    std::size_t end = text.size();
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    const std::string digits(text.substr(begin, end - begin));
    check(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos);
    check(std::strtoull(digits.c_str(), nullptr, 10) == seed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= sizeof(double)) {
        double bits = 0.0;
        std::memcpy(&bits, data, sizeof bits);
        check_display(bits);
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    double value = 0.25;
    const bool parsed = parse_free_format(text, value);
    check_field(text, parsed, value);
    if (!parsed) {
        check(value == 0.25);
        return 0;
    }
    if (const std::string item = item_of(text); !item.empty()) {
        char* end = nullptr;
        const double reference = std::strtod(item.c_str(), &end);
        check(end == item.c_str() + item.size());
        check(std::memcmp(&reference, &value, sizeof value) == 0);
    }
    check_display(value);
    return 0;
}
