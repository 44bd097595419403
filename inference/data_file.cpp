#include "inference/data_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <system_error>
#include <utility>

#include "output/io_error.h"

namespace netrevia::inference {

namespace {

constexpr std::size_t kMaxTokenInMessage = 40;
// A value read keeps the capacity of its line buffer up to this size; a longer line is
// released once the read is done, so one pathological line does not stay with the run.
constexpr std::size_t kKeptLineCapacity = std::size_t{1} << 20;
constexpr long long kMaxRepeat = std::numeric_limits<int>::max();

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
// Characters that end an unquoted token (the line end ends it too).
bool ends_token(char c) { return is_blank(c) || c == ',' || c == '/'; }

// The token as the message shows it: quoted, long ones cut.
std::string quoted_token(std::string_view token) {
    std::string text = "\"";
    if (token.size() > kMaxTokenInMessage) {
        text.append(token.substr(0, kMaxTokenInMessage)).append("...");
    } else {
        text.append(token);
    }
    return text + "\"";
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

// Decimal digits into an unsigned value; false on overflow of 64 bits.
bool parse_digits(std::string_view digits, std::uint64_t& value) {
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return result.ec == std::errc{} && result.ptr == digits.data() + digits.size();
}

enum class Parse { ok, syntax, range };

// Optional sign and decimal digits, within 32 bits.
Parse parse_integer(std::string_view token, int& value) {
    bool negative = false;
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
        negative = token[0] == '-';
        token.remove_prefix(1);
    }
    if (token.empty() || !std::all_of(token.begin(), token.end(), is_digit)) return Parse::syntax;
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = std::uint64_t{std::numeric_limits<int>::max()} + (negative ? 1 : 0);
    if (!parse_digits(token, magnitude) || magnitude > limit) return Parse::range;
    value = negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<int>(magnitude);
    return Parse::ok;
}

// Optional sign, digits with an optional decimal point (one digit at least), optional exponent
// of E, e, D or d, an optional sign and digits. A value beyond the range of double is a range
// error; one below the smallest subnormal becomes a signed zero, as the rounding of any tiny
// value would.
Parse parse_real(std::string_view token, double& value) {
    std::string normal;  // the token as std::from_chars takes it: no '+', exponent letter 'e'
    normal.reserve(token.size());
    std::size_t pos = 0;
    bool negative = false;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
        negative = token[pos] == '-';
        if (negative) normal.push_back('-');
        ++pos;
    }
    // Decimal position of the first nonzero mantissa digit: d such that the mantissa lies in
    // [10^(d-1), 10^d). Used only to tell overflow from underflow.
    long long integer_digits = 0;  // significant digits before the point
    long long leading_fraction_zeros = 0;
    bool nonzero_seen = false;
    bool point_seen = false;
    int mantissa_digits = 0;
    for (; pos < token.size(); ++pos) {
        const char c = token[pos];
        if (c == '.' && !point_seen) {
            point_seen = true;
        } else if (is_digit(c)) {
            ++mantissa_digits;
            if (c != '0') nonzero_seen = true;
            if (!point_seen && nonzero_seen) ++integer_digits;
            if (point_seen && !nonzero_seen) ++leading_fraction_zeros;
        } else {
            break;
        }
        normal.push_back(c);
    }
    if (mantissa_digits == 0) return Parse::syntax;
    long long exponent = 0;
    if (pos < token.size()) {
        const char letter = token[pos];
        if (letter != 'E' && letter != 'e' && letter != 'D' && letter != 'd') {
            return Parse::syntax;
        }
        normal.push_back('e');
        ++pos;
        bool exponent_negative = false;
        if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
            exponent_negative = token[pos] == '-';
            normal.push_back(token[pos]);
            ++pos;
        }
        if (pos == token.size()) return Parse::syntax;
        for (; pos < token.size(); ++pos) {
            if (!is_digit(token[pos])) return Parse::syntax;
            normal.push_back(token[pos]);
            // Saturated: beyond a billion only the sign of the exponent matters.
            exponent = std::min(exponent * 10 + (token[pos] - '0'), 1'000'000'000'000LL);
        }
        if (exponent_negative) exponent = -exponent;
    }
    double parsed = 0.0;
    const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
    if (result.ec == std::errc::result_out_of_range) {
        const long long magnitude =
            (integer_digits > 0 ? integer_digits : -leading_fraction_zeros) + exponent;
        if (magnitude > 0) return Parse::range;
        parsed = negative ? -0.0 : 0.0;
    } else if (result.ec != std::errc{} || result.ptr != normal.data() + normal.size()) {
        return Parse::syntax;
    }
    if (!std::isfinite(parsed)) return Parse::range;
    value = parsed;
    return Parse::ok;
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

}  // namespace

std::ifstream open_data_file(const std::filesystem::path& file) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (file.empty() || status.type() == std::filesystem::file_type::not_found) {
        throw output::IoError("file not found", kDataFileUnit, file);
    }
    if (error) {
        throw output::IoError("input error: cannot open the file: " + error.message(),
                              kDataFileUnit, file);
    }
    if (std::filesystem::is_directory(status)) {
        throw output::IoError("input error: cannot open the file: it is a directory", kDataFileUnit,
                              file);
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        const int reason = errno;
        throw output::IoError("input error: cannot open the file: " +
                                  (reason != 0 ? std::generic_category().message(reason)
                                               : std::string("reason unknown")),
                              kDataFileUnit, file);
    }
    return in;
}

// The caller's array of one kind of value, filled by store().
struct DataFileReader::Target {
    std::span<int> integers;
    std::span<double> reals;
    std::span<std::string> names;

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
                case Parse::ok:
                    break;
                case Parse::syntax:
                    reader.input_error(quoted_token(text) + " is not an integer");
                case Parse::range:
                    reader.input_error(quoted_token(text) + " is beyond a 32-bit integer");
            }
            std::fill_n(integers.begin() + static_cast<std::ptrdiff_t>(first), copies, value);
        } else if (!reals.empty()) {
            double value = 0.0;
            switch (parse_real(token, value)) {
                case Parse::ok:
                    break;
                case Parse::syntax:
                    reader.input_error(quoted_token(text) + " is not a real number");
                case Parse::range:
                    reader.input_error(quoted_token(text) + " is not a finite real number");
            }
            std::fill_n(reals.begin() + static_cast<std::ptrdiff_t>(first), copies, value);
        } else {
            std::fill_n(names.begin() + static_cast<std::ptrdiff_t>(first), copies,
                        fit_name(token));
        }
    }
};

DataFileReader::DataFileReader(std::istream& in, std::filesystem::path file)
    : in_(in), file_(std::move(file)) {}

void DataFileReader::input_error(std::string_view what) const {
    throw output::IoError(
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
        throw output::IoError("input error: the file could not be read", kDataFileUnit, file_);
    }
    throw output::IoError("end-of-file during read", kDataFileUnit, file_);
}

// The next line into line_, without its line end (LF, CR LF, or the end of the file).
bool DataFileReader::next_line() {
    if (!std::getline(in_, line_)) return false;
    ++line_number_;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    return true;
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

// List-directed reading of target.size() values. separator_pending says that a value (or a
// run of null values) has ended and its comma has not been seen yet: that comma separates, a
// further one stands for a null value. Blanks and line ends around a comma do not count.
void DataFileReader::value_read(Target& target) {
    const std::size_t count = target.size();
    if (count == 0) return;
    if (!next_line()) end_of_file();
    std::size_t taken = 0;
    std::size_t pos = 0;
    bool separator_pending = false;
    while (taken < count) {
        if (pos >= line_.size()) {
            if (!next_line()) end_of_file();
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
        const std::size_t start = pos;
        std::size_t copies = 1;
        std::size_t digits_end = pos;
        while (digits_end < line_.size() && is_digit(line_[digits_end])) ++digits_end;
        if (digits_end > pos && digits_end < line_.size() && line_[digits_end] == '*') {
            std::uint64_t repeat = 0;
            if (!parse_digits(std::string_view(line_).substr(pos, digits_end - pos), repeat) ||
                repeat == 0 || repeat > static_cast<std::uint64_t>(kMaxRepeat)) {
                const std::size_t end = std::min(line_.find_first_of(" \t,/", pos), line_.size());
                input_error(quoted_token(std::string_view(line_).substr(start, end - start)) +
                            " has a repeat count outside 1 to 2147483647");
            }
            // Only the values the read still needs; the rest fall with the discarded line.
            copies = static_cast<std::size_t>(std::min<std::uint64_t>(repeat, count - taken));
            pos = digits_end + 1;
        }
        if (pos >= line_.size() || ends_token(line_[pos])) {
            taken += copies;  // r*: null values
            separator_pending = true;
            continue;
        }
        const char quote = line_[pos];
        if (target.wants_names() && (quote == '\'' || quote == '"')) {
            std::string name;
            std::size_t q = pos + 1;
            for (;; ++q) {
                if (q >= line_.size()) {
                    input_error(quoted_token(std::string_view(line_).substr(start)) +
                                " has no closing quote");
                }
                if (line_[q] != quote) {
                    name.push_back(line_[q]);
                } else if (q + 1 < line_.size() && line_[q + 1] == quote) {
                    name.push_back(quote);  // a doubled quote stands for one
                    ++q;
                } else {
                    break;
                }
            }
            pos = q + 1;
            if (pos < line_.size() && !ends_token(line_[pos])) {
                const std::size_t end = std::min(line_.find_first_of(" \t,/", pos), line_.size());
                input_error(quoted_token(std::string_view(line_).substr(start, end - start)) +
                            " has text after its closing quote");
            }
            target.store(*this, taken, copies, name, name);
        } else {
            const std::size_t end = std::min(line_.find_first_of(" \t,/", pos), line_.size());
            const std::string_view line(line_);
            target.store(*this, taken, copies, line.substr(pos, end - pos),
                         line.substr(start, end - start));
            pos = end;
        }
        taken += copies;
        separator_pending = true;
    }
    // The rest of the last line touched is discarded with the buffer.
    if (line_.capacity() > kKeptLineCapacity) std::string().swap(line_);
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

std::vector<std::string> read_gene_names(DataFileReader& reader, int n) {
    std::vector<std::string> names(static_cast<std::size_t>(n), std::string(kNameLength, ' '));
    for (std::string& name : names) reader.read_values(std::span(&name, 1));
    return names;
}

BlockHeader read_block_header(DataFileReader& reader, const FileHeader& header, int k) {
    if (k > kMaxDatasetBlocks) {
        reject_block(reader, k,
                     "more than " + std::to_string(kMaxDatasetBlocks) + " dataset blocks");
    }
    if (k > header.declared_count) {
        reject_block(reader, k,
                     "more dataset blocks than the " + std::to_string(header.declared_count) +
                         " declared in the header");
    }
    reader.skip_line();
    reader.skip_line();
    int counts[2] = {0, 0};
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
                           double y_max) {
    for (std::size_t j = 1; j < t.size(); ++j) {
        const double h = t[j] - t[j - 1];
        if (!std::isfinite(y_max / h)) {
            reject_block(reader, k,
                         "rates of change overflow: linear-scale value " + format_number(y_max) +
                             " over the time step t(" + std::to_string(j + 1) + ") - t(" +
                             std::to_string(j) + ") = " + format_number(h));
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
            const std::size_t name_end = name.find_last_not_of(' ');
            reject_block(reader, k,
                         "expression value " + format_number(x[j]) + " of gene " +
                             std::to_string(i) + " (" +
                             std::string(name.substr(
                                 0, name_end == std::string_view::npos ? 0 : name_end + 1)) +
                             ") at time point " + std::to_string(j + 1) +
                             " is out of range: its linear scale 2^x is not finite");
        }
    }
}

}  // namespace netrevia::inference
