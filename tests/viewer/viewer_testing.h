#pragma once

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "exports/exports.h"
#include "inference/run.h"
#include "viewer/results.h"

namespace netrevia::viewer_testing {

// A run's results over a given R (n x n, column-major), genes G1..Gn, written at threshold.
inline viewer::RunResults results_of(int n, std::vector<double> R, double threshold = 0.0) {
    viewer::RunResults run;
    inference::InferredNetwork& net = run.summary.network;
    net.n = n;
    net.K = 1;
    net.time_point_counts[0] = 5;
    for (int g = 1; g <= n; ++g) {
        std::string name = "G";
        name += std::to_string(g);
        net.full_names.push_back(name);
        name.resize(9, ' ');
        net.gene_names.push_back(name);
    }
    net.R = std::move(R);
    run.summary.threshold = threshold;
    run.record.engine = "exact";
    run.record.threshold = threshold;
    return run;
}

// The run of the window on a data file: GRN.dat and GRN.dot into folder, the record as the
// window's link makes it.
inline viewer::RunResults window_run(const std::filesystem::path& data_file,
                                     const std::filesystem::path& folder,
                                     double threshold = 1.0e-6) {
    inference::RunOptions options;
    options.output_dir = folder;
    viewer::RunResults run;
    run.summary = inference::run_inference_from_file(data_file, 0.0, threshold, options);
    run.folder = folder;
    run.record.tool = "netrevia";
    run.record.command_line = {"netrevia", data_file.string()};
    run.record.engine = "exact";
    run.record.threads = 2;
    run.record.threshold = threshold;
    exports::InputRecord input;
    input.path = data_file;
    input.sha256 = exports::sha256_hex(data_file, input.bytes);
    run.record.inputs.push_back(input);
    run.record.start = std::chrono::steady_clock::now();
    return run;
}

}  // namespace netrevia::viewer_testing
