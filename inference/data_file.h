#pragma once

#include <filesystem>
#include <fstream>
#include <istream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/matrix_ref.h"

namespace netrevia::inference {

// A data file that reads correctly but breaks one of the limits the model can hold (more than
// four datasets, unequal gene counts, fewer than two time points, ...). Not an input/output
// failure: the window reports it and stays open. The message names the file, the block and
// the limit.
class DataFileRejected : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Unit numbers are message text only (nothing is opened by number): users and scripts that
// match "unit 7" in a failure rely on them, so they keep their historical values.
inline constexpr int kDataFileUnit = 7;        // unit number named in the read errors
inline constexpr int kNameLength = 9;          // gene names are cut or blank-padded to this
inline constexpr int kMaxGenes = 2000;         // bound of the decomposition
inline constexpr int kMaxDatasetBlocks = 4;    // the exact and fast engines
inline constexpr int kMaxEnsembleBlocks = 64;  // the ensemble engine

// Opens the data file for reading (binary: line ends are the reader's business on every
// platform). Throws InputError, unit 7: "file not found" when nothing is at file (an empty
// path included), an input error naming the reason when it exists but cannot be opened, when
// it is not a regular file after following links (naming its kind), and when it starts with
// the byte-order mark of UTF-16 or UTF-32 (asking for UTF-8 or ASCII).
std::ifstream open_data_file(const std::filesystem::path& file);
// The same checks for another input file, naming unit in its messages.
std::ifstream open_input_file(const std::filesystem::path& file, int unit);

// The three kinds of read on a data file, line-oriented; every read starts at the beginning
// of the next unread line.
//  - Skip read: consumes one line, whatever it holds.
//  - Marker read: the first three characters of the next line, blank-padded; consumes it.
//  - Value read: a fixed number of values separated by blanks, tabs, commas or line ends,
//    across as many lines as needed (lines without values are passed over); the rest of the
//    last line touched is discarded. r*v stands for r copies of v; r* stands for r null values
//    and an empty field between commas for one; a slash ends the read. Null values and values
//    not reached keep what the caller's array held. A repeat count (1 to 2147483647) fills only
//    the values the read still needs. Integers are a sign and digits; reals may add a decimal
//    point and an exponent introduced by E or D in either case. Names are one token, or quoted
//    with ' or " to hold blanks and commas (a doubled quote stands for one), stored cut or
//    blank-padded to kNameLength characters.
// A CR before a line feed (or at the very end of the file) belongs to the line end.
// Failures throw InputError, unit 7: "end-of-file during read" when any read finds the
// file ended, and "input error: ... (line L)" naming the offending token (shown with control
// characters escaped as \xHH, long ones cut). Memory: a value read holds a piece of its line
// (64 KiB) and the token being read, which may not exceed 1 MiB; skip and marker reads hold
// none.
class DataFileReader {
public:
    // file is used only in messages.
    DataFileReader(std::istream& in, std::filesystem::path file);

    void skip_line();
    std::string read_marker();  // exactly 3 characters
    void read_values(std::span<int> values);
    void read_values(std::span<double> values);
    void read_values(std::span<std::string> names);      // stored names have kNameLength chars
    void read_full_names(std::span<std::string> names);  // names stored as read, any length

    const std::filesystem::path& file() const noexcept { return file_; }
    // Number of the last line consumed (1-based; 0 before the first read).
    long long line_number() const noexcept { return line_number_; }

    // Throws the input error "input error: <what> (line L)" for the current line.
    [[noreturn]] void input_error(std::string_view what) const;

    // Characters not yet read, or -1 when the stream cannot tell (a pipe).
    std::streamoff characters_left();

private:
    struct Target;  // the caller's array of one kind of value

    void value_read(Target& target);
    bool next_line();
    void read_piece();
    std::size_t more_of_line(std::size_t keep);
    std::size_t token_end(std::size_t& start);
    [[noreturn]] void end_of_file() const;

    std::istream& in_;
    std::filesystem::path file_;
    long long line_number_ = 0;
    std::string line_;           // what a value read holds of its current line
    bool line_complete_ = true;  // line_ reaches the end of its line
};

// Text from an input as a message shows it: control characters and NUL bytes escaped as \xHH,
// so that a file can neither cut the message short nor command the terminal.
std::string escaped_text(std::string_view text);

// True only for the exact upper-case "END" (so "End", " EN" are dataset blocks).
bool is_end_marker(std::string_view marker);

// The layout of the data file, as the run reads it. The limit checks throw DataFileRejected
// with "data file <file>, <where>: <limit>" before anything of the offending part is used.

struct FileHeader {
    int declared_count = 0;  // K'
    int n = 0;               // gene count; 0 is allowed and gives an empty network
};

// Skip, K', skip, n, skip. Rejects K' < 0, n < 0 and n > kMaxGenes.
FileHeader read_file_header(DataFileReader& reader);

// n value reads of one name each, in file order; every name has kNameLength characters. When
// full_names is given it receives the names as the file spells them, uncut and unpadded.
std::vector<std::string> read_gene_names(DataFileReader& reader,
                                         int n,
                                         std::vector<std::string>* full_names = nullptr);

struct BlockHeader {
    int n = 0;
    int T = 0;
};

// For dataset block k (from 1), whose marker line has been read: rejects k above
// max_blocks or above K', then skip, skip, (n, T), and rejects a gene count other
// than the header's, T < 2, and a T the rest of the file cannot hold. Strictly increasing
// time points are values of their own in the file (a repeat count gives equal values; a slash
// or null value leaves zeros, of which at most one can follow negative values), so T - 1 of
// them need at least T - 1 characters: an absurd T is refused before anything is sized by it.
BlockHeader read_block_header(DataFileReader& reader,
                              const FileHeader& header,
                              int k,
                              int max_blocks = kMaxDatasetBlocks);

// Skip, then the T time points of block k into t (whose previous contents stand for values
// not given); rejects them unless finite and strictly increasing with every step
// t(j+1) - t(j) a finite normal number (neither overflowing nor subnormal).
void read_time_points(DataFileReader& reader, int k, std::span<double> t);

// Rejects block k when a rate of change (Y(j+1, i) - Y(j, i)) / (t(j+1) - t(j)), formed as the
// per-dataset solution forms it, is not finite, naming the gene and the time points. Y is the
// block's linear-scale expression (T x n, row = time point); names has n entries.
void check_rates_of_change(const DataFileReader& reader,
                           int k,
                           std::span<const double> t,
                           numeric::ConstMatrixRef Y,
                           std::span<const std::string> names);

// Skip, the reserved value (read and dropped), then the skip read before the expression rows.
void read_reserved_value(DataFileReader& reader);

// The T log-expression values of gene i (1-based, named name) of block k into x; rejects a
// value whose linear scale 2^x is not finite.
void read_expression_row(
    DataFileReader& reader, int k, int i, std::string_view name, std::span<double> x);

}  // namespace netrevia::inference
