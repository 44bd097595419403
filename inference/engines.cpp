#include "inference/engines.h"

#include <array>
#include <vector>

#include "ensemble/ensemble.h"
#include "inference/run.h"

namespace netrevia::inference {
namespace {

using selection::Engine;

// Default thresholds, each chosen by the best mean F1 on simulated networks (docs/guide.md, the
// ensemble engine, the tree engine): the ensemble's |R(i,j)| are mean scaled ranks in [0, 1],
// the trees' importance shares in [0, 1], the consensus' geometric means of the two.
constexpr double kEnsembleThreshold = 0.75;
constexpr double kTreesThreshold = 0.07;
constexpr double kConsensusThreshold = 0.2;

// The linear model of the exact and fast engines is one matrix J for all genes together: every
// course's solution and the selection span all n x n entries, with no regressors to leave out.
constexpr std::string_view kWholeModel =
    "its model fits every gene on the levels of all genes, with no choice of regulators";

// clang-format off
constexpr std::array<EngineDescription, 5> kEngines{{
    {"exact", Engine::kExact,
     "least-absolute-deviation fits and weighted medians, the reference method; up to 4 courses",
     "", true, false, 1.0e-6, kWholeModel},
    {"fast", Engine::kFast,
     "the same fits in their small form, for hundreds or thousands of genes; up to 4 courses",
     "", true, false, 1.0e-6, kWholeModel},
    {"ensemble", Engine::kEnsemble,
     "least squares on random gene subsets, ranked and averaged, for noisy data; up to 64 "
     "courses, no lambda",
     "fitting least squares on random gene subsets", false, true, kEnsembleThreshold, ""},
    {"trees", Engine::kTrees,
     "extremely randomized trees per gene, for saturating or combined regulation; up to 64 "
     "courses, no lambda, minutes for hundreds of genes",
     "growing randomized trees for every gene", false, true, kTreesThreshold, ""},
    {"consensus", Engine::kConsensus,
     "the geometric mean of the ensemble and tree scores; up to 64 courses, no lambda",
     "running the ensemble and the tree engine", false, true, kConsensusThreshold, ""},
}};
// clang-format on

}  // namespace

std::span<const EngineDescription> engines() noexcept { return kEngines; }

const EngineDescription* find_engine(std::string_view name) noexcept {
    for (const EngineDescription& engine : kEngines) {
        if (engine.name == name) return &engine;
    }
    return nullptr;
}

const EngineDescription& describe(selection::Engine engine) noexcept {
    for (const EngineDescription& description : kEngines) {
        if (description.engine == engine) return description;
    }
    return kEngines.front();
}

namespace {

// "a", "a or b", "a, b or c".
std::string in_words(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (k > 0) text += k + 1 == names.size() ? " or " : ", ";
        text += names[k];
    }
    return text;
}

}  // namespace

std::string engine_names() {
    std::vector<std::string_view> names;
    for (const EngineDescription& engine : kEngines) names.push_back(engine.name);
    return in_words(names);
}

std::string engine_refusal(const EngineDescription& engine, int n, int K, long long intervals) {
    const int limit = engine_course_limit(engine.engine);
    const std::string name(engine.name);
    if (K > limit) {
        std::vector<std::string_view> others;
        for (const EngineDescription& other : kEngines) {
            if (engine_course_limit(other.engine) >= K) others.push_back(other.name);
        }
        return "The " + name + " engine takes at most " + std::to_string(limit) +
               " courses, this input has " + std::to_string(K) +
               (others.empty() ? std::string(".") : ": choose " + in_words(others) + ".");
    }
    // The engines without the selection loop fit least squares on gene subsets (the tree
    // engine takes its signs from them), two genes and an intercept at the least.
    if (!engine.working.empty() && n >= 2 && ensemble::subset_size(n, intervals) == 0) {
        return "The " + name +
               " engine needs at least 4 intervals (time points less one, all courses); this "
               "input has " +
               std::to_string(intervals) + ".";
    }
    return {};
}

}  // namespace netrevia::inference
