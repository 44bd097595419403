#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog.h"
#include "app/parameter_field.h"
#include "app/run_request.h"
#include "exports/exports.h"
#include "importer/table_reading.h"
#include "inference/engines.h"
#include "inference/run.h"

namespace netrevia::app {

// One entry of a file dialog's filter list: the name the user sees and its pattern, where
// "*.*" stands for every file.
struct FileFilter {
    std::string name;
    std::string pattern;
};

// A successful run as the Results window takes it: what the run wrote (the summary, the folder
// of its files, absolute) and how it ran.
struct FinishedRun {
    inference::RunSummary summary;
    std::filesystem::path data_file;  // as run, without the path field's padding
    std::filesystem::path results_folder;
    double lambda = 0.0;
    double threshold = 0.0;  // as given
    selection::Engine engine = selection::Engine::kExact;
    std::uint64_t seed = 0;
    // The input as the run read it (size and SHA-256 of the bytes read), for run.json.
    std::vector<exports::InputRecord> inputs;
    bool tables = false;
    std::optional<exports::ReplicateRecord> replicates;  // what became of a table's replicates
    std::chrono::steady_clock::duration wall_time{};     // from Infer to the network's counts
};

// Work started on a worker thread by Platform::start_background; the destructor waits for it.
class BackgroundJob {
public:
    virtual ~BackgroundJob() = default;
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
    // Lets the user pick an existing file, starting in start_folder (empty: the platform's
    // choice); the first filter is selected. Empty on cancel.
    std::function<std::optional<std::string>(
        Dialog& owner, const std::vector<FileFilter>&, const std::string& start_folder)>
        choose_file;
    // Lets the user pick an existing folder, starting in start_folder (empty: the platform's
    // choice). Empty on cancel.
    std::function<std::optional<std::string>(Dialog& owner, const std::string& start_folder)>
        choose_folder;
    // Sets up how the expression table file is read (the import dialog); data_file_problem says
    // why it is no data file. Empty on cancel. Left empty, tables cannot be opened.
    std::function<std::optional<importer::TableChoice>(
        Dialog& owner, const std::string& file, const std::string& data_file_problem)>
        import_table;
    // A message with a single OK button, shown as plain text; returns when the user has
    // dismissed it. owner may be nullptr when there is no window.
    std::function<void(Dialog* owner, std::string_view text, std::string_view caption)> message_box;
    // A question with Yes and No buttons, shown as plain text; true for Yes.
    std::function<bool(Dialog& owner, std::string_view text, std::string_view caption)> ask_yes_no;
    // Closes the question ask_yes_no shows, if one is open, as if No had been chosen.
    std::function<void()> dismiss_question;
    // The inference run the request asks for (run_request), writing GRN.dat and GRN.dot into
    // its output folder; hooks carries the notice, progress and cancel members of the run's
    // options. Throws what inference::run_inference throws.
    std::function<inference::RunSummary(
        const RunRequest& request, const inference::RunOptions& hooks, RunNotes& notes)>
        run_inference;
    // Starts work on a worker thread. While it runs, tick is called on this thread a few times
    // a second; once it has returned, done is called on this thread. Destroying the job waits
    // for work to return and cancels a tick or done still to come. Left empty, work runs at
    // once on the calling thread and done follows.
    std::function<std::unique_ptr<BackgroundJob>(
        std::function<void()> work, std::function<void()> tick, std::function<void()> done)>
        start_background;
    // The time elapsed runs are measured on; left empty, the steady clock.
    std::function<std::chrono::steady_clock::time_point()> now;
    // Shows a successful run's results (the Results window), on this thread, once its files
    // are written. Left empty, the status lines alone report the run.
    std::function<void(Dialog& owner, FinishedRun run)> show_results;
};

// What a run has reported so far, as the progress bar shows it.
struct RunProgress {
    int dataset = 0;         // the dataset being solved, from 1; 0 before and after
    bool selecting = false;  // every dataset is solved: the selection (or the engine) works
    int iteration = 0;       // of the selection loop, from 1
    double objective = 0.0;
};

struct ProgressView {
    int value = 0;
    int maximum = 0;  // 0: work without a measure
    std::string text;
};

// The bar for a run of `datasets` courses: "dataset k of K" while the datasets are solved, then
// "iteration i of at most 100, objective F"; an engine without iterations shows what it does
// (working) without a measure.
ProgressView progress_view(const RunProgress& progress, int datasets, std::string_view working);

// "under 0.1 s", "0.4 s", "12.0 s", "3 min 07 s", "2 h 05 min": a run's elapsed time.
std::string elapsed_text(std::chrono::steady_clock::duration elapsed);

// The threshold an engine starts with as its field shows it: "0.000001", "0.75".
std::string threshold_text(double threshold);

// Length of the data-file path field; shorter paths are blank-padded to it. The padded field is
// the shape the window has always handed to the run: only the run's trim of trailing blanks
// (inference::run_inference) and the tests of both rely on it; a caller with a plain path
// passes it unpadded.
inline constexpr std::size_t kPathFieldLength = 260;

// The upper status line while a run is under way; the run's progress follows it.
inline constexpr std::string_view kPleaseWait =
    "Inferring the gene regulatory network, please wait! ";
// The upper status line after a cancelled run.
inline constexpr std::string_view kCancelled = "The run was cancelled; no file was changed. ";

// The application shell: the state of the main window (data-file path, how it is read, the
// parameters, the engine) and the handlers of its commands. Open reads the chosen file to show
// what it holds: a data file as a data file, an expression table (.csv, .tsv or .txt that is no
// data file) through the import dialog. Infer runs only on what the fields show, with an
// engine that takes the input, into a folder that can be written (offering another when the
// data file's cannot). The inference runs on a worker thread (Platform::start_background);
// meanwhile Open, About, the fields and the engine are disabled, Infer reads "&Cancel", the
// progress bar and the elapsed time show how far the run is, and Infer, Esc, Exit and the close
// box can stop the run.
class Shell {
public:
    explicit Shell(Platform platform);
    // Stops a run still under way and waits for its worker.
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // Start-up on a freshly created dialog: initial field texts, then the handlers.
    void attach(Dialog& dialog);
    // Makes file the data file, as if chosen with Open (the command line, a dropped file).
    void choose_data_file(Dialog& dialog, std::string file);
    bool running() const noexcept { return run_ != nullptr; }

    // The chosen data file blank-padded to at least kPathFieldLength characters; all blanks
    // until Open succeeds. A longer path is kept whole.
    const std::string& data_path() const noexcept { return data_path_; }
    const ParameterFields& parameters() const noexcept { return parameters_; }
    const InputChoice& input() const noexcept { return input_; }
    const InputSummary& input_summary() const noexcept { return summary_; }
    const inference::EngineDescription& engine() const noexcept { return *engine_; }

private:
    void open_command(Dialog& dialog, int id, EventKind kind);
    void about_command(Dialog& dialog, int id, EventKind kind);
    void infer_command(Dialog& dialog, int id, EventKind kind);
    void exit_command(Dialog& dialog, int id, EventKind kind);
    void escape_key(Dialog& dialog, int id, EventKind kind);
    void file_dropped(Dialog& dialog, int id, EventKind kind);
    void quit_on_destroy(Dialog& dialog, int id, EventKind kind);
    void layout(Dialog& dialog, int id, EventKind kind);
    void fail_run(Dialog& dialog, std::string_view message);
    void engine_changed(Dialog& dialog, int id, EventKind kind);
    void seed_changed(Dialog& dialog, int id, EventKind kind);
    // Reads the chosen file as the batch tool would; false when the user cancelled the import.
    bool read_input(Dialog& dialog,
                    const std::string& file,
                    InputChoice& input,
                    InputSummary& summary);
    void refuse_field(Dialog& dialog, int id, std::string_view label, FieldProblem problem);
    // Why the engine cannot take what Open read; empty when it can or nothing was read.
    std::string input_refusal() const;
    // The engine's note, or why it cannot take the input (marked then).
    std::string engine_note() const;
    void show_engine_note(Dialog& dialog);
    // The folder the run writes into, asking for another when the data file's cannot be
    // written; empty when there is none (the upper status line says why).
    std::optional<std::filesystem::path> results_folder(Dialog& dialog);
    std::chrono::steady_clock::time_point now() const;

    struct ActiveRun;
    void start_run(Dialog& dialog, RunRequest request);
    void show_progress(Dialog& dialog);
    void finish_run(Dialog& dialog);
    void show_results(Dialog& dialog, ActiveRun& run);
    void cancel_run(Dialog& dialog);
    void set_running(Dialog& dialog, bool running);

    Platform platform_;
    ParameterFields parameters_;
    std::string data_path_;
    InputChoice input_;
    InputSummary summary_;
    const inference::EngineDescription* engine_ = &inference::engines().front();
    // Folders chosen for the results of data files whose own folder cannot be written, by the
    // data file's folder, for the session.
    std::map<std::filesystem::path, std::filesystem::path> results_folders_;
    std::shared_ptr<ActiveRun> run_;      // while a run is under way; shared with its worker
    std::unique_ptr<BackgroundJob> job_;  // the latest run's worker, kept until the next run
    bool exit_after_run_ = false;         // Exit was confirmed during a run
    bool asking_exit_ = false;            // the question whether to stop the run is open
    bool showing_notice_ = false;         // a notice of the run is on screen
    std::string shown_progress_;
};

// The program: creates the main window, chooses initial_file as Open would when it is not
// empty, runs the message loop until the window is destroyed and returns the exit code (0,
// or 1 after memory ran out inside a run). When the window cannot be created or shown it
// says so in a message box and returns 0.
int run_application(const Platform& platform, const std::string& initial_file = {});

}  // namespace netrevia::app
