#include "app/shell.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "inference/data_file.h"
#include "inference/input_error.h"
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
                                        const inference::RunOptions& hooks) {
    inference::RunOptions options = hooks;
    options.output_dir = ".";
    inference::run_inference(data_path, lambda, threshold, options);
}

// What a run shares between the window's thread and its worker. The worker writes progress
// and posts notices; the window's tick shows them. A notice holds the worker until the user
// has dismissed it (the notice waits for acknowledgement) or the run is cancelled.
struct Shell::ActiveRun {
    std::string data_path;
    double lambda = 0.0;
    double threshold = 0.0;
    std::atomic<bool> cancel{false};
    std::exception_ptr failure;  // written by the worker before it returns
    // For the Results window: the run's summary once its counts are known, and when that was.
    // Written by the worker before it returns.
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::optional<inference::RunSummary> summary;
    std::chrono::steady_clock::duration wall_time{};

    std::mutex mutex;
    std::condition_variable notice_dismissed;
    std::string progress;               // guarded by mutex
    std::optional<std::string> notice;  // guarded by mutex: waiting to be shown

    void set_progress(std::string text) {
        const std::lock_guard<std::mutex> lock(mutex);
        progress = std::move(text);
    }
    void stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            cancel = true;
        }
        notice_dismissed.notify_all();
    }
};

Shell::Shell(Platform platform)
    : platform_(std::move(platform)), data_path_(kPathFieldLength, ' ') {}

Shell::~Shell() {
    if (run_) run_->stop();
    job_.reset();
}

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
    // Exit and the close box close the window when idle, as an unhandled button would; during
    // a run they first ask whether to stop it.
    dialog.register_handler(kExitButton, EventKind::clicked, bind(&Shell::exit_command));
    dialog.register_handler(kWindowId, EventKind::close_requested, bind(&Shell::exit_command));
    dialog.register_handler(kWindowId, EventKind::escape, bind(&Shell::escape_key));
    dialog.register_handler(kWindowId, EventKind::file_dropped, bind(&Shell::file_dropped));
}

void Shell::open_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked || run_) return;
    const std::vector<FileFilter> filters{
        {"All files (*.*)", "*.*"},
        {"Multiple Gene Expression Data Files (.dat)", "*.dat"},
    };
    // The dialog starts in the folder of the last chosen file.
    std::string start_folder;
    if (!all_blank(data_path_)) {
        const std::string chosen = data_path_.substr(0, data_path_.find_last_not_of(' ') + 1);
        start_folder = std::filesystem::path(chosen).parent_path().string();
    }
    const std::optional<std::string> chosen = platform_.choose_file(dialog, filters, start_folder);
    if (!chosen) return;
    choose_data_file(dialog, *chosen);
}

void Shell::choose_data_file(Dialog& dialog, std::string file) {
    if (run_) return;
    std::string name = file.substr(0, file.find('\0'));
    if (name.empty()) return;

    // The chosen file's folder becomes the working directory, so that GRN.dat and GRN.dot
    // are written beside the data file. A relative name is made absolute first so that it
    // still names the file afterwards. If the folder cannot be entered, the files go to the
    // working directory as it was.
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(name, error);
    if (!error) {
        name = path.string();
        std::filesystem::current_path(path.parent_path(), error);
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
    if (kind != EventKind::clicked || run_) return;
    dialog.set_text(kUpperStatusLine,
                    "Netrevia " NETREVIA_VERSION " - gene regulatory network inference");
    dialog.set_text(kMiddleStatusLine, "Made by the Netrevia developers for systems biology");
    dialog.set_text(kLowerStatusLine, "Questions and reports: the Netrevia issue tracker");
}

void Shell::infer_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked) return;
    if (run_) {  // the button reads "&Cancel" during a run
        cancel_run(dialog);
        return;
    }
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
    dialog.set_text(kUpperStatusLine, kPleaseWait);
    start_run(dialog, lambda, threshold);
}

void Shell::start_run(Dialog& dialog, double lambda, double threshold) {
    auto run = std::make_shared<ActiveRun>();
    run->data_path = data_path_;
    run->lambda = lambda;
    run->threshold = threshold;
    run_ = run;
    shown_progress_.clear();
    set_running(dialog, true);

    const bool background = static_cast<bool>(platform_.start_background);
    inference::RunOptions hooks;
    hooks.cancel = &run->cancel;
    hooks.dataset_observer = [run](int k) {
        run->set_progress(k > 0 ? "solving dataset " + std::to_string(k)
                                : std::string("selecting the network"));
    };
    hooks.observer = [run](int iteration, double objective) {
        char text[64];
        std::snprintf(text, sizeof text, "iteration %d, objective %.6g", iteration, objective);
        run->set_progress(text);
    };
    if (background) {
        // The notice is shown by the window's tick; the worker waits for its dismissal.
        hooks.notify = [run](std::string_view text) {
            std::unique_lock<std::mutex> lock(run->mutex);
            run->notice = std::string(text);
            run->notice_dismissed.wait(lock, [&] { return !run->notice || run->cancel; });
        };
    } else {
        hooks.notify = [this, &dialog](std::string_view text) {
            platform_.message_box(&dialog, text, kNoticeCaption);
        };
    }
    if (platform_.show_results) {
        // The run hands its summary to extra_files once the network and its edge counts are
        // known, just before the commit; the window writes no extra file, so the hook only
        // keeps the summary, shown if the commit then succeeds.
        hooks.extra_files = [run](const inference::RunSummary& summary) {
            run->summary = summary;
            run->wall_time = std::chrono::steady_clock::now() - run->start;
            return std::vector<output::ExtraResultFile>{};
        };
    }
    auto work = [this, run, hooks] {
        // Nothing may leave the worker by exception: the window reports it in finish_run.
        try {
            platform_.run_inference(run->data_path, run->lambda, run->threshold, hooks);
        } catch (...) {
            run->failure = std::current_exception();
        }
    };
    auto tick = [this, &dialog] { show_progress(dialog); };
    auto done = [this, &dialog] { finish_run(dialog); };
    job_.reset();
    if (background) {
        job_ = platform_.start_background(std::move(work), std::move(tick), std::move(done));
    } else {
        work();
        done();
    }
}

void Shell::show_progress(Dialog& dialog) {
    const std::shared_ptr<ActiveRun> run = run_;
    if (!run || run->cancel) return;
    std::optional<std::string> notice;
    std::string progress;
    {
        const std::lock_guard<std::mutex> lock(run->mutex);
        progress = run->progress;
        if (!showing_notice_) notice = run->notice;
    }
    if (progress != shown_progress_) {
        shown_progress_ = progress;
        dialog.set_text(kUpperStatusLine, std::string(kPleaseWait) + progress);
    }
    if (notice) {
        // The box runs its own event loop, in which further ticks must not show it again.
        showing_notice_ = true;
        platform_.message_box(&dialog, *notice, kNoticeCaption);
        showing_notice_ = false;
        {
            const std::lock_guard<std::mutex> lock(run->mutex);
            run->notice.reset();
        }
        run->notice_dismissed.notify_all();
    }
}

void Shell::cancel_run(Dialog& dialog) {
    if (!run_ || run_->cancel) return;
    run_->stop();
    dialog.set_text(kUpperStatusLine, "Cancelling the run, please wait! ");
}

void Shell::set_running(Dialog& dialog, bool running) {
    // Disabled controls take no input, so nothing typed or clicked during a run is queued and
    // replayed when it ends. Exit stays enabled, and Infer becomes the Cancel button.
    for (const int id : {kOpenButton, kAboutButton, kLambdaField, kThresholdField}) {
        dialog.set_enabled(id, !running);
    }
    dialog.set_text(kInferButton, running ? "&Cancel" : "&Infer");
}

void Shell::finish_run(Dialog& dialog) {
    const std::shared_ptr<ActiveRun> run = std::move(run_);
    set_running(dialog, false);
    if (exit_after_run_) {
        dialog.destroy();
        return;
    }
    if (!run->failure) {
        dialog.set_text(kUpperStatusLine, "The computation is finished! ");
        dialog.set_text(kMiddleStatusLine, "Please check the output files in working directory!");
        dialog.set_text(kLowerStatusLine, "");
        if (platform_.show_results && run->summary) show_results(dialog, *run);
        return;
    }
    // Input and output failures are reported and leave the window idle, the parameters and
    // the chosen file in place: the run wrote nothing, so earlier results are as they were.
    // Only exhausted memory still ends the program.
    const auto report = [&](std::string_view message, std::string_view caption) {
        dialog.set_text(kUpperStatusLine, message);
        platform_.message_box(&dialog, message, caption);
    };
    try {
        std::rethrow_exception(run->failure);
    } catch (const inference::RunCancelled&) {
        dialog.set_text(kUpperStatusLine, kCancelled);
    } catch (const inference::DataFileRejected& rejected) {
        report(rejected.what(), kNoticeCaption);
    } catch (const inference::InputError& input_error) {
        report(input_error.what(), kErrorCaption);
    } catch (const output::IoError& io_error) {
        report(io_error.what(), kErrorCaption);
    } catch (const std::bad_alloc&) {
        fail_run(dialog, "insufficient virtual memory");
    } catch (const std::exception& unexpected) {
        report(unexpected.what(), kErrorCaption);
    } catch (...) {
        report("unexpected failure of the inference run", kErrorCaption);
    }
}

void Shell::show_results(Dialog& dialog, ActiveRun& run) {
    FinishedRun finished;
    finished.summary = std::move(*run.summary);
    finished.data_file = run.data_path.substr(0, run.data_path.find_last_not_of(' ') + 1);
    // Where the run wrote, made absolute now, while the working directory is the run's.
    std::error_code error;
    finished.results_folder = std::filesystem::absolute(finished.summary.matrix_file, error)
                                  .lexically_normal()
                                  .parent_path();
    finished.lambda = run.lambda;
    finished.threshold = run.threshold;
    finished.wall_time = run.wall_time;
    // The window is extra: a failure there must not turn a successful run into a failed one.
    try {
        platform_.show_results(dialog, std::move(finished));
    } catch (...) {
    }
}

void Shell::fail_run(Dialog& dialog, std::string_view message) {
    // Fatal: the user reads the message, then the program ends with a failure code.
    platform_.message_box(&dialog, message, kErrorCaption);
    platform_.post_quit(1);
}

void Shell::exit_command(Dialog& dialog, int, EventKind) {
    if (!run_) {
        dialog.destroy();
        return;
    }
    if (exit_after_run_) return;
    if (!platform_.ask_yes_no(dialog, "An inference run is under way. Stop it and exit?",
                              kNoticeCaption)) {
        return;
    }
    if (!run_) {  // the run ended while the question was open
        dialog.destroy();
        return;
    }
    // The window closes once the worker has stopped: it must not outlive the program.
    exit_after_run_ = true;
    cancel_run(dialog);
}

void Shell::escape_key(Dialog& dialog, int, EventKind) { cancel_run(dialog); }

void Shell::file_dropped(Dialog& dialog, int, EventKind) {
    choose_data_file(dialog, dialog.dropped_file());
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

int run_application(const Platform& platform, const std::string& initial_file) {
    Shell shell(platform);
    std::unique_ptr<Dialog> dialog = platform.create_dialog(main_window_template());
    if (dialog) {
        shell.attach(*dialog);
        if (dialog->show()) {
            if (!initial_file.empty()) shell.choose_data_file(*dialog, initial_file);
            const int exit_code = platform.run_message_loop();
            dialog->destroy();
            return exit_code;
        }
    }
    platform.message_box(nullptr, "Error initializing application Netrevia", kErrorCaption);
    return 0;
}

}  // namespace netrevia::app
