// Tables on disk: which files are opened, and what reading a large or hostile one costs.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/support.h"
#include "table/expression_table.h"

namespace {

namespace fs = std::filesystem;
using netrevia::table::read_tables;
using netrevia::table::Scale;
using netrevia::table::TableError;
using netrevia::table::TableOptions;

TableOptions log2_options() {
    TableOptions o;
    o.scale = Scale::kLog2;
    return o;
}

std::string error_of(const std::vector<fs::path>& files, const TableOptions& o) {
    try {
        read_tables(files, o);
    } catch (const TableError& e) {
        return e.what();
    }
    return "";
}

class TableFiles : public ::testing::Test {
protected:
    fs::path put(const std::string& name, const std::string& bytes) const {
        netrevia::test_support::write_bytes(dir_ / name, bytes);
        return dir_ / name;
    }

    netrevia::test_support::TempDir temp_{"netrevia-table-files"};
    const fs::path dir_ = temp_.path();
};

// A directory, a device, a FIFO without a writer (whose open would block) and a link to a
// device are refused by kind before they are opened; a link to a table is read.
TEST_F(TableFiles, OnlyRegularFilesAreReadAfterFollowingLinks) {
    const fs::path fifo = dir_ / "fifo.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path device_link = dir_ / "zero.csv";
    fs::create_symlink("/dev/zero", device_link);
    const fs::path table = put("t.csv", "gene,0,1\nA,1,2\n");
    const fs::path table_link = dir_ / "link.csv";
    fs::create_symlink(table, table_link);
    const std::vector<std::pair<fs::path, std::string>> cases{
        {dir_, "it is a directory"},
        {"/dev/null", "it is a character device, not a regular file"},
        {fifo, "it is a named pipe (FIFO), not a regular file"},
        {device_link, "it is a character device, not a regular file"},
        {dir_ / "missing.csv", "no such file"},
        {"", "no such file"},
    };
    for (const auto& [file, reason] : cases) {
        EXPECT_EQ(error_of({file}, log2_options()),
                  "file " + file.string() + ": cannot open the table: " + reason);
    }
    EXPECT_EQ(read_tables({table_link}, log2_options()).names, std::vector<std::string>{"A"});
}

// The same file twice, by another spelling or through a link, would be two equal courses.
TEST_F(TableFiles, SameTableTwiceIsRefused) {
    const fs::path table = put("t.csv", "gene,0,1\nA,1,2\n");
    const fs::path link = dir_ / "link.csv";
    fs::create_symlink(table, link);
    const fs::path other_spelling = dir_ / "." / "t.csv";
    for (const fs::path& again : {table, link, other_spelling}) {
        EXPECT_EQ(error_of({table, again}, log2_options()),
                  "file " + again.string() + ": the same file as " + table.string() +
                      ", given before; give each table once");
    }
    EXPECT_EQ(
        read_tables({table, put("u.csv", "gene,0,1\nA,3,4\n")}, log2_options()).courses.size(), 2u);
}

// How an action in a forked child ended, and how much its peak resident memory grew (kB).
struct ChildOutcome {
    int exit_code = -1;
    long peak_growth_kb = 0;
};

// Exit code 0 when action returns true, 1 when false or when it throws.
ChildOutcome in_child(const std::function<bool()>& action) {
    int channel[2];
    if (pipe(channel) != 0) return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long before = usage.ru_maxrss;
        bool ok = false;
        try {
            ok = action();
        } catch (...) {
        }
        getrusage(RUSAGE_SELF, &usage);
        const long growth = usage.ru_maxrss - before;
        (void)!write(channel[1], &growth, sizeof growth);
        _exit(ok ? 0 : 1);
    }
    close(channel[1]);
    ChildOutcome outcome;
    if (read(channel[0], &outcome.peak_growth_kb, sizeof(long)) != sizeof(long))
        outcome.peak_growth_kb = -1;
    close(channel[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    return outcome;
}

constexpr long kMegabyte = 1024;  // in the kilobytes of ru_maxrss
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed blocks in quarantine: the arrays outgrown while a table is read
// stay resident, so a peak tells nothing there.
constexpr bool kPeakIsMeaningful = false;
#else
constexpr bool kPeakIsMeaningful = true;
#endif

// Memory follows the numbers kept, not the text: a 64 MB field is refused after its first
// MiB, 64 MB of trailing delimiters cost nothing, and a 33 MB table of a million long numbers
// takes its 8 MB of values (twice while they grow and once more as log2) rather than strings.
TEST_F(TableFiles, MemoryFollowsTheNumbersNotTheText) {
    const std::size_t big = std::size_t{64} << 20;
    const fs::path long_field = put("field.csv", "gene,0,1\nA,1," + std::string(big, '7') + "\n");
    const fs::path delimiters = put("commas.csv", "gene,0,1\nA,1,2" + std::string(big, ',') + "\n");
    const fs::path wide_table = dir_ / "wide.csv";
    {
        std::ofstream out(wide_table, std::ios::binary);
        out << "gene";
        for (int j = 0; j < 1000; ++j) out << "," << j;
        for (int i = 0; i < 1000; ++i) {
            out << "\nG" << i;
            for (int j = 0; j < 1000; ++j) out << ",1.000000000000000000000000000001";
        }
        out << "\n";
    }

    const ChildOutcome field = in_child([&] {
        return error_of({long_field}, log2_options()) ==
               "file " + long_field.string() +
                   ", line 2, column 3: a field longer than 1048576 characters";
    });
    EXPECT_EQ(field.exit_code, 0);
    EXPECT_LT(field.peak_growth_kb, 16 * kMegabyte);
    const ChildOutcome commas =
        in_child([&] { return read_tables({delimiters}, log2_options()).names.size() == 1; });
    EXPECT_EQ(commas.exit_code, 0);
    EXPECT_LT(commas.peak_growth_kb, 16 * kMegabyte);
    const ChildOutcome numbers = in_child([&] {
        const auto set = read_tables({wide_table}, log2_options());
        return set.names.size() == 1000 && set.courses[0].x.size() == 1000000;
    });
    EXPECT_EQ(numbers.exit_code, 0);
    if (kPeakIsMeaningful) {
        EXPECT_LT(numbers.peak_growth_kb, 48 * kMegabyte);
    }
}

}  // namespace
