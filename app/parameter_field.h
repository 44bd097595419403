#pragma once

#include <string>
#include <string_view>

#include "inference/free_format.h"

namespace netrevia::app {

class Dialog;

// The fields read and show numbers by the grammar the data file uses.
using inference::display_format;
using inference::parse_free_format;

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
