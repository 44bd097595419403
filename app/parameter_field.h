#pragma once

#include <string>
#include <string_view>

namespace netrevia::app {

class Dialog;

// Reads one number from text by the free-format rule of list-directed input:
// - leading blanks are skipped; the value ends at the next blank, comma or slash or at the end
//   of the text, and whatever follows is ignored ("2.5 abc" gives 2.5, "1,5" gives 1);
// - a value is an optional sign, digits with at most one decimal point (".5" and "5." are
//   fine), then optionally an exponent: E or D in either case and an optionally signed
//   integer;
// - a repeat prefix "r*" with a positive integer r may precede the value ("3*0.5" gives 0.5);
// - a null value (a comma or slash before any value, or "r*" directly followed by a
//   separator) succeeds and leaves last_parsed unchanged.
// Tabs count as blanks. Fails on an empty or all-blank text and on a malformed value, and
// leaves last_parsed unchanged then; rarer forms (exponent letter Q, an exponent sign without
// a letter, a letter without digits, quoted or logical values) count as malformed. A value
// beyond the range of a double fails; one too small for it reads as zero of its sign.
// Independent of the C and C++ locales.
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

// The two parameters of a run and the parameter handler of their edit fields.
class ParameterFields {
public:
    double lambda() const noexcept { return lambda_; }
    double threshold() const noexcept { return threshold_; }

    // Re-reads field id (kLambdaField or kThresholdField; any other id does nothing) and, if
    // its text parses, stores the value and echoes it in the field's status line (middle
    // line for lambda, lower line for threshold). A text that does not parse leaves the
    // stored value as it was and shows a complaint in the upper status line.
    void on_text_changed(Dialog& dialog, int id);

private:
    double lambda_ = 0.0;
    double threshold_ = 1.0e-6;
    // Targets of every parse: a null value stores what the previous parse of the field left
    // here, which for a field never parsed is 0.0, not the initial parameter.
    double last_parsed_lambda_ = 0.0;
    double last_parsed_threshold_ = 0.0;
};

}  // namespace netrevia::app
