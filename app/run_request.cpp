#include "app/run_request.h"

#include <algorithm>

#include "importer/table_reading.h"
#include "inference/engines.h"
#include "table/import.h"

namespace netrevia::app {

long long InputSummary::intervals() const noexcept {
    long long total = 0;
    for (const int T : time_points) total += T - 1;
    return total;
}

InputSummary summarize(const inference::Experiment& experiment) {
    InputSummary summary;
    summary.read = true;
    summary.genes = experiment.n();
    for (const inference::Course& course : experiment.courses) {
        summary.time_points.push_back(course.T());
    }
    return summary;
}

std::string summary_line(const InputSummary& summary, const InputChoice& input) {
    if (!summary.read) return "Not read as a data file: " + summary.problem;
    return "Read: " + importer::describe_contents(summary.genes, summary.time_points) + " (" +
           (input.table ? "table, " + input.table_format : std::string("data file")) + ")";
}

InputSummary read_data_file_summary(const std::filesystem::path& file) {
    const auto engines = inference::engines();
    const auto widest =
        std::max_element(engines.begin(), engines.end(), [](const auto& a, const auto& b) {
            return inference::engine_course_limit(a.engine) <
                   inference::engine_course_limit(b.engine);
        });
    inference::RunOptions options;
    options.engine = widest->engine;
    return summarize(inference::read_data_file(file, options));
}

inference::RunSummary run_request(const RunRequest& request,
                                  const inference::RunOptions& hooks,
                                  RunNotes& notes) {
    inference::RunOptions options = hooks;
    options.output_dir = request.output_dir;
    options.engine = request.engine;
    options.seed = request.seed;
    if (!request.input.table) {
        return inference::run_inference(request.data_path, request.lambda, request.threshold,
                                        options);
    }
    const std::size_t end = request.data_path.find_last_not_of(' ');
    const std::vector<std::filesystem::path> files{request.data_path.substr(0, end + 1)};
    table::TableOptions table_options = request.input.table_options;
    table_options.max_courses = inference::engine_course_limit(request.engine);
    const table::ImportedTables imported =
        table::import_tables(files, table_options, hooks.input_observer);
    notes.replicates = exports::replicate_record(imported.set);
    return inference::run_inference(table::to_experiment(imported, files), request.lambda,
                                    request.threshold, options);
}

}  // namespace netrevia::app
