#include "app/dialog_template.h"

#include <array>

namespace netrevia::app {
namespace {

using enum ControlKind;

// The engine row sits in the free band between the Threshold field and the upper status line,
// the strip rows under the template's client area, so that the layout handler, which keeps
// Exit and the lower status line at the client area's bottom, never moves a control onto them.
// The progress bar takes the note's place during a run.
// clang-format off
constexpr std::array<ControlTemplate, 19> kMainWindowControls{{
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
    {kEngineLabel,      static_text, kNoStyle,                  "Engine:",    {  6,  48,  62, 13}},
    {kEngineList,       drop_down_list, kTabStop,               "",           { 76,  48,  72, 13}},
    {kSeedLabel,        static_text, kNoStyle,                  "Seed:",      {152,  48,  20, 13}},
    {kSeedField,        edit_field,  kBorder | kTabStop | kAutoHScroll, "",   {172,  48,  30, 13}},
    {kInputSummary,     static_text, kLeftAligned | kElide | kBelowClientArea, "", {5, 2, 253, 8}},
    {kRunNote,          static_text, kLeftAligned | kWrapBelow | kBelowClientArea, "",
                                                                              {  5,  12, 253,  9}},
    {kProgressBar,      progress_bar, kBelowClientArea | kHidden, "",         {  5,  12, 200, 11}},
    {kElapsedTime,      static_text, kLeftAligned | kBelowClientArea | kHidden, "",
                                                                              {210,  13,  48,  8}},
}};
// clang-format on

constexpr DialogTemplate kMainWindow{101,
                                     "Gene Regulatory Network Reverse Engineering",
                                     {40, 40, 265, 116},
                                     "MS Sans Serif",
                                     8,
                                     kMainWindowControls,
                                     32};

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
