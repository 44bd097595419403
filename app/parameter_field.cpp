#include "app/parameter_field.h"

#include <charconv>
#include <string>

#include "app/dialog.h"
#include "app/dialog_template.h"

namespace netrevia::app {
namespace {

using inference::is_blank;
using inference::is_digit;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// The value as typed, up to the first blank: what a message quotes.
std::string_view first_word(std::string_view text) {
    text = trimmed(text);
    std::size_t end = 0;
    while (end < text.size() && !is_blank(text[end])) ++end;
    return text.substr(0, end);
}

// An optional sign and digits, then a comma directly followed by a digit: "0,39", "-1,5e-3",
// ",5". Digits then a comma then a blank or nothing are a value and a separator, as the grammar
// says.
bool has_decimal_comma(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && is_digit(text[i])) ++i;
    return i + 1 < text.size() && text[i] == ',' && is_digit(text[i + 1]);
}

// "Use a decimal point: 0.39, not 0,39" for the text "0,39".
std::string decimal_point_advice(std::string_view text) {
    const std::string word(first_word(text));
    std::string with_point = word;
    with_point[with_point.find(',')] = '.';
    return "Use a decimal point: " + with_point + ", not " + word;
}

}  // namespace

FieldProblem parse_field(std::string_view text, double& last_parsed) {
    if (has_decimal_comma(text)) return FieldProblem::decimal_comma;
    if (parse_free_format(text, last_parsed)) return FieldProblem::none;
    const std::string_view word = trimmed(text);
    if (word.empty()) return FieldProblem::empty;
    // The failing value, without a repeat prefix: a range error there is a number too large.
    const std::size_t begin = static_cast<std::size_t>(word.data() - text.data());
    std::string_view item = text.substr(begin, inference::token_end(text, begin) - begin);
    item.remove_prefix(inference::repeat_prefix_length(item));
    double ignored = 0.0;
    return inference::parse_real(item, ignored) == inference::NumberParse::range
               ? FieldProblem::out_of_range
               : FieldProblem::malformed;
}

FieldProblem parse_seed(std::string_view text, std::uint64_t& seed) {
    text = trimmed(text);
    if (text.empty()) return FieldProblem::empty;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Not a whole number at all, or one followed by more ("4 2", "1e3").
    if (end != text.data() + text.size()) return FieldProblem::malformed;
    if (error == std::errc::result_out_of_range) return FieldProblem::out_of_range;
    seed = value;
    return FieldProblem::none;
}

std::string refusal_text(std::string_view label, FieldProblem problem, std::string_view text) {
    std::string sentence = "The input of " + std::string(label) + " is not proper! ";
    const std::string word(first_word(text));
    const bool seed = label == "Seed";
    if (seed && problem != FieldProblem::empty) {
        return sentence + "Type a whole number from 0 to 18446744073709551615; nothing was run.";
    }
    switch (problem) {
        case FieldProblem::empty:
            sentence += "The field is empty";
            break;
        case FieldProblem::out_of_range:
            sentence += word + " is beyond the range of numbers";
            break;
        case FieldProblem::decimal_comma:
            sentence += decimal_point_advice(text);
            break;
        case FieldProblem::malformed:
        case FieldProblem::none:
            sentence += "Type a number, such as 0.5 or 1e-3";
            break;
    }
    return sentence + "; nothing was run.";
}

FieldProblem ParameterFields::on_text_changed(Dialog& dialog, int id) {
    const bool is_lambda = id == kLambdaField;
    if (!is_lambda && id != kThresholdField) return FieldProblem::none;
    double& stored = is_lambda ? lambda_ : threshold_;
    double& last_parsed = is_lambda ? last_parsed_lambda_ : last_parsed_threshold_;
    const int echo_line = is_lambda ? kMiddleStatusLine : kLowerStatusLine;
    const std::string_view complaint =
        is_lambda ? "The input of Lambda is not proper!" : "The input of threshold is not proper!";

    dialog.set_text(echo_line, "");
    const std::string buffer = dialog.get_text(id);
    const FieldProblem problem = parse_field(buffer, last_parsed);
    if (problem == FieldProblem::decimal_comma) {
        dialog.set_text(kUpperStatusLine,
                        std::string(complaint) + " " + decimal_point_advice(buffer) + ".");
        return problem;
    }
    if (problem != FieldProblem::none) {
        dialog.set_text(kUpperStatusLine, complaint);
        return problem;
    }
    dialog.set_text(kUpperStatusLine,
                    is_lambda ? "Updating the lambda!" : "Updating the threshold!");
    stored = last_parsed;
    dialog.set_text(echo_line, display_format(stored));
    dialog.set_text(kUpperStatusLine, "");
    dialog.set_marked(id, false);
    return FieldProblem::none;
}

}  // namespace netrevia::app
