// Fuzz target of the table reader. The bytes are one table, read under five sets of options
// that together reach every layout, the delimiters, the time options, course picks, floors,
// fills and both ways with replicates, within a memory budget of 64 MiB; a TableError is the
// expected answer to most inputs. Invariants: nothing but TableError leaves the reader, and its
// message holds no control byte (text from the table is escaped); an accepted set has at most 2000
// genes and courses of at least 2 strictly increasing time points with n x T finite values; the
// data file made of it reads back through the data-file reader to the same names and the same
// numbers, bit for bit; and the experiment made of it for the engines has distinct
// 9-character names and the levels 2^x (or is refused for a rate that is not finite).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "inference/data_file.h"
#include "inference/experiment.h"
#include "inference/input_error.h"
#include "table/expression_table.h"
#include "table/import.h"

namespace {

using namespace netrevia;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant failed: %s\n", what);
        std::abort();
    }
}

std::vector<table::TableOptions> option_sets() {
    std::vector<table::TableOptions> sets(5);
    sets[0].scale = table::Scale::kLog2;  // everything detected
    sets[0].fill_interpolate = true;
    sets[0].max_courses = table::kNoCourseLimit;
    sets[0].replicates = table::Replicates::kMean;
    sets[1].floor = 0.001;  // no scale: DREAM files only
    sets[1].courses = {{2, 3}, {1, 1}};
    sets[2].scale = table::Scale::kLinear;  // no time column, runs of blanks
    sets[2].interval = 0.5;
    sets[2].points = 3;
    sets[2].floor = 0.5;
    sets[2].delimiter = ' ';
    sets[3].layout = table::Layout::kLong;
    sets[3].columns = {"g", "c", "t", "v"};
    sets[3].delimiter = ';';
    sets[3].scale = table::Scale::kLn;
    sets[3].fill_interpolate = true;
    sets[4].layout = table::Layout::kWide;
    sets[4].orientation = table::Orientation::kTimesInRows;
    sets[4].scale = table::Scale::kLog10;
    sets[4].replicates = table::Replicates::kCourses;
    for (table::TableOptions& o : sets) o.memory_budget = std::uint64_t{64} << 20;
    return sets;
}

void check_set(const table::ExpressionSet& set, const table::TableOptions& o) {
    const std::size_t n = set.names.size();
    // No genes is allowed, as in a data file: a table of one time column gives an empty network.
    check(n <= static_cast<std::size_t>(table::kMaxTableGenes), "gene count");
    check(!set.courses.empty() && static_cast<long long>(set.courses.size()) <= o.max_courses,
          "course count");
    for (const table::TimeCourse& c : set.courses) {
        check(c.t.size() >= 2 && c.x.size() == n * c.t.size(), "course shape");
        for (std::size_t j = 1; j < c.t.size(); ++j)
            check(c.t[j] > c.t[j - 1] && std::isnormal(c.t[j] - c.t[j - 1]), "time order");
        for (double x : c.x) check(std::isfinite(x) && std::isfinite(std::exp2(x)), "value range");
    }
}

// The experiment the engines take has distinct 9-character names and the levels 2^x, or is
// refused for a rate of change that is not finite.
void check_experiment(const table::ImportedTables& tables) {
    try {
        const inference::Experiment e = table::to_experiment(tables, {"fuzz.csv"});
        const std::set<std::string> distinct(e.gene_names.begin(), e.gene_names.end());
        check(distinct.size() == e.gene_names.size(), "distinct gene fields");
        for (const std::string& name : e.gene_names)
            check(name.size() == static_cast<std::size_t>(inference::kNameLength), "field width");
        check(e.courses.size() == tables.set.courses.size(), "experiment courses");
        for (std::size_t k = 0; k < e.courses.size(); ++k) {
            const std::vector<double>& x = tables.set.courses[k].x;
            for (std::size_t m = 0; m < x.size(); ++m)
                check(e.courses[k].levels[m] == std::pow(2.0, x[m]), "levels are 2^x");
        }
    } catch (const inference::DataFileRejected&) {
    }
}

// The data file written from the set reads back to its short names and its numbers.
void check_round_trip(const table::ImportedTables& tables) {
    const table::ExpressionSet& set = tables.set;
    if (set.courses.size() > static_cast<std::size_t>(inference::kMaxEnsembleBlocks)) return;
    std::istringstream in(table::data_file_text(tables), std::ios::in | std::ios::binary);
    inference::DataFileReader reader(in, "fuzz.dat");
    try {
        const inference::FileHeader header = inference::read_file_header(reader);
        check(header.n == static_cast<int>(set.names.size()), "data file gene count");
        const std::vector<std::string> names = inference::read_gene_names(reader, header.n);
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::string expected = tables.short_names[i];
            expected.resize(inference::kNameLength, ' ');
            check(names[i] == expected, "data file name");
        }
        for (std::size_t k = 0; k < set.courses.size(); ++k) {
            const table::TimeCourse& c = set.courses[k];
            check(!inference::is_end_marker(reader.read_marker()), "data file block marker");
            const int block = static_cast<int>(k) + 1;
            const inference::BlockHeader b =
                inference::read_block_header(reader, header, block, inference::kMaxEnsembleBlocks);
            check(b.T == static_cast<int>(c.t.size()), "data file time-point count");
            std::vector<double> t(c.t.size(), 0.0);
            inference::read_time_points(reader, block, t);
            check(std::memcmp(t.data(), c.t.data(), t.size() * sizeof(double)) == 0,
                  "data file time points");
            inference::read_reserved_value(reader);
            std::vector<double> x(c.t.size(), 0.0);
            for (int i = 1; i <= b.n; ++i) {
                inference::read_expression_row(reader, block, i, names[std::size_t(i - 1)], x);
                const double* want = c.x.data() + std::size_t(i - 1) * c.t.size();
                check(std::memcmp(x.data(), want, x.size() * sizeof(double)) == 0,
                      "data file values");
            }
        }
        check(inference::is_end_marker(reader.read_marker()), "data file END");
    } catch (const inference::InputError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        check(false, "the data file made from a table reads back");
    } catch (const inference::DataFileRejected& e) {
        std::fprintf(stderr, "%s\n", e.what());
        check(false, "the data file made from a table is accepted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<table::TableOptions> sets = option_sets();
    const std::vector<std::string> texts{std::string(reinterpret_cast<const char*>(data), size)};
    for (const table::TableOptions& o : sets) {
        try {
            table::ImportedTables tables;
            tables.set = table::read_table_texts({"fuzz.csv"}, texts, o);
            check_set(tables.set, o);
            tables.short_names = table::make_short_names(tables.set.names, tables.renamed);
            check_round_trip(tables);
            check_experiment(tables);
        } catch (const table::TableError& e) {
            for (const char c : std::string(e.what())) {
                const auto byte = static_cast<unsigned char>(c);
                check(byte >= 0x20 && byte != 0x7f, "control byte in a message");
            }
        }
    }
    return 0;
}
