#include "app/shell.h"

#include <exception>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "inference/data_file.h"
#include "inference/run.h"
#include "output/io_error.h"

#ifndef NETREVIA_VERSION
#define NETREVIA_VERSION "0.0.0"
#endif

namespace netrevia::app {
namespace {

constexpr std::string_view kNoticeCaption = "Netrevia";
constexpr std::string_view kErrorCaption = "Error";

std::string padded_path_field(std::string path) {
    if (path.size() < kPathFieldLength) path.resize(kPathFieldLength, ' ');
    return path;
}

bool all_blank(std::string_view text) { return text.find_first_not_of(' ') == text.npos; }

}  // namespace

void run_inference_in_working_directory(std::string_view data_path,
                                        const double& lambda,
                                        const double& threshold,
                                        const numeric::Notify& notify) {
    inference::RunOptions options;
    options.output_dir = ".";
    options.notify = notify;
    inference::run_inference(data_path, lambda, threshold, options);
}

Shell::Shell(Platform platform)
    : platform_(std::move(platform)), data_path_(kPathFieldLength, ' ') {}

void Shell::attach(Dialog& dialog) {
    // The stored parameters start at 0.0 and 1.0e-6 by themselves; these texts are set before
    // the field handlers exist, so they are not parsed.
    dialog.set_text(kLambdaField, "0.0");
    dialog.set_text(kThresholdField, "0.000001");

    const auto bind = [this](void (Shell::*member)(Dialog&, int, EventKind)) -> Handler {
        return [this, member](Dialog& d, int id, EventKind kind) { (this->*member)(d, id, kind); };
    };
    const Handler parameter_handler = [this](Dialog& d, int id, EventKind) {
        parameters_.on_text_changed(d, id);
    };
    dialog.register_handler(kLambdaField, EventKind::text_changed, parameter_handler);
    dialog.register_handler(kThresholdField, EventKind::text_changed, parameter_handler);
    dialog.register_handler(kWindowId, EventKind::initialised, bind(&Shell::quit_on_destroy));
    dialog.register_handler(kWindowId, EventKind::destroyed, bind(&Shell::quit_on_destroy));
    dialog.register_handler(kWindowId, EventKind::size_changed, bind(&Shell::layout));
    dialog.register_handler(kOpenButton, EventKind::clicked, bind(&Shell::open_command));
    dialog.register_handler(kAboutButton, EventKind::clicked, bind(&Shell::about_command));
    dialog.register_handler(kInferButton, EventKind::clicked, bind(&Shell::infer_command));
    // Exit stays without handler: an unhandled push button closes the window.
}

void Shell::open_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked) return;
    const std::vector<FileFilter> filters{
        {"All files (*.*)", "*.*"},
        {"Multiple Gene Expression Data Files (.dat)", "*.dat"},
    };
    const std::optional<std::string> chosen = platform_.choose_file(dialog, filters);
    if (!chosen) return;
    std::string name = chosen->substr(0, chosen->find('\0'));
    if (name.empty()) return;

    // The chosen file's folder becomes the working directory, so that GRN.dat and GRN.dot
    // are written beside the data file. A relative name is made absolute first so that it
    // still names the file afterwards. If the folder cannot be entered, the files go to the
    // working directory as it was.
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(name, error);
    if (!error) {
        name = file.string();
        std::filesystem::current_path(file.parent_path(), error);
    }

    // Paths longer than the field are kept whole rather than cut: a cut path names another
    // file.
    std::string field = padded_path_field(std::move(name));
    dialog.set_text(kLowerStatusLine, "");
    dialog.set_text(kMiddleStatusLine, "");
    dialog.set_text(kUpperStatusLine, "");
    dialog.set_text(kLowerStatusLine, field);
    dialog.set_text(kUpperStatusLine, "Status: Multiple Microarray Datasets are ready ");
    data_path_ = std::move(field);
}

void Shell::about_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked) return;
    dialog.set_text(kUpperStatusLine,
                    "Netrevia " NETREVIA_VERSION " - gene regulatory network inference");
    dialog.set_text(kMiddleStatusLine, "Made by the Netrevia developers for systems biology");
    dialog.set_text(kLowerStatusLine, "Questions and reports: the Netrevia issue tracker");
}

void Shell::infer_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked) return;
    dialog.set_text(kLowerStatusLine, "");
    dialog.set_text(kMiddleStatusLine, "");
    dialog.set_text(kUpperStatusLine, "");

    // Re-read both fields; an invalid text leaves the last accepted value in force.
    parameters_.on_text_changed(dialog, kLambdaField);
    parameters_.on_text_changed(dialog, kThresholdField);
    const double lambda = parameters_.lambda();
    const double threshold = parameters_.threshold();
    dialog.set_text(kMiddleStatusLine, display_format(lambda));
    dialog.set_text(kLowerStatusLine, display_format(threshold));

    if (all_blank(data_path_)) {
        dialog.set_text(kUpperStatusLine, "Please choose the Data file! ");
        return;
    }
    // Never seen: texts set inside a handler show when it returns, and the run blocks it.
    dialog.set_text(kUpperStatusLine, "Inferring the gene regulatory network, please wait! ");

    const numeric::Notify notify = [this, &dialog](std::string_view text) {
        platform_.message_box(&dialog, text, kNoticeCaption);
    };
    // Nothing may leave this handler by exception: it would cross the event loop.
    try {
        platform_.run_inference(data_path_, lambda, threshold, notify);
    } catch (const inference::DataFileRejected& rejected) {
        // The file reads but the model cannot hold it: say why and stay open for another.
        dialog.set_text(kUpperStatusLine, rejected.what());
        platform_.message_box(&dialog, rejected.what(), kNoticeCaption);
        return;
    } catch (const output::IoError& io_error) {
        fail_run(dialog, io_error.what());
        return;
    } catch (const std::bad_alloc&) {
        fail_run(dialog, "insufficient virtual memory");
        return;
    } catch (const std::exception& unexpected) {
        fail_run(dialog, unexpected.what());
        return;
    } catch (...) {
        fail_run(dialog, "unexpected failure of the inference run");
        return;
    }

    dialog.set_text(kUpperStatusLine, "The computation is finished! ");
    dialog.set_text(kMiddleStatusLine, "Please check the output files in working directory!");
    dialog.set_text(kLowerStatusLine, "");
}

void Shell::fail_run(Dialog& dialog, std::string_view message) {
    // Fatal: the user reads the message, then the program ends with a failure code.
    platform_.message_box(&dialog, message, kErrorCaption);
    platform_.post_quit(1);
}

void Shell::quit_on_destroy(Dialog&, int, EventKind kind) {
    if (kind == EventKind::destroyed) platform_.post_quit(0);
}

void Shell::layout(Dialog& dialog, int, EventKind) {
    // Keeps the command buttons against the right edge (Open and About from the top, Exit
    // from the bottom) and the lower status line against the bottom edge, with margins
    // derived from the caption-button size. All sizes in pixels, integer arithmetic.
    const WindowMetrics metrics = dialog.metrics();
    const int bx = metrics.border_width;
    const int m = 3 * metrics.caption_button_height / 4;
    const int h = 3 * metrics.caption_button_width / 4;
    const Rect client = dialog.client_rect();
    const int W = client.width;
    const int H = client.height;
    const int wl = dialog.window_rect().x;

    const Rect open = dialog.control_rect(kOpenButton);
    const int bw = open.width;
    const int bh = open.height;
    const int button_x = W - bx - h - bw;
    dialog.move_control(kOpenButton, {button_x, m, bw, bh});
    dialog.move_control(kAboutButton, {button_x, bh + 2 * m, bw, bh});
    dialog.move_control(kExitButton, {button_x, H - m - bh, bw, bh});

    const Rect lower = dialog.control_rect(kLowerStatusLine);
    dialog.move_control(kLowerStatusLine,
                        {lower.x - bx - wl, H - m - lower.height, lower.width, lower.height});
}

int run_application(const Platform& platform) {
    Shell shell(platform);
    std::unique_ptr<Dialog> dialog = platform.create_dialog(main_window_template());
    if (dialog) {
        shell.attach(*dialog);
        if (dialog->show()) {
            const int exit_code = platform.run_message_loop();
            dialog->destroy();
            return exit_code;
        }
    }
    platform.message_box(nullptr, "Error initializing application Netrevia", kErrorCaption);
    return 0;
}

}  // namespace netrevia::app
