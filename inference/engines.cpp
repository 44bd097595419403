#include "inference/engines.h"

#include <array>

#include "ensemble/ensemble.h"
#include "inference/run.h"

namespace netrevia::inference {
namespace {

using selection::Engine;

// Default threshold of the engines whose |R(i,j)| are mean scaled ranks in [0, 1]: on simulated
// networks 0.75 gave the best mean F1 (docs/guide.md, the ensemble engine).
constexpr double kRankThreshold = 0.75;

// clang-format off
constexpr std::array<EngineDescription, 3> kEngines{{
    {"exact", Engine::kExact,
     "least-absolute-deviation fits and weighted medians, the reference method; up to 4 courses",
     "", true, false, 1.0e-6},
    {"fast", Engine::kFast,
     "the same fits in their small form, for hundreds or thousands of genes; up to 4 courses",
     "", true, false, 1.0e-6},
    {"ensemble", Engine::kEnsemble,
     "least squares on random gene subsets, ranked and averaged, for noisy data; up to 64 "
     "courses, no lambda",
     "fitting least squares on random gene subsets", false, true, kRankThreshold},
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

std::string engine_names() {
    std::string names;
    for (std::size_t k = 0; k < kEngines.size(); ++k) {
        if (k > 0) names += k + 1 == kEngines.size() ? " or " : ", ";
        names += kEngines[k].name;
    }
    return names;
}

std::string engine_refusal(const EngineDescription& engine, int n, int K, long long intervals) {
    const int limit = engine_course_limit(engine.engine);
    const std::string name(engine.name);
    if (K > limit) {
        std::string others;
        for (const EngineDescription& other : kEngines) {
            if (engine_course_limit(other.engine) < K) continue;
            others += (others.empty() ? "" : " or ") + std::string(other.name);
        }
        return "The " + name + " engine takes at most " + std::to_string(limit) +
               " time courses; this input holds " + std::to_string(K) +
               (others.empty() ? std::string(".") : ": choose the " + others + " engine.");
    }
    if (engine.engine == Engine::kEnsemble && n >= 2 && ensemble::subset_size(n, intervals) == 0) {
        return "The " + name +
               " engine needs at least 4 intervals (time points less one, over all courses); "
               "this input holds " +
               std::to_string(intervals) + ".";
    }
    return {};
}

}  // namespace netrevia::inference
