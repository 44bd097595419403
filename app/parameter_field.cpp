#include "app/parameter_field.h"

#include <string>

#include "app/dialog.h"
#include "app/dialog_template.h"

namespace netrevia::app {

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
