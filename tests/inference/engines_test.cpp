#include "inference/engines.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "inference/run.h"

namespace netrevia::inference {
namespace {

// The list is what both the batch tool and the window offer: names are unique, each engine is
// found by its name and by its kind, and exact, the reference method, comes first.
TEST(Engines, EachEngineIsFoundByNameAndByKind) {
    std::set<std::string_view> names;
    for (const EngineDescription& engine : engines()) {
        EXPECT_TRUE(names.insert(engine.name).second) << engine.name;
        EXPECT_EQ(find_engine(engine.name), &engine);
        EXPECT_EQ(&describe(engine.engine), &engine);
        EXPECT_FALSE(engine.summary.empty()) << engine.name;
        // An engine without iterations says what it does instead.
        EXPECT_EQ(engine.working.empty(), engine.engine != selection::Engine::kEnsemble);
    }
    EXPECT_EQ(engines().front().name, "exact");
    EXPECT_EQ(find_engine("Exact"), nullptr);
    EXPECT_EQ(engine_names(), "exact, fast or ensemble");
    EXPECT_EQ(describe(selection::Engine::kEnsemble).default_threshold, 0.75);
    EXPECT_EQ(describe(selection::Engine::kFast).default_threshold, 1.0e-6);
    EXPECT_FALSE(describe(selection::Engine::kEnsemble).uses_lambda);
    EXPECT_TRUE(describe(selection::Engine::kEnsemble).uses_seed);
    // The engines of the selection loop weigh the sparsity by lambda and draw nothing.
    for (const selection::Engine engine : {selection::Engine::kExact, selection::Engine::kFast}) {
        EXPECT_TRUE(describe(engine).uses_lambda);
        EXPECT_FALSE(describe(engine).uses_seed);
    }
}

// A refusal names the limit, what the input holds and the engines that can take it; at the
// limit itself there is none.
TEST(Engines, RefusalNamesTheLimitAndTheEnginesThatCanTakeTheInput) {
    const EngineDescription& exact = describe(selection::Engine::kExact);
    const EngineDescription& ensemble = describe(selection::Engine::kEnsemble);
    EXPECT_EQ(engine_refusal(exact, 10, 4, 80), "");
    EXPECT_EQ(engine_refusal(exact, 10, 5, 100),
              "The exact engine takes at most 4 time courses; this input holds 5: choose the "
              "ensemble engine.");
    EXPECT_EQ(engine_refusal(ensemble, 10, 5, 100), "");
    EXPECT_EQ(engine_refusal(ensemble, 10, 65, 1000),
              "The ensemble engine takes at most 64 time courses; this input holds 65.");
    // Two genes and an intercept need more than 3 intervals; one gene has nothing to fit.
    EXPECT_EQ(engine_refusal(ensemble, 3, 1, 3),
              "The ensemble engine needs at least 4 intervals (time points less one, over all "
              "courses); this input holds 3.");
    EXPECT_EQ(engine_refusal(ensemble, 3, 1, 4), "");
    EXPECT_EQ(engine_refusal(ensemble, 1, 1, 1), "");
    EXPECT_EQ(engine_refusal(exact, 3, 1, 1), "");
}

}  // namespace
}  // namespace netrevia::inference
