#include "exports/exports.h"

#include <openssl/evp.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "inference/data_file.h"
#include "inference/engines.h"
#include "numeric/matrix_ref.h"
#include "output/io_error.h"
#include "output/network_exports.h"

namespace netrevia::exports {

namespace {

// Full names, or the 9-character field without its padding where a reader has none.
std::vector<std::string> export_names(const inference::InferredNetwork& network) {
    if (network.full_names.size() == network.gene_names.size()) return network.full_names;
    std::vector<std::string> names;
    for (const std::string& field : network.gene_names) {
        names.push_back(field.substr(0, field.find_last_not_of(' ') + 1));
    }
    return names;
}

std::string run_record_text(const inference::RunSummary& summary,
                            const RunRecord& record,
                            const std::vector<std::string>& files) {
    const inference::InferredNetwork& net = summary.network;
    const auto input_json = [](const InputRecord& input) {
        return nlohmann::ordered_json{
            {"path", input.path.string()}, {"bytes", input.bytes}, {"sha256", input.sha256}};
    };
    nlohmann::ordered_json inputs = nlohmann::ordered_json::array();
    for (const InputRecord& input : record.inputs) inputs.push_back(input_json(input));
    nlohmann::ordered_json courses = nlohmann::ordered_json::array();
    for (int k = 0; k < net.K; ++k) {
        courses.push_back({{"course", k + 1},
                           {"time_points", net.time_point_counts[static_cast<std::size_t>(k)]}});
    }
    const double largest = largest_between_genes(net);
    // As the Results window suggests: the share of the largest entry for the engines that fit
    // coefficients, the engine's own default for those whose entries are scores.
    const inference::EngineDescription* described = inference::find_engine(record.engine);
    const double hint = described != nullptr && !described->uses_lambda
                            ? described->default_threshold
                            : kSuggestedShare * largest;
    const int edges = summary.positive_edges + summary.negative_edges;
    const std::chrono::duration<double> wall =
        record.wall_time ? *record.wall_time : std::chrono::steady_clock::now() - record.start;
    nlohmann::ordered_json json = {
        {"tool", record.tool},
        {"version", NETREVIA_VERSION},
        {"command_line", record.command_line},
        {"engine", record.engine},
        {"threads", record.threads},
        {"lambda", record.lambda},
        {"threshold", record.threshold},
        {record.tables ? "tables" : "data_file",
         record.tables || inputs.empty() ? inputs : inputs.front()},
        {"genes", net.n},
        {"courses", courses},
        {"iterations", net.iterations},
        {"objective", net.objective},
        {"edges",
         {{"drawn", edges},
          {"positive", summary.positive_edges},
          {"negative", summary.negative_edges},
          {"self", summary.self_edges},
          {"between_genes", edges - summary.self_edges}}},
        {"largest_abs_weight_between_genes", largest},
        {"threshold_hint", hint},
        {"wall_seconds", wall.count()},
        {"files", files},
    };
    if (record.engine == "ensemble" || record.engine == "trees" || record.engine == "consensus") {
        json["seed"] = record.seed;
        json["runs"] = net.runs;
        json["subset_size"] = net.subset_size;
    }
    if (record.replicates) {
        const ReplicateRecord& r = *record.replicates;
        json["replicates"] = {{"handling", r.handling},
                              {"replicates", r.replicates},
                              {"courses_with_replicates", r.courses},
                              {"summary", r.summary}};
    }
    if (record.regulators) {
        const RegulatorRecord& list = *record.regulators;
        json["regulators"] = {{"path", list.file.path.string()},
                              {"bytes", list.file.bytes},
                              {"sha256", list.file.sha256},
                              {"names_listed", list.listed},
                              {"names_not_among_genes", list.unknown},
                              {"genes", list.genes}};
    }
    // Only the ensemble engine leaves such genes out; the trees never split on a constant one.
    if (record.engine == "ensemble") json["genes_without_change"] = net.flat_genes.size();
    if (record.engine == "trees" || record.engine == "consensus") {
        json["trees_per_target"] = net.trees;
        if (record.decay >= 0.0) {
            json["decay"] = record.decay;
        } else {
            json["decay"] = "estimated";
        }
        json["decay_per_gene"] = net.decay;
    }
    // Non-ASCII names and paths that are not UTF-8 become U+FFFD rather than stopping the run.
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

std::optional<ExportSet> parse_export_list(const std::string& text) {
    ExportSet set;
    if (text == "none") return set;
    if (text == "all") return ExportSet{true, true, true, true};
    std::istringstream items(text);
    std::string item;
    bool any = false;
    while (std::getline(items, item, ',')) {
        if (item == "edges") {
            set.edges = true;
        } else if (item == "sif") {
            set.sif = true;
        } else if (item == "graphml") {
            set.graphml = true;
        } else if (item == "json") {
            set.json = true;
        } else {
            return {};
        }
        any = true;
    }
    if (!any || text.back() == ',') return {};
    return set;
}

double largest_between_genes(const inference::InferredNetwork& network) {
    const numeric::ConstMatrixRef R{network.R.data(), std::max(network.n, 1)};
    double largest = 0.0;
    for (int j = 1; j <= network.n; ++j) {
        for (int i = 1; i <= network.n; ++i) {
            if (i != j && std::abs(R(i, j)) > largest) largest = std::abs(R(i, j));
        }
    }
    return largest;
}

std::vector<output::ExtraResultFile> export_files(const inference::RunSummary& summary,
                                                  const ExportSet& set,
                                                  const RunRecord& record) {
    const inference::InferredNetwork& net = summary.network;
    // Shared by the writers, which run before the summary goes out of reach.
    auto names = std::make_shared<const std::vector<std::string>>(export_names(net));
    auto edges = std::make_shared<const std::vector<output::RankedEdge>>(output::rank_edges(
        numeric::ConstMatrixRef{net.R.data(), std::max(net.n, 1)}, net.n, record.self_edges));
    const double t = record.threshold;
    std::vector<output::ExtraResultFile> files;
    if (set.edges) {
        files.push_back({output::kEdgeListFileName, kEdgeListUnit, [=](std::ostream& out) {
                             output::format_edge_list(out, *names, *edges, t);
                         }});
    }
    if (set.sif) {
        files.push_back({output::kSifFileName, kSifUnit,
                         [=](std::ostream& out) { output::format_sif(out, *names, *edges, t); }});
    }
    if (set.graphml) {
        files.push_back({output::kGraphmlFileName, kGraphmlUnit, [=](std::ostream& out) {
                             output::format_graphml(out, *names, *edges, t);
                         }});
    }
    if (set.json) {
        std::vector<std::string> listed{"GRN.dat", "GRN.dot"};
        for (const output::ExtraResultFile& file : files) listed.push_back(file.name);
        listed.push_back(kRunRecordFileName);
        // Timed now, once the network is known and before any file is written.
        const std::string text = run_record_text(summary, record, listed);
        files.push_back(
            {kRunRecordFileName, kRunRecordUnit, [text](std::ostream& out) { out << text; }});
    }
    return files;
}

namespace {

std::string hex_text(const unsigned char* digest, unsigned int length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int k = 0; k < length; ++k) {
        hex.push_back(kHex[digest[k] >> 4]);
        hex.push_back(kHex[digest[k] & 0x0f]);
    }
    return hex;
}

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

DigestContext new_sha256() {
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        throw std::bad_alloc();
    }
    return context;
}

std::string finish_sha256(EVP_MD_CTX* context) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest.data(), &length);
    return hex_text(digest.data(), length);
}

}  // namespace

struct InputDigests::Context {
    DigestContext sha256{nullptr, &EVP_MD_CTX_free};
};

InputDigests::InputDigests() : context_(std::make_unique<Context>()) {}
InputDigests::~InputDigests() = default;

void InputDigests::begin(const std::filesystem::path& file) {
    context_->sha256 = new_sha256();
    current_ = InputRecord{file, 0, {}};
}

void InputDigests::bytes(std::string_view chunk) {
    EVP_DigestUpdate(context_->sha256.get(), chunk.data(), chunk.size());
    current_.bytes += chunk.size();
}

void InputDigests::end() {
    current_.sha256 = finish_sha256(context_->sha256.get());
    records_.push_back(std::move(current_));
    current_ = {};
}

std::string sha256_hex(const std::filesystem::path& file, std::uintmax_t& size) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw output::IoError("input error: cannot read the file again", 7, file);
    const DigestContext context = new_sha256();
    std::array<char, 1 << 16> buffer{};
    size = 0;
    while (in) {
        in.read(buffer.data(), buffer.size());
        const auto count = static_cast<std::size_t>(in.gcount());
        EVP_DigestUpdate(context.get(), buffer.data(), count);
        size += count;
    }
    if (in.bad()) throw output::IoError("input error: the file could not be read", 7, file);
    return finish_sha256(context.get());
}

std::string flat_genes_warning(const inference::InferredNetwork& network) {
    const std::size_t count = network.flat_genes.size();
    if (count == 0) return {};
    const std::vector<std::string> names = export_names(network);
    std::string text = "the ensemble engine left out " + std::to_string(count) +
                       (count == 1 ? " gene that does not change (its levels spread by at most "
                                     "1/1000 of their mean); it scores 0 as a regulator and as a "
                                     "target:"
                                   : " genes that do not change (their levels spread by at most "
                                     "1/1000 of their mean); they score 0 as regulators and as "
                                     "targets:");
    for (std::size_t k = 0; k < count; ++k) {
        text += (k == 0 ? " '" : ", '") +
                names[static_cast<std::size_t>(network.flat_genes[k] - 1)] + "'";
    }
    return text;
}

std::optional<ReplicateRecord> replicate_record(const table::ExpressionSet& set) {
    if (set.replicates == table::Replicates::kUnset) return std::nullopt;
    return ReplicateRecord{set.replicates == table::Replicates::kMean ? "mean" : "courses",
                           set.replicate_count, set.replicated_courses,
                           table::replicates_text(set)};
}

}  // namespace netrevia::exports
