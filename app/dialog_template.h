#pragma once

#include <span>
#include <string_view>

namespace netrevia::app {

// Control ids of the main window. The window itself answers to kWindowId.
inline constexpr int kWindowId = 0;
inline constexpr int kOpenButton = 30002;
inline constexpr int kAboutButton = 30003;
inline constexpr int kInferButton = 1015;
inline constexpr int kExitButton = 30001;
inline constexpr int kLambdaLabel = 1014;
inline constexpr int kLambdaField = 1009;
inline constexpr int kThresholdLabel = 1016;
inline constexpr int kThresholdField = 1010;
inline constexpr int kUpperStatusLine = 1013;
inline constexpr int kMiddleStatusLine = 1011;
inline constexpr int kLowerStatusLine = 1007;
// Controls beyond the template's own: the engine and its seed beside the parameters, and, in
// the strip under the client area, what Open read and the run's note or progress.
inline constexpr int kEngineLabel = 1017;
inline constexpr int kEngineList = 1018;
inline constexpr int kSeedLabel = 1019;
inline constexpr int kSeedField = 1020;
inline constexpr int kInputSummary = 1021;
inline constexpr int kRunNote = 1022;
inline constexpr int kProgressBar = 1023;
inline constexpr int kElapsedTime = 1024;

enum class ControlKind { push_button, edit_field, static_text, drop_down_list, progress_bar };

// Control styles, combined as bit flags.
enum ControlStyle : unsigned {
    kNoStyle = 0,
    kDefaultButton = 1u << 0,    // drawn as the button Enter would press
    kTabStop = 1u << 1,          // reachable with the Tab key
    kBorder = 1u << 2,           // framed edit field
    kAutoHScroll = 1u << 3,      // an edit field scrolls its text sideways while typing
    kLeftAligned = 1u << 4,      // static text starts at the left edge
    kWrapBelow = 1u << 5,        // static text too long for its line goes on in a second line
                                 // below its rectangle (the template leaves that room free)
    kElide = 1u << 6,            // static text too long for its line ends in "..." and shows
                                 // whole as a tool tip
    kBelowClientArea = 1u << 7,  // the control lies in the strip under the client area; its
                                 // y counts from the strip's top
    kHidden = 1u << 8,           // not shown until the program shows it
};

// A rectangle in dialog units: horizontal units are a quarter of the dialog font's average
// character width, vertical units an eighth of its character height.
struct DialogUnits {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// A rectangle in pixels.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    unsigned style;
    std::string_view text;
    DialogUnits rect;
};

// Everything needed to build a dialog: title, placement and size of the client area, font
// and the controls. The window has a caption and a system menu but no sizing border and no
// minimise or maximise box; it has its own task-bar entry. A strip of strip_height dialog units
// under the client area holds the controls styled kBelowClientArea; the client area, which the
// layout handler arranges, keeps its own size.
struct DialogTemplate {
    int resource_id;
    std::string_view title;
    DialogUnits rect;
    std::string_view font_name;
    int font_points;
    std::span<const ControlTemplate> controls;
    int strip_height = 0;

    // The control with this id, or nullptr.
    const ControlTemplate* find(int id) const noexcept;
};

// Template 101: the main window with its four command buttons, the two parameter fields with
// their labels and the three status lines; beside the parameters the list of engines and the
// seed field, and in the strip under them what Open read, the note on the engine or the last
// run, and the progress bar with the elapsed time of a run.
const DialogTemplate& main_window_template() noexcept;

// Dialog units to pixels for a font of the given average character width and height
// (truncating: x * avg_char_width / 4, y * char_height / 8).
Rect to_pixels(const DialogUnits& units, int avg_char_width, int char_height) noexcept;

}  // namespace netrevia::app
