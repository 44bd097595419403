#include "inference/data_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <system_error>
#include <utility>

#include "inference/free_format.h"
#include "inference/input_error.h"

namespace netrevia::inference {

namespace {

constexpr std::size_t kMaxTokenInMessage = 40;
// A value read takes its line in pieces of this many characters, and holds no more of it
// than the piece and the token being read, which may not be longer than kMaxTokenLength.
constexpr std::size_t kLinePiece = std::size_t{1} << 16;
constexpr std::size_t kMaxTokenLength = std::size_t{1} << 20;
// A value read keeps the capacity of its line buffer up to this size; a larger buffer is
// released once the read is done, so one pathological token does not stay with the run.
constexpr std::size_t kKeptLineCapacity = std::size_t{1} << 20;
constexpr long long kMaxRepeat = std::numeric_limits<int>::max();

std::string escaped(std::string_view text) { return escaped_text(text); }

// The token as the message shows it: quoted, escaped, long ones cut.
std::string quoted_token(std::string_view token) {
    const bool cut = token.size() > kMaxTokenInMessage;
    std::string text(1, '"');
    text.append(escaped(token.substr(0, std::min(token.size(), kMaxTokenInMessage))));
    text.append(cut ? "...\"" : "\"");
    return text;
}

// A stored gene name as a message shows it: without its padding, escaped.
std::string shown_name(std::string_view name) {
    const std::size_t end = name.find_last_not_of(' ');
    return escaped(name.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

std::string format_number(double x) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
    return std::string(buffer, result.ptr);
}

std::string fit_name(std::string_view name) {
    std::string field(name.substr(0, std::min<std::size_t>(name.size(), kNameLength)));
    field.resize(kNameLength, ' ');
    return field;
}

std::string rejection(const DataFileReader& reader, std::string_view where, std::string_view what) {
    return "data file " + reader.file().string() + ", " + std::string(where) + ": " +
           std::string(what);
}

[[noreturn]] void reject_header(const DataFileReader& reader, std::string_view what) {
    throw DataFileRejected(rejection(reader, "header", what));
}

[[noreturn]] void reject_block(const DataFileReader& reader, int k, std::string_view what) {
    throw DataFileRejected(rejection(reader, "dataset block " + std::to_string(k), what));
}

std::string file_kind(std::filesystem::file_type type) {
    using std::filesystem::file_type;
    switch (type) {
        case file_type::directory:
            return "a directory";
        case file_type::fifo:
            return "a named pipe (FIFO)";
        case file_type::character:
            return "a character device";
        case file_type::block:
            return "a block device";
        case file_type::socket:
            return "a socket";
        default:
            return "a special file";
    }
}

// A data file is ASCII text (UTF-8 passes, as its names are only copied). A byte-order mark of
// UTF-16 or UTF-32 makes every other byte a NUL, which no token survives: say so at once.
void check_byte_order_mark(std::istream& in, const std::filesystem::path& file, int unit) {
    std::array<char, 4> head{};
    in.read(head.data(), head.size());
    const auto got = static_cast<std::size_t>(in.gcount());
    in.clear();
    in.seekg(0);
    const std::string_view start(head.data(), got);
    const char* encoding = nullptr;
    // UTF-32 first: its little-endian mark begins with the one of UTF-16.
    if (start.starts_with(std::string_view("\xff\xfe\0\0", 4))) {
        encoding = "UTF-32 (little-endian)";
    } else if (start.starts_with(std::string_view("\0\0\xfe\xff", 4))) {
        encoding = "UTF-32 (big-endian)";
    } else if (start.starts_with("\xff\xfe")) {
        encoding = "UTF-16 (little-endian)";
    } else if (start.starts_with("\xfe\xff")) {
        encoding = "UTF-16 (big-endian)";
    }
    if (encoding != nullptr) {
        throw InputError(std::string("input error: the file is ") + encoding +
                             " text; save it as UTF-8 or ASCII text",
                         unit, file);
    }
}

}  // namespace

std::ifstream open_input_file(const std::filesystem::path& file, int unit) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (file.empty() || status.type() == fs::file_type::not_found) {
        throw InputError("file not found", unit, file);
    }
    if (error) {
        throw InputError("input error: cannot open the file: " + error.message(), unit, file);
    }
    // Only a regular file ends: /dev/zero never does, a FIFO without a writer blocks the open,
    // a terminal waits for typing. The kind is that of the link's target.
    if (status.type() != fs::file_type::regular) {
        const bool directory = status.type() == fs::file_type::directory;
        throw InputError("input error: cannot open the file: it is " + file_kind(status.type()) +
                             (directory ? "" : ", not a regular file"),
                         unit, file);
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        const int reason = errno;
        throw InputError("input error: cannot open the file: " +
                             (reason != 0 ? std::generic_category().message(reason)
                                          : std::string("reason unknown")),
                         unit, file);
    }
    check_byte_order_mark(in, file, unit);
    return in;
}

std::ifstream open_data_file(const std::filesystem::path& file) {
    return open_input_file(file, kDataFileUnit);
}

// The caller's array of one kind of value, filled by store().
struct DataFileReader::Target {
    std::span<int> integers;
    std::span<double> reals;
    std::span<std::string> names;
    bool full_names = false;  // names as read, not cut or padded to kNameLength

    std::size_t size() const { return integers.size() + reals.size() + names.size(); }
    bool wants_names() const { return !names.empty(); }

    // Parses token (shown as text in messages) into [first, first + copies).
    void store(const DataFileReader& reader,
               std::size_t first,
               std::size_t copies,
               std::string_view token,
               std::string_view text) const {
        if (!integers.empty()) {
            int value = 0;
            switch (parse_integer(token, value)) {
                case NumberParse::ok:
                    break;
                case NumberParse::syntax:
                    reader.input_error(quoted_token(text) + " is not an integer");
                case NumberParse::range:
                    reader.input_error(quoted_token(text) + " is beyond a 32-bit integer");
            }
            std::fill_n(integers.begin() + static_cast<std::ptrdiff_t>(first), copies, value);
        } else if (!reals.empty()) {
            double value = 0.0;
            switch (parse_real(token, value)) {
                case NumberParse::ok:
                    break;
                case NumberParse::syntax:
                    reader.input_error(quoted_token(text) + " is not a real number");
                case NumberParse::range:
                    reader.input_error(quoted_token(text) + " is not a finite real number");
            }
            std::fill_n(reals.begin() + static_cast<std::ptrdiff_t>(first), copies, value);
        } else {
            std::fill_n(names.begin() + static_cast<std::ptrdiff_t>(first), copies,
                        full_names ? std::string(token) : fit_name(token));
        }
    }
};

DataFileReader::DataFileReader(std::istream& in, std::filesystem::path file)
    : in_(in), file_(std::move(file)) {}

void DataFileReader::input_error(std::string_view what) const {
    throw InputError(
        "input error: " + std::string(what) + " (line " + std::to_string(line_number_) + ")",
        kDataFileUnit, file_);
}

std::streamoff DataFileReader::characters_left() {
    const std::istream::pos_type here = in_.tellg();
    if (here == std::istream::pos_type(-1)) return -1;
    in_.seekg(0, std::ios::end);
    const std::istream::pos_type end = in_.tellg();
    in_.clear();
    in_.seekg(here);
    if (end == std::istream::pos_type(-1) || !in_) return -1;
    return end - here;
}

void DataFileReader::end_of_file() const {
    if (in_.bad()) {
        throw InputError("input error: the file could not be read", kDataFileUnit, file_);
    }
    throw InputError("end-of-file during read", kDataFileUnit, file_);
}

// Starts the next line: its first piece into line_. False at the end of the file.
bool DataFileReader::next_line() {
    line_.clear();
    line_complete_ = false;
    if (in_.peek() == std::istream::traits_type::eof()) return false;
    ++line_number_;
    read_piece();
    return true;
}

// Appends up to kLinePiece further characters of the current line to line_. The line end (LF,
// CR LF, or the end of the file) is not stored; once it is reached, line_complete_ is set.
void DataFileReader::read_piece() {
    const std::size_t kept = line_.size();
    line_.resize(kept + kLinePiece + 1);  // getline stores a terminating NUL too
    in_.getline(line_.data() + kept, static_cast<std::streamsize>(kLinePiece + 1));
    const auto extracted = static_cast<std::size_t>(in_.gcount());
    if (in_.fail() && !in_.eof() && !in_.bad() && extracted == kLinePiece) {
        in_.clear();  // the piece is full and the line goes on
        line_.resize(kept + extracted);
        return;
    }
    line_complete_ = true;
    // Without the end of the file, the last character extracted was the line feed.
    const bool line_feed = !in_.eof() && !in_.bad() && extracted > 0;
    line_.resize(kept + extracted - (line_feed ? 1 : 0));
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
}

// Drops line_[0, keep), which the read has consumed, and appends the next piece of the line;
// returns keep, by which every position in line_ moved, or npos when the line has ended. What
// stays is one token being read: beyond kMaxTokenLength it is an input error, so one endless
// line costs at most that much.
std::size_t DataFileReader::more_of_line(std::size_t keep) {
    if (line_complete_) return std::string::npos;
    line_.erase(0, keep);
    if (line_.size() > kMaxTokenLength) {
        input_error(quoted_token(line_) + " is longer than " + std::to_string(kMaxTokenLength) +
                    " characters");
    }
    read_piece();
    return keep;
}

// The end of the unquoted token that starts at start, reading on as far as it goes; start
// moves with the text.
std::size_t DataFileReader::token_end(std::size_t& start) {
    std::size_t from = start;
    for (;;) {
        const std::size_t end = inference::token_end(line_, from);
        if (end < line_.size()) return end;
        const std::size_t scanned = line_.size();
        const std::size_t shift = more_of_line(start);
        if (shift == std::string::npos) return line_.size();
        from = scanned - shift;
        start -= shift;
    }
}

void DataFileReader::skip_line() {
    if (in_.peek() == std::istream::traits_type::eof()) end_of_file();
    in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    ++line_number_;
}

std::string DataFileReader::read_marker() {
    using traits = std::istream::traits_type;
    if (in_.peek() == traits::eof()) end_of_file();
    std::string marker;
    bool line_ended = false;
    while (marker.size() < 3) {
        const int c = in_.get();
        if (c == traits::eof() || c == '\n') {
            line_ended = true;
            break;
        }
        if (c == '\r') {
            const int after = in_.peek();
            if (after == traits::eof() || after == '\n') {
                in_.ignore();
                line_ended = true;
                break;
            }
        }
        marker.push_back(traits::to_char_type(c));
    }
    if (!line_ended) in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    ++line_number_;
    marker.resize(3, ' ');
    return marker;
}

void DataFileReader::read_values(std::span<int> values) {
    Target target{values, {}, {}};
    value_read(target);
}

void DataFileReader::read_values(std::span<double> values) {
    Target target{{}, values, {}};
    value_read(target);
}

void DataFileReader::read_values(std::span<std::string> names) {
    Target target{{}, {}, names};
    value_read(target);
}

void DataFileReader::read_full_names(std::span<std::string> names) {
    Target target{{}, {}, names, true};
    value_read(target);
}

// List-directed reading of target.size() values. separator_pending says that a value (or a
// run of null values) has ended and its comma has not been seen yet: that comma separates, a
// further one stands for a null value. Blanks and line ends around a comma do not count. The
// line comes in pieces; only a token that reaches the end of a piece makes it read on.
void DataFileReader::value_read(Target& target) {
    const std::size_t count = target.size();
    if (count == 0) return;
    if (!next_line()) end_of_file();
    std::size_t taken = 0;
    std::size_t pos = 0;
    bool separator_pending = false;
    while (taken < count) {
        if (pos >= line_.size()) {
            if (line_complete_) {
                if (!next_line()) end_of_file();
            } else {
                line_.clear();
                read_piece();
            }
            pos = 0;
            continue;
        }
        const char c = line_[pos];
        if (is_blank(c)) {
            ++pos;
            continue;
        }
        if (c == ',') {
            if (separator_pending) {
                separator_pending = false;
            } else {
                ++taken;  // null value: the target keeps its contents
            }
            ++pos;
            continue;
        }
        if (c == '/') break;

        // A value, a null value r*, or r copies r*v.
        std::size_t start = pos;
        const std::size_t end = token_end(start);
        pos = start;
        std::size_t copies = 1;
        if (const std::size_t prefix =
                repeat_prefix_length(std::string_view(line_).substr(pos, end - pos));
            prefix > 0) {
            std::uint64_t repeat = 0;
            if (!parse_unsigned(std::string_view(line_).substr(pos, prefix - 1), repeat) ||
                repeat == 0 || repeat > static_cast<std::uint64_t>(kMaxRepeat)) {
                input_error(quoted_token(std::string_view(line_).substr(start, end - start)) +
                            " has a repeat count outside 1 to 2147483647");
            }
            // Only the values the read still needs; the rest fall with the discarded line.
            copies = static_cast<std::size_t>(std::min<std::uint64_t>(repeat, count - taken));
            pos += prefix;
        }
        if (pos >= end) {
            taken += copies;  // r*: null values
            pos = end;
            separator_pending = true;
            continue;
        }
        const char quote = line_[pos];
        if (target.wants_names() && (quote == '\'' || quote == '"')) {
            std::string name;
            std::size_t q = pos + 1;
            for (;; ++q) {
                while (q >= line_.size()) {
                    const std::size_t shift = more_of_line(start);
                    if (shift == std::string::npos) {
                        input_error(quoted_token(std::string_view(line_).substr(start)) +
                                    " has no closing quote");
                    }
                    start -= shift;
                    q -= shift;
                }
                if (line_[q] != quote) {
                    name.push_back(line_[q]);
                    continue;
                }
                if (q + 1 >= line_.size()) {
                    // Whether the quote is doubled shows only in the next piece.
                    const std::size_t shift = more_of_line(start);
                    if (shift != std::string::npos) {
                        start -= shift;
                        q -= shift;
                    }
                }
                if (q + 1 < line_.size() && line_[q + 1] == quote) {
                    name.push_back(quote);  // a doubled quote stands for one
                    ++q;
                } else {
                    break;
                }
            }
            pos = q + 1;
            if (pos < line_.size() && !ends_token(line_[pos])) {
                const std::size_t after = token_end(start);
                input_error(quoted_token(std::string_view(line_).substr(start, after - start)) +
                            " has text after its closing quote");
            }
            target.store(*this, taken, copies, name, name);
        } else {
            const std::string_view line(line_);
            target.store(*this, taken, copies, line.substr(pos, end - pos),
                         line.substr(start, end - start));
            pos = end;
        }
        taken += copies;
        separator_pending = true;
    }
    // The rest of the last line touched is discarded, unread where it has not been read yet.
    if (!line_complete_) in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    line_complete_ = true;
    if (line_.capacity() > kKeptLineCapacity) std::string().swap(line_);
}

std::string escaped_text(std::string_view text) {
    constexpr std::string_view kHex = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xf];
        } else {
            shown += c;
        }
    }
    return shown;
}

bool is_end_marker(std::string_view marker) { return marker.substr(0, 3) == "END"; }

FileHeader read_file_header(DataFileReader& reader) {
    FileHeader header;
    reader.skip_line();
    reader.read_values(std::span(&header.declared_count, 1));
    if (header.declared_count < 0) {
        reject_header(reader, "declared dataset count " + std::to_string(header.declared_count) +
                                  " is negative");
    }
    reader.skip_line();
    reader.read_values(std::span(&header.n, 1));
    if (header.n < 0) {
        reject_header(reader, "gene count " + std::to_string(header.n) + " is negative");
    }
    if (header.n > kMaxGenes) {
        reject_header(reader, "gene count " + std::to_string(header.n) + " is above the limit of " +
                                  std::to_string(kMaxGenes));
    }
    reader.skip_line();
    return header;
}

std::vector<std::string> read_gene_names(DataFileReader& reader,
                                         int n,
                                         std::vector<std::string>* full_names) {
    std::vector<std::string> names(static_cast<std::size_t>(n), std::string(kNameLength, ' '));
    if (full_names == nullptr) {
        for (std::string& name : names) reader.read_values(std::span(&name, 1));
        return names;
    }
    // A null value leaves the blank field, whose full name is then empty.
    full_names->assign(static_cast<std::size_t>(n), std::string());
    for (std::size_t g = 0; g < names.size(); ++g) {
        std::string& full = (*full_names)[g];
        reader.read_full_names(std::span(&full, 1));
        names[g] = fit_name(full);
    }
    return names;
}

BlockHeader read_block_header(DataFileReader& reader,
                              const FileHeader& header,
                              int k,
                              int max_blocks) {
    if (k > max_blocks) {
        reject_block(reader, k, "more than " + std::to_string(max_blocks) + " dataset blocks");
    }
    if (k > header.declared_count) {
        reject_block(reader, k,
                     "more dataset blocks than the " + std::to_string(header.declared_count) +
                         " declared in the header");
    }
    reader.skip_line();
    reader.skip_line();
    // A null value leaves a count as it was, as it leaves every value: the gene count then is
    // the header's, the time-point count 0.
    int counts[2] = {header.n, 0};
    reader.read_values(counts);
    BlockHeader block{counts[0], counts[1]};
    if (block.n != header.n) {
        reject_block(reader, k,
                     "gene count " + std::to_string(block.n) + " differs from the header's " +
                         std::to_string(header.n));
    }
    if (block.T < 2) {
        reject_block(reader, k, "time-point count " + std::to_string(block.T) + " is below 2");
    }
    if (const std::streamoff left = reader.characters_left(); left >= 0 && block.T - 1 > left) {
        reject_block(reader, k,
                     "time-point count " + std::to_string(block.T) +
                         " is more than the rest of the file can hold");
    }
    return block;
}

void check_rates_of_change(const DataFileReader& reader,
                           int k,
                           std::span<const double> t,
                           numeric::ConstMatrixRef Y,
                           std::span<const std::string> names) {
    const int T = static_cast<int>(t.size());
    for (int i = 1; i <= static_cast<int>(names.size()); ++i) {
        for (int j = 1; j < T; ++j) {
            // The rate exactly as the per-dataset solution forms it.
            const double h = t[static_cast<std::size_t>(j)] - t[static_cast<std::size_t>(j - 1)];
            const double rate = (Y(j + 1, i) - Y(j, i)) / h;
            if (std::isfinite(rate)) continue;
            reject_block(reader, k,
                         "rate of change of gene " + std::to_string(i) + " (" +
                             shown_name(names[static_cast<std::size_t>(i - 1)]) +
                             ") from time point " + std::to_string(j) + " to " +
                             std::to_string(j + 1) + " is not finite: (" +
                             format_number(Y(j + 1, i)) + " - " + format_number(Y(j, i)) + ") / " +
                             format_number(h) + " = " + format_number(rate));
        }
    }
}

void read_time_points(DataFileReader& reader, int k, std::span<double> t) {
    reader.skip_line();
    reader.read_values(t);
    for (std::size_t j = 0; j < t.size(); ++j) {
        const std::string label = "t(" + std::to_string(j + 1) + ")";
        if (!std::isfinite(t[j])) reject_block(reader, k, "time point " + label + " is not finite");
        if (j > 0 && !(t[j] > t[j - 1])) {
            reject_block(reader, k,
                         "time points are not strictly increasing: " + label + " = " +
                             format_number(t[j]) + " does not exceed t(" + std::to_string(j) +
                             ") = " + format_number(t[j - 1]));
        }
        // The rates of change divide by the step: an infinite step (-1e308 to 1e308) would
        // make them zero, a subnormal one (1e-320) infinite, both without a trace.
        if (j > 0 && !std::isnormal(t[j] - t[j - 1])) {
            reject_block(reader, k,
                         "time step " + label + " - t(" + std::to_string(j) + ") = " +
                             format_number(t[j] - t[j - 1]) + " is not a finite normal number");
        }
    }
}

void read_reserved_value(DataFileReader& reader) {
    reader.skip_line();
    double reserved = 0.0;
    reader.read_values(std::span(&reserved, 1));
    reader.skip_line();
}

void read_expression_row(
    DataFileReader& reader, int k, int i, std::string_view name, std::span<double> x) {
    reader.read_values(x);
    for (std::size_t j = 0; j < x.size(); ++j) {
        // 2^x overflows from x = 1024 on; such a value would fill the result with NaN.
        if (!std::isfinite(x[j]) || !std::isfinite(std::pow(2.0, x[j]))) {
            reject_block(reader, k,
                         "expression value " + format_number(x[j]) + " of gene " +
                             std::to_string(i) + " (" + shown_name(name) + ") at time point " +
                             std::to_string(j + 1) +
                             " is out of range: its linear scale 2^x is not finite");
        }
    }
}

}  // namespace netrevia::inference
