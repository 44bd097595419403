// netrevia-simulate: plants a sparse stable network, simulates time courses of dx/dt = J x (+ u)
// and writes them as a data file, with the true network as a table. See tools/README.md.
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/simulate.h"

namespace {

constexpr const char* kUsage =
    "usage: netrevia-simulate [--genes N] [--courses K] [--points T[,T...]] [--seed S]\n"
    "                         [--dt D] [--noise SIGMA] [--irregular] [--input]\n"
    "                         [--constant-gene] [--replicates R] [--out-data FILE]\n"
    "                         [--out-truth FILE] [--out-table FILE]\n"
    "Plants a random sparse stable network, simulates time courses of it and writes a\n"
    "data file and the true network (regulator, target, sign, weight).\n"
    "\n"
    "  --genes N          genes, named G01, G02, ...; 2 to 2000 (default 20)\n"
    "  --courses K        time courses (datasets), 1 to 4 (default 3)\n"
    "  --points T[,T...]  time points per course: one value for all, or one per\n"
    "                     course; at least 2 (default 10)\n"
    "  --seed S           seed of the random numbers; the same seed gives the same files\n"
    "                     byte for byte (default 1)\n"
    "  --dt D             sampling interval, the mean one with --irregular (default 0.02);\n"
    "                     1e-06 to 1000 (2e-06 to 1000 with --irregular)\n"
    "  --noise SIGMA      SIGMA * N(0,1) added to every log2 value, 0 to 100 (default 0)\n"
    "  --irregular        intervals D * U(0.5, 1.5) instead of D\n"
    "  --input            a constant input: dx/dt = J x + u, around a positive steady state\n"
    "  --constant-gene    adds a gene CONST whose log2 value is 0 at every time point\n"
    "  --replicates R     R copies of each course, each with noise of its own (--noise);\n"
    "                     1 to 100 (default 1); the data file holds the first, the\n"
    "                     table (--out-table, required for R > 1) all of them\n"
    "  --out-data FILE    the data file (default simulated.dat)\n"
    "  --out-truth FILE   the true network (default simulated_truth.tsv)\n"
    "  --out-table FILE   also every course and replicate as one table, time points in\n"
    "                     rows, with course and replicate columns (log2 values)\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "Exit codes: 0 success, 1 nothing could be simulated or a file not written, 2 a bad\n"
    "command line. See tools/README.md for the model.\n";

template <class T>
T number(const std::string& option, const std::string& text) {
    T v{};
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec != std::errc{} || res.ptr != text.data() + text.size())
        throw std::invalid_argument(option + ": not a number: '" + text + "'");
    return v;
}

void write(const std::string& path, const auto& writer) {
    errno = 0;
    std::ofstream out(path, std::ios::binary);
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    writer(out);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

// The truth written over the data file (or the other way round) would leave one of them, and
// a data file that the reader cannot read: names of one file, through links or "./", are
// refused.
bool same_file(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    // Absolute first: a relative path of which nothing exists comes back unchanged.
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, error), error);
    if (error) return false;
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, error), error);
    return !error && ca == cb;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace netrevia::tools;
    SimulationOptions opt;
    std::string data_path = "simulated.dat", truth_path = "simulated_truth.tsv", table_path;
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        for (std::size_t a = 0; a < args.size(); ++a) {
            const std::string& o = args[a];
            const auto value = [&]() -> const std::string& {
                if (a + 1 >= args.size()) throw std::invalid_argument(o + " needs a value");
                return args[++a];
            };
            if (o == "--genes")
                opt.genes = number<int>(o, value());
            else if (o == "--courses")
                opt.courses = number<int>(o, value());
            else if (o == "--seed")
                opt.seed = number<std::uint64_t>(o, value());
            else if (o == "--dt")
                opt.dt = number<double>(o, value());
            else if (o == "--noise")
                opt.noise = number<double>(o, value());
            else if (o == "--irregular")
                opt.irregular = true;
            else if (o == "--input")
                opt.input = true;
            else if (o == "--constant-gene")
                opt.constant_gene = true;
            else if (o == "--out-data")
                data_path = value();
            else if (o == "--out-truth")
                truth_path = value();
            else if (o == "--out-table")
                table_path = value();
            else if (o == "--replicates")
                opt.replicates = number<int>(o, value());
            else if (o == "--points") {
                opt.points.clear();
                std::string list = value();
                for (std::size_t p = 0; p != std::string::npos;) {
                    const std::size_t comma = list.find(',', p);
                    opt.points.push_back(number<int>(o, list.substr(p, comma - p)));
                    p = comma == std::string::npos ? comma : comma + 1;
                }
            } else if (o == "--help" || o == "-h") {
                std::cout << kUsage;
                return 0;
            } else if (o == "--version") {
                std::cout << "netrevia-simulate " << NETREVIA_VERSION << "\n";
                return 0;
            } else {
                throw std::invalid_argument("unknown option " + o);
            }
        }
        if (opt.replicates > 1 && table_path.empty())
            throw std::invalid_argument(
                "--replicates needs --out-table: a data file holds one replicate");
        // A link to a file not yet there is seen for what it is only once the other is written,
        // so the names are compared before each file is written.
        const auto check_names = [&] {
            if (same_file(data_path, truth_path))
                throw std::invalid_argument("--out-data and --out-truth name the same file " +
                                            data_path);
            if (!table_path.empty() &&
                (same_file(table_path, data_path) || same_file(table_path, truth_path)))
                throw std::invalid_argument(
                    "--out-table names the file of --out-data or "
                    "--out-truth: " +
                    table_path);
        };
        check_names();
        const Simulation sim = simulate(opt);
        write(data_path, [&](std::ostream& out) { write_data_file(out, sim, opt); });
        check_names();
        write(truth_path, [&](std::ostream& out) { write_truth_file(out, sim, opt); });
        if (!table_path.empty()) {
            check_names();
            write(table_path, [&](std::ostream& out) { write_table(out, sim, opt); });
        }
    } catch (const std::invalid_argument& e) {
        std::cerr << "netrevia-simulate: " << e.what() << " (see netrevia-simulate --help)\n";
        return 2;
    } catch (const std::bad_alloc&) {
        std::cerr << "netrevia-simulate: insufficient virtual memory\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "netrevia-simulate: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
