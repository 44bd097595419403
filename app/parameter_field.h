#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "inference/free_format.h"

namespace netrevia::app {

class Dialog;

// The fields read and show numbers by the grammar the data file uses.
using inference::display_format;
using inference::parse_free_format;

// Why a field's text gives no number.
enum class FieldProblem {
    none,
    empty,          // nothing but blanks
    malformed,      // not a number ("abc", "1.5x")
    out_of_range,   // beyond the range of a double ("1e400")
    decimal_comma,  // a comma where a decimal point belongs ("0,39", ",5")
};

// parse_free_format, with a decimal comma refused rather than read as the end of the value:
// "0,39" would give 0 and "1,5" 1, which no one typing them means. A comma after a value and a
// blank ("1, 5"), and a comma alone (a null value), keep their meaning. last_parsed changes only
// as parse_free_format changes it.
FieldProblem parse_field(std::string_view text, double& last_parsed);

// The seed of a run: a whole number from 0 to 2^64 - 1, blanks around it allowed. seed is set
// only when the text is one.
FieldProblem parse_seed(std::string_view text, std::uint64_t& seed);

// What the Infer command shows when a field holds text it does not run with: the field's own
// complaint, what to type instead, and that nothing was run. label is "Lambda", "threshold" or
// "Seed"; text is the field's text.
std::string refusal_text(std::string_view label, FieldProblem problem, std::string_view text);

// The two parameters of a run and the parameter handler of their edit fields.
class ParameterFields {
public:
    double lambda() const noexcept { return lambda_; }
    double threshold() const noexcept { return threshold_; }

    // Re-reads field id (kLambdaField or kThresholdField; any other id does nothing) and, if
    // its text parses, stores the value, echoes it in the field's status line (middle line for
    // lambda, lower line for threshold) and clears the field's mark. A text that does not parse
    // leaves the stored value as it was and shows a complaint in the upper status line. Returns
    // the problem with the text, none when it was accepted.
    FieldProblem on_text_changed(Dialog& dialog, int id);

private:
    double lambda_ = 0.0;
    double threshold_ = 1.0e-6;
    // Targets of every parse: a null value stores what the previous parse of the field left
    // here, which for a field never parsed is 0.0, not the initial parameter.
    double last_parsed_lambda_ = 0.0;
    double last_parsed_threshold_ = 0.0;
};

}  // namespace netrevia::app
