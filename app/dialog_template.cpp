#include "app/dialog_template.h"

#include <array>

namespace netrevia::app {
namespace {

using enum ControlKind;

// clang-format off
constexpr std::array<ControlTemplate, 11> kMainWindowControls{{
    {kOpenButton,       push_button, kDefaultButton | kTabStop, "&Open",      {208,   7,  50, 14}},
    {kAboutButton,      push_button, kDefaultButton | kTabStop, "&About",     {208,  24,  50, 14}},
    {kInferButton,      push_button, kTabStop,                  "&Infer",     {207,  52,  50, 33}},
    {kExitButton,       push_button, kTabStop,                  "E&xit",      {208,  96,  50, 14}},
    {kLambdaLabel,      static_text, kNoStyle,                  "Lambda:",    {  6,  15,  62, 16}},
    {kLambdaField,      edit_field,  kBorder | kTabStop | kAutoHScroll, "",   { 76,  12,  54, 13}},
    {kThresholdLabel,   static_text, kNoStyle,                  "Threshold:", {  5,  33,  62, 16}},
    {kThresholdField,   edit_field,  kBorder | kTabStop | kAutoHScroll, "",   { 75,  31,  54, 13}},
    {kUpperStatusLine,  static_text, kLeftAligned | kWrapBelow, "",           {  8,  65, 185,  8}},
    {kMiddleStatusLine, static_text, kLeftAligned,              "",           {  7,  82, 186,  8}},
    {kLowerStatusLine,  static_text, kLeftAligned,              "",           {  5, 100, 192,  8}},
}};
// clang-format on

constexpr DialogTemplate kMainWindow{101,
                                     "Gene Regulatory Network Reverse Engineering",
                                     {40, 40, 265, 116},
                                     "MS Sans Serif",
                                     8,
                                     kMainWindowControls};

}  // namespace

const ControlTemplate* DialogTemplate::find(int id) const noexcept {
    for (const ControlTemplate& control : controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

const DialogTemplate& main_window_template() noexcept { return kMainWindow; }

Rect to_pixels(const DialogUnits& units, int avg_char_width, int char_height) noexcept {
    return {units.x * avg_char_width / 4, units.y * char_height / 8,
            units.width * avg_char_width / 4, units.height * char_height / 8};
}

}  // namespace netrevia::app
