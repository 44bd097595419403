#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog.h"
#include "app/parameter_field.h"
#include "numeric/notify.h"

namespace netrevia::app {

// One entry of a file dialog's filter list: the name the user sees and its pattern, where
// "*.*" stands for every file.
struct FileFilter {
    std::string name;
    std::string pattern;
};

// What the shell asks of the platform besides the dialog's own operations. Each member can
// be replaced on its own, which is how tests stand in for the file dialog or message boxes.
struct Platform {
    // Builds the dialog from the template; nullptr on failure.
    std::function<std::unique_ptr<Dialog>(const DialogTemplate&)> create_dialog;
    // Runs the message loop until the quit request and returns its exit code.
    std::function<int()> run_message_loop;
    // Asks the message loop to end with the given exit code.
    std::function<void(int exit_code)> post_quit;
    // Lets the user pick an existing file; the first filter is selected. Empty on cancel.
    std::function<std::optional<std::string>(Dialog& owner, const std::vector<FileFilter>&)>
        choose_file;
    // A message with a single OK button; returns when the user has dismissed it. owner may be
    // nullptr when there is no window.
    std::function<void(Dialog* owner, std::string_view text, std::string_view caption)> message_box;
    // The inference run on the data file, writing GRN.dat and GRN.dot into the working
    // directory. Throws what inference::run_inference throws.
    std::function<void(std::string_view data_path,
                       const double& lambda,
                       const double& threshold,
                       const numeric::Notify& notify)>
        run_inference;
};

// The inference run proper: inference::run_inference with the working directory as the
// output folder.
void run_inference_in_working_directory(std::string_view data_path,
                                        const double& lambda,
                                        const double& threshold,
                                        const numeric::Notify& notify);

// Length of the data-file path field; shorter paths are blank-padded to it.
inline constexpr std::size_t kPathFieldLength = 260;

// The application shell: the state of the main window (data-file path, the parameters) and
// the handlers of its commands.
class Shell {
public:
    explicit Shell(Platform platform);

    // Start-up on a freshly created dialog: initial field texts, then the handlers.
    void attach(Dialog& dialog);

    // The chosen data file blank-padded to at least kPathFieldLength characters; all blanks
    // until Open succeeds. A longer path is kept whole.
    const std::string& data_path() const noexcept { return data_path_; }
    const ParameterFields& parameters() const noexcept { return parameters_; }

private:
    void open_command(Dialog& dialog, int id, EventKind kind);
    void about_command(Dialog& dialog, int id, EventKind kind);
    void infer_command(Dialog& dialog, int id, EventKind kind);
    void quit_on_destroy(Dialog& dialog, int id, EventKind kind);
    void layout(Dialog& dialog, int id, EventKind kind);
    void fail_run(Dialog& dialog, std::string_view message);

    Platform platform_;
    ParameterFields parameters_;
    std::string data_path_;
};

// The program: creates the main window, runs the message loop until the window is destroyed
// and returns the exit code (0, or 1 after a fatal error inside a run). When the window
// cannot be created or shown it says so in a message box and returns 0.
int run_application(const Platform& platform);

}  // namespace netrevia::app
