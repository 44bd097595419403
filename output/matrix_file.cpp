#include "output/matrix_file.h"

#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <system_error>

#include "output/atomic_file.h"

namespace netrevia::output {

namespace {

constexpr std::size_t kFieldWidth = 25;
constexpr int kDecimals = 12;
constexpr std::string_view kLineEnd = "\r\n";
// From this magnitude on the text has at least 14 integer digits, a point and 12 decimals: 27
// characters, so the field is asterisks whatever the rounding; smaller values always fit the
// buffer below.
constexpr double kCertainOverflow = 1e13;

// Writes the 25-character field of value to dest[0..24]. std::to_chars gives the exactly
// rounded fixed-point text, the same as C's "%.12f", but independent of the C locale: the
// window's toolkit sets LC_NUMERIC from the environment, and a decimal comma must never reach
// the file. Choices beyond the C format: NaN, whatever its sign bit, is "NaN"; infinities are
// "Infinity" and "-Infinity"; a negative value that rounds to zero keeps its minus sign, as the
// C library writes it ("-0.000000000000").
void put_field(char* dest, double value) {
    std::array<char, 32> text{};
    std::string_view shown;
    if (std::isnan(value)) {
        shown = "NaN";
    } else if (std::isinf(value)) {
        shown = value > 0 ? "Infinity" : "-Infinity";
    } else if (std::abs(value) < kCertainOverflow) {
        const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value,
                                             std::chars_format::fixed, kDecimals);
        if (ec == std::errc{}) shown = {text.data(), static_cast<std::size_t>(end - text.data())};
    }
    if (shown.empty() || shown.size() > kFieldWidth) {
        std::memset(dest, '*', kFieldWidth);
        return;
    }
    const std::size_t blanks = kFieldWidth - shown.size();
    std::memset(dest, ' ', blanks);
    std::memcpy(dest + blanks, shown.data(), shown.size());
}

}  // namespace

std::string format_matrix_field(double value) {
    std::string field(kFieldWidth, ' ');
    put_field(field.data(), value);
    return field;
}

void format_matrix(std::ostream& out, numeric::ConstMatrixRef R, int n) {
    if (n <= 0) return;
    assert(R.ld >= n);
    // One line is built in place and written at once: no allocation per field, one call into
    // the stream per line (n = 2000 gives 50 002 characters a line, 100 MB a file).
    const auto row_chars = kFieldWidth * static_cast<std::size_t>(n);
    std::string line(row_chars + kLineEnd.size(), ' ');
    std::memcpy(line.data() + row_chars, kLineEnd.data(), kLineEnd.size());
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            put_field(line.data() + kFieldWidth * static_cast<std::size_t>(j - 1), R(i, j));
        }
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

void write_matrix_file(const std::filesystem::path& folder, numeric::ConstMatrixRef R, int n) {
    AtomicFile file(folder / kMatrixFileName, kMatrixFileUnit);
    format_matrix(file.stream(), R, n);
    file.finish();
    file.commit();
}

}  // namespace netrevia::output
