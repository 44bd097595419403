#pragma once

#include <span>
#include <string>
#include <string_view>

#include "selection/select_network.h"

namespace netrevia::inference {

// One way of inferring the network, as the batch tool's --engine and the window's list of
// engines offer it. Both take the list from here, so an engine added here appears in both.
struct EngineDescription {
    std::string_view name;  // as --engine takes it and the window lists it
    selection::Engine engine;
    std::string_view summary;  // what it does, in one line for the window
    // What a run shows while the engine works, for an engine that has no iterations to count;
    // empty for the engines of the selection loop, which report each iteration.
    std::string_view working;
    bool uses_lambda;
    bool uses_seed;
    double default_threshold;  // the threshold when none is given
    // Why the engine takes no list of candidate regulators (RunOptions::regulators), in one
    // line; empty when it takes one.
    std::string_view no_regulators;
};

// Every engine, the default (exact, the reference method) first.
std::span<const EngineDescription> engines() noexcept;

// The engine of that name, or nullptr.
const EngineDescription* find_engine(std::string_view name) noexcept;
const EngineDescription& describe(selection::Engine engine) noexcept;

// The names for a message: "exact, fast or ensemble".
std::string engine_names();

// Why the engine cannot take an experiment of n genes and K courses holding `intervals` intervals
// (time points less one, over all courses), in a sentence short enough for two lines of the
// window; empty when it can. The run itself checks the same limits again (infer_network).
std::string engine_refusal(const EngineDescription& engine, int n, int K, long long intervals);

}  // namespace netrevia::inference
