#include "viewer/results.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "inference/engines.h"
#include "numeric/matrix_ref.h"
#include "output/graphviz_file.h"

namespace netrevia::viewer {

namespace {

double magnitude(const output::RankedEdge& e) { return std::abs(e.weight); }

// The element at 0-based position k of the descending merge of two descending runs a and b,
// by a binary search on how many of the first k + 1 come from a; k < |a| + |b|.
double kth_of_merged(std::span<const output::RankedEdge> a,
                     std::span<const output::RankedEdge> b,
                     std::size_t k) {
    const std::size_t take = k + 1;
    std::size_t lo = take > b.size() ? take - b.size() : 0;
    std::size_t hi = std::min(take, a.size());
    while (true) {
        const std::size_t i = lo + (hi - lo) / 2;  // from a
        const std::size_t j = take - i;            // from b
        if (i < hi && j > 0 && magnitude(b[j - 1]) < magnitude(a[i])) {
            lo = i + 1;  // a's next one is larger than b's last taken: take more of a
        } else if (i > lo && j < b.size() && magnitude(a[i - 1]) < magnitude(b[j])) {
            hi = i - 1;
        } else {
            if (i == 0) return magnitude(b[j - 1]);
            if (j == 0) return magnitude(a[i - 1]);
            return std::min(magnitude(a[i - 1]), magnitude(b[j - 1]));
        }
    }
}

// The names the exports write (exports::export_files): full names, or the 9-character fields
// without their padding.
std::vector<std::string> display_names(const inference::InferredNetwork& network) {
    if (network.full_names.size() == network.gene_names.size()) return network.full_names;
    std::vector<std::string> names;
    for (const std::string& field : network.gene_names) {
        names.push_back(field.substr(0, field.find_last_not_of(' ') + 1));
    }
    return names;
}

}  // namespace

double rounded_as_hint(double threshold) {
    char text[32];
    const auto printed =
        std::to_chars(text, text + sizeof text, threshold, std::chars_format::general, 2);
    double value = threshold;
    std::from_chars(text, printed.ptr, value);
    return value;
}

Results::Results(RunResults run) : run_(std::move(run)) {
    const inference::InferredNetwork& net = run_.summary.network;
    names_ = display_names(net);
    ranked_ =
        output::rank_edges(numeric::ConstMatrixRef{net.R.data(), std::max(net.n, 1)}, net.n, true);
    between_count_ = static_cast<std::size_t>(
        std::partition_point(ranked_.begin(), ranked_.end(),
                             [](const output::RankedEdge& e) { return e.regulator != e.target; }) -
        ranked_.begin());
    largest_between_ = exports::largest_between_genes(net);
    if (!(largest_between_ > 0.0 && std::isfinite(largest_between_))) return;
    // The share of the largest entry was measured on the coefficients of the exact and fast
    // engines. The other engines' entries are scores whose default threshold was chosen where
    // the mean F1 on simulated networks peaked; a share of their largest score (near 1) would
    // draw far more than that default, so the default is their suggestion.
    const inference::EngineDescription* engine = inference::find_engine(run_.record.engine);
    score_engine_ = engine != nullptr && !engine->uses_lambda;
    suggested_ = score_engine_ ? engine->default_threshold
                               : rounded_as_hint(exports::kSuggestedShare * largest_between_);
}

std::span<const output::RankedEdge> Results::ranked(bool self_loops) const noexcept {
    const std::span<const output::RankedEdge> all(ranked_);
    return self_loops ? all : all.first(between_count_);
}

double Results::top_threshold(int K, bool with_self) const {
    const auto n = static_cast<std::size_t>(network().n);
    const auto k = static_cast<std::size_t>(std::max(K, 0));
    if (!with_self) {
        // The entries between distinct genes lead the ranking, strongest first.
        return k < between_count_ ? std::abs(ranked_[k].weight) : 0.0;
    }
    if (k >= n * n || k >= ranked_.size()) return 0.0;  // the (K+1)-th largest is a zero
    const std::span<const output::RankedEdge> all(ranked_);
    return kth_of_merged(all.first(between_count_), all.subspan(between_count_), k);
}

CutNetwork Results::apply(const Cut& cut, std::size_t cap) const {
    CutNetwork result;
    result.cut = cut;
    result.threshold = cut.top > 0 ? top_threshold(cut.top, cut.self_loops) : cut.threshold;
    const double t = result.threshold;

    // The counts by GRN.dot's rule (output::edge_sign: r > t first, then r < -t), as the run
    // counts them, without branches: the signs of R are as good as random to a predictor.
    const inference::InferredNetwork& net = network();
    const numeric::ConstMatrixRef R{net.R.data(), std::max(net.n, 1)};
    long long positive = 0;
    long long negative = 0;
    for (int j = 1; j <= net.n; ++j) {
        for (int i = 1; i <= net.n; ++i) {
            const double r = R(i, j);
            const int above = r > t;
            positive += above;
            negative += (r < -t) & (above ^ 1);  // bitwise: && would branch
        }
        result.self_edges += output::edge_sign(R(j, j), t) != 0;
    }
    result.positive_edges = static_cast<int>(positive);
    result.negative_edges = static_cast<int>(negative);

    // Within each run of the ranking |R| falls, so the drawn entries of a run are a prefix of
    // it, whatever the threshold (negative: all; NaN: none).
    const auto is_drawn = [t](const output::RankedEdge& e) {
        return output::edge_sign(e.weight, t) != 0;
    };
    const std::span<const output::RankedEdge> all(ranked_);
    const std::span<const output::RankedEdge> between = all.first(between_count_);
    const std::span<const output::RankedEdge> self = all.subspan(between_count_);
    const auto drawn_between = static_cast<std::size_t>(
        std::partition_point(between.begin(), between.end(), is_drawn) - between.begin());
    const auto drawn_self =
        cut.self_loops
            ? static_cast<std::size_t>(std::partition_point(self.begin(), self.end(), is_drawn) -
                                       self.begin())
            : 0;
    result.drawn = drawn_between + drawn_self;
    const std::size_t shown_between = std::min(drawn_between, cap);
    const std::size_t shown_self = std::min(drawn_self, cap - shown_between);
    result.shown.assign(between.begin(),
                        between.begin() + static_cast<std::ptrdiff_t>(shown_between));
    result.shown.insert(result.shown.end(), self.begin(),
                        self.begin() + static_cast<std::ptrdiff_t>(shown_self));
    result.between_shown = static_cast<int>(shown_between);
    return result;
}

inference::RunSummary Results::summary_for(const CutNetwork& cut) const {
    inference::RunSummary summary = run_.summary;
    summary.threshold = cut.threshold;
    summary.positive_edges = cut.positive_edges;
    summary.negative_edges = cut.negative_edges;
    summary.self_edges = cut.self_edges;
    return summary;
}

exports::RunRecord Results::record_for(const CutNetwork& cut) const {
    exports::RunRecord record = run_.record;
    record.threshold = cut.threshold;
    record.self_edges = cut.cut.self_loops;
    return record;
}

}  // namespace netrevia::viewer
