#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inference/run.h"
#include "output/result_files.h"
#include "table/expression_table.h"

namespace netrevia::exports {

inline constexpr const char* kRunRecordFileName = "run.json";
// Units named in the write errors of the exports, after GRN.dat (3) and GRN.dot (5).
inline constexpr int kEdgeListUnit = 8;
inline constexpr int kSifUnit = 9;
inline constexpr int kGraphmlUnit = 10;
inline constexpr int kRunRecordUnit = 11;

// Which exports a run writes besides GRN.dat and GRN.dot.
struct ExportSet {
    bool edges = false;    // edges.tsv
    bool sif = false;      // GRN.sif
    bool graphml = false;  // GRN.graphml
    bool json = false;     // run.json
};

// "edges,sif,graphml,json" in any order and subset, "all" or "none"; nothing for anything else.
std::optional<ExportSet> parse_export_list(const std::string& text);

// Largest |R(i,j)| between distinct genes (NaN never counts), and the threshold the batch tool
// suggests from it: a share of kSuggestedShare, which on simulated networks of 10 to 50 genes
// drew far fewer false edges than the default (scripts/guide_grid.sh, docs/guide.md).
inline constexpr double kSuggestedShare = 0.2;
double largest_between_genes(const inference::InferredNetwork& network);

// One input file as the run read it: its path as given, its size and the SHA-256 of its bytes
// (64 lower-case hex digits).
struct InputRecord {
    std::filesystem::path path;
    std::uintmax_t bytes = 0;
    std::string sha256;
};

// Hashes every input file the readers take through it (inference::RunOptions::input_observer):
// the bytes the run read, from the file it had open, so that a file replaced during the run is
// recorded as it was read. One record per file, in the order read.
class InputDigests : public inference::InputObserver {
public:
    InputDigests();
    ~InputDigests() override;
    InputDigests(const InputDigests&) = delete;
    InputDigests& operator=(const InputDigests&) = delete;

    void begin(const std::filesystem::path& file) override;
    void bytes(std::string_view chunk) override;
    void end() override;
    // The files whose reading ended (end() was called), in order.
    const std::vector<InputRecord>& records() const noexcept { return records_; }
    void clear() noexcept { records_.clear(); }

private:
    struct Context;
    std::unique_ptr<Context> context_;
    std::vector<InputRecord> records_;
    InputRecord current_;
};

// The list of candidate regulators a run took: the file as read, the names it lists, the genes
// they name and the names that no gene has.
struct RegulatorRecord {
    InputRecord file;
    int listed = 0;
    int genes = 0;
    int unknown = 0;
};

// The replicates of the tables a run read and what became of them: "mean" (averaged at each
// time point) or "courses" (each its own course).
struct ReplicateRecord {
    std::string handling;
    long long replicates = 0;  // of all courses that have more than one
    long long courses = 0;     // courses that have more than one
    std::string summary;       // as the run's summary says it
};

// The record of the replicates set held and how they were handled; none without replicates.
std::optional<ReplicateRecord> replicate_record(const table::ExpressionSet& set);

// What run.json records about the run besides the network itself.
struct RunRecord {
    std::string tool = "netrevia-batch";    // the program that ran: the batch tool or the window
    std::vector<std::string> command_line;  // the program name, then its arguments
    std::string engine;
    int threads = 0;  // as used: the hardware's count when none was asked for
    double lambda = 0.0;
    double threshold = 0.0;
    // What the run read: one data file, or the tables in the order given (tables = true).
    std::vector<InputRecord> inputs;
    bool tables = false;
    // The run's wall time: from start to the moment run.json is made, unless wall_time is set
    // (a run whose record is written later, from a window, records the run's own time).
    std::chrono::steady_clock::time_point start;
    std::optional<std::chrono::steady_clock::duration> wall_time;
    bool self_edges = true;  // self-terms in edges.tsv, GRN.sif and GRN.graphml
    std::uint64_t seed = 0;  // recorded for the ensemble, tree and consensus engines only
    double decay = -1.0;     // the tree engine's --decay; < 0: estimated per gene
    std::optional<RegulatorRecord> regulators;  // --regulators; none: every gene may regulate
    std::optional<ReplicateRecord> replicates;  // tables with replicates: what was done
};

// The exports of set for a finished run, in the order they are committed: edges.tsv, GRN.sif,
// GRN.graphml, run.json. The names are the full gene names. run.json lists every file of the
// commit, itself included, and the inputs as record holds them ("data_file", or "tables").
std::vector<output::ExtraResultFile> export_files(const inference::RunSummary& summary,
                                                  const ExportSet& set,
                                                  const RunRecord& record);

// SHA-256 of the file's bytes as 64 lower-case hex digits, and its size; throws output::IoError
// (unit 7) when it cannot be read.
std::string sha256_hex(const std::filesystem::path& file, std::uintmax_t& size);

// The warning for the genes the ensemble engine left out because they do not change, naming
// each (full names); empty when there are none.
std::string flat_genes_warning(const inference::InferredNetwork& network);

}  // namespace netrevia::exports
