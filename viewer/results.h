#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "exports/exports.h"
#include "inference/run.h"
#include "output/network_exports.h"

namespace netrevia::viewer {

// One finished run as it wrote its files: the summary (network, edge counts, threshold, files),
// how it ran (what run.json records) and the folder of the files, absolute.
struct RunResults {
    inference::RunSummary summary;
    exports::RunRecord record;
    std::filesystem::path folder;

    // The data file (the first input) as the record names it; empty when it names none.
    std::filesystem::path data_file() const {
        return record.inputs.empty() ? std::filesystem::path() : record.inputs.front().path;
    }
};

// Which entries of R are drawn: those beyond a threshold, or the top K largest |R(i,j)| as the
// batch tool's --top K; with self_loops false the self-terms R(i,i) leave the table, the
// drawing and the exports, as --no-self-loops does (the counts keep them, as GRN.dot does).
struct Cut {
    double threshold = 0.0;
    int top = 0;  // > 0: the top K; the threshold is then derived
    bool self_loops = true;
};

// Drawn edges beyond this many are not put on screen: the strongest kDrawnEdgeCap are.
inline constexpr std::size_t kDrawnEdgeCap = 2000;

// The network under one cut. The counts are those of GRN.dot's edge rule over the whole of R,
// the numbers the batch tool prints for the same cut; drawn and shown follow the drawing's
// rule (nonzero entries only, self-terms per the cut).
struct CutNetwork {
    Cut cut;
    double threshold = 0.0;  // in force: the cut's, or the one the top K derives
    int positive_edges = 0;
    int negative_edges = 0;
    int self_edges = 0;
    std::size_t drawn = 0;                  // edges the drawing would hold
    std::vector<output::RankedEdge> shown;  // the first min(drawn, cap) of them, in rank order
    int between_shown = 0;                  // of shown, those between distinct genes
};

// A run's R ranked once (output::rank_edges, the order of edges.tsv), ready for any cut. Ranking
// sorts every nonzero entry: about a second at 2000 genes, so callers build it off the GUI
// thread; the cuts are then cheap (one pass over R to count).
class Results {
public:
    explicit Results(RunResults run);

    const RunResults& run() const noexcept { return run_; }
    const inference::InferredNetwork& network() const noexcept { return run_.summary.network; }
    // Full names where the run knew them, else the 9-character names without their padding:
    // the names the exports write. Index g - 1 for gene g.
    const std::vector<std::string>& names() const noexcept { return names_; }
    // Every nonzero entry in rank order; with self_loops false only those between distinct
    // genes, which come first and keep their ranks.
    std::span<const output::RankedEdge> ranked(bool self_loops) const noexcept;

    // Largest |R(i,j)| between distinct genes, and the threshold suggested for it, 0 when there
    // is none: for the exact and fast engines the batch tool's hint (exports::kSuggestedShare
    // of it, to two significant digits as printed), for the engines that score pairs (the
    // ensemble, tree and consensus engines) their default threshold.
    double largest_between() const noexcept { return largest_between_; }
    double suggested_threshold() const noexcept { return suggested_; }
    bool suggests_engine_default() const noexcept { return score_engine_; }

    // The threshold that draws the K largest |R(i,j)| over all n x n entries (NaN counting as
    // 0), or over the n(n-1) between distinct genes when with_self is false: the (K+1)-th
    // largest, or 0 when K reaches past the nonzero entries; the run's rule for --top K (with
    // --no-self-loops when with_self is false).
    double top_threshold(int K, bool with_self = true) const;

    CutNetwork apply(const Cut& cut, std::size_t cap = kDrawnEdgeCap) const;

    // The summary and record run.json and the exports are written from under this cut: the
    // run's, with the cut's threshold and counts.
    inference::RunSummary summary_for(const CutNetwork& cut) const;
    exports::RunRecord record_for(const CutNetwork& cut) const;

private:
    RunResults run_;
    std::vector<std::string> names_;
    std::vector<output::RankedEdge> ranked_;  // with self-terms, which follow the others
    std::size_t between_count_ = 0;           // the leading entries of ranked_ with i != j
    double largest_between_ = 0.0;
    double suggested_ = 0.0;
    bool score_engine_ = false;
};

// The suggested threshold as the batch tool's hint line prints it: two significant digits.
double rounded_as_hint(double threshold);

}  // namespace netrevia::viewer
