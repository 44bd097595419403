// Fuzz target of the data-file reader. The bytes are read as a data file in the run's order
// (header, names, marker lines, dataset blocks); a read error or a rejection is the expected
// answer to most inputs. A file the reader accepts with at most 12 genes and 12 time points
// per block then goes through the whole run (per-dataset solutions and the selection, one
// thread), so that the numerics see odd but accepted inputs too. Invariants: nothing but
// InputError and DataFileRejected leaves the reader; an accepted file's experiment has distinct
// 9-character gene fields, and its reading showed the observer exactly the file's bytes; an
// accepted run yields an n x n matrix.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "inference/data_file.h"
#include "inference/input_error.h"
#include "inference/run.h"

namespace {

using namespace netrevia;

class Recorder : public inference::InputObserver {
public:
    void begin(const std::filesystem::path&) override { seen.clear(); }
    void bytes(std::string_view chunk) override { seen.append(chunk); }
    void end() override { ended = true; }
    std::string seen;
    bool ended = false;
};

constexpr int kMaxRunGenes = 12;
constexpr int kMaxRunTimePoints = 12;

// Reads the whole file as the run does, without the numerics. True when the reader accepts it
// and it is small enough for a whole run.
bool read_accepts_small(const std::string& bytes) {
    std::istringstream in(bytes, std::ios::in | std::ios::binary);
    inference::DataFileReader reader(in, "fuzz.dat");
    bool small = true;
    try {
        const inference::FileHeader header = inference::read_file_header(reader);
        small = header.n <= kMaxRunGenes;
        const std::vector<std::string> names = inference::read_gene_names(reader, header.n);
        for (int k = 1; !inference::is_end_marker(reader.read_marker()); ++k) {
            const inference::BlockHeader block = inference::read_block_header(reader, header, k);
            // The run refuses a T that the rest of the file cannot hold before sizing anything
            // by it; every accepted T is below the input's length.
            if (static_cast<std::size_t>(block.T) > bytes.size()) return false;
            small = small && block.T <= kMaxRunTimePoints;
            std::vector<double> t(static_cast<std::size_t>(block.T), 0.0);
            inference::read_time_points(reader, k, t);
            inference::read_reserved_value(reader);
            std::vector<double> x(static_cast<std::size_t>(block.T), 0.0);
            for (int i = 1; i <= block.n; ++i) {
                std::fill(x.begin(), x.end(), 0.0);
                inference::read_expression_row(reader, k, i, names[static_cast<std::size_t>(i - 1)],
                                               x);
            }
        }
    } catch (const inference::InputError&) {
        return false;
    } catch (const inference::DataFileRejected&) {
        return false;
    }
    return small;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!read_accepts_small(bytes)) return 0;

    // The run takes a path: the input goes to a file of this process's own.
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("netrevia-fuzz-" + std::to_string(getpid()) + ".dat");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    inference::RunOptions options;
    options.threads = 1;
    options.notify = [](std::string_view) {};
    Recorder recorder;
    options.input_observer = &recorder;
    const double lambda = size % 2 == 0 ? 0.0 : 0.05;
    try {
        const inference::Experiment experiment = inference::read_data_file(file, options);
        if (!recorder.ended || recorder.seen != bytes) std::abort();
        std::vector<std::string> fields = experiment.gene_names;
        std::sort(fields.begin(), fields.end());
        if (std::adjacent_find(fields.begin(), fields.end()) != fields.end()) std::abort();
        for (const std::string& field : fields) {
            if (field.size() != static_cast<std::size_t>(inference::kNameLength)) std::abort();
        }
        const inference::InferredNetwork network =
            inference::infer_network(experiment, lambda, options);
        if (network.R.size() !=
            static_cast<std::size_t>(network.n) * static_cast<std::size_t>(network.n)) {
            std::abort();
        }
    } catch (const inference::InputError&) {
    } catch (const inference::DataFileRejected&) {
        // The run rejects more than the reader alone: rates of change that overflow.
    }
    std::filesystem::remove(file);
    return 0;
}
