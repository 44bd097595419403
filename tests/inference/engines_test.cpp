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
        // An engine without iterations says what it does instead; those take up to 64 courses,
        // draw at random and weigh no sparsity.
        const bool iterates =
            engine.engine == selection::Engine::kExact || engine.engine == selection::Engine::kFast;
        EXPECT_EQ(engine.working.empty(), iterates) << engine.name;
        EXPECT_EQ(engine.uses_seed, !iterates) << engine.name;
        EXPECT_EQ(engine.uses_lambda, iterates) << engine.name;
        EXPECT_EQ(engine_course_limit(engine.engine), iterates ? 4 : 64) << engine.name;
        // The engines that fit gene subsets or trees take a list of regulators; the others
        // say in one line why not.
        EXPECT_EQ(engine.no_regulators.empty(), !iterates) << engine.name;
        EXPECT_EQ(engine.no_regulators.find('\n'), std::string_view::npos);
    }
    EXPECT_EQ(engines().front().name, "exact");
    EXPECT_EQ(find_engine("Exact"), nullptr);
    EXPECT_EQ(engine_names(), "exact, fast, ensemble, trees or consensus");
    EXPECT_EQ(describe(selection::Engine::kEnsemble).default_threshold, 0.75);
    EXPECT_EQ(describe(selection::Engine::kFast).default_threshold, 1.0e-6);
    EXPECT_EQ(describe(selection::Engine::kTrees).default_threshold, 0.07);
    EXPECT_EQ(describe(selection::Engine::kConsensus).default_threshold, 0.2);
}

// A refusal names the limit, what the input holds and the engines that can take it; at the
// limit itself there is none.
TEST(Engines, RefusalNamesTheLimitAndTheEnginesThatCanTakeTheInput) {
    const EngineDescription& exact = describe(selection::Engine::kExact);
    const EngineDescription& ensemble = describe(selection::Engine::kEnsemble);
    EXPECT_EQ(engine_refusal(exact, 10, 4, 80), "");
    EXPECT_EQ(engine_refusal(exact, 10, 5, 100),
              "The exact engine takes at most 4 courses, this input has 5: choose ensemble, trees "
              "or consensus.");
    EXPECT_EQ(engine_refusal(ensemble, 10, 5, 100), "");
    EXPECT_EQ(engine_refusal(ensemble, 10, 65, 1000),
              "The ensemble engine takes at most 64 courses, this input has 65.");
    // Two genes and an intercept need more than 3 intervals; one gene has nothing to fit.
    EXPECT_EQ(engine_refusal(ensemble, 3, 1, 3),
              "The ensemble engine needs at least 4 intervals (time points less one, all "
              "courses); this input has 3.");
    EXPECT_EQ(engine_refusal(ensemble, 3, 1, 4), "");
    EXPECT_NE(engine_refusal(ensemble, 2, 1, 3), "");  // two genes are the least it fits
    EXPECT_EQ(engine_refusal(describe(selection::Engine::kTrees), 3, 1, 3)
                  .rfind("The trees engine needs at least 4 intervals", 0),
              0u);
    EXPECT_EQ(engine_refusal(ensemble, 1, 1, 1), "");
    EXPECT_EQ(engine_refusal(exact, 3, 1, 1), "");
}

}  // namespace
}  // namespace netrevia::inference
