#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "numeric/matrix_ref.h"

namespace netrevia::output {

// Message text only, as every unit number: scripts that match "unit 3" rely on the value.
inline constexpr int kMatrixFileUnit = 3;
inline constexpr const char* kMatrixFileName = "GRN.dat";

// One 25-character field: fixed point with 12 decimals (exactly rounded, as C's "%25.12f" in
// the "C" locale, whatever the process locale), right-justified; 25 asterisks when the text
// needs more than 25 characters (from 1e12, or from 1e11 when negative, up to rounding).
// A negative value that rounds to zero keeps its sign ("-0.000000000000"); NaN is written
// "NaN" (sign ignored), infinities "Infinity" and "-Infinity", right-justified like numbers.
std::string format_matrix_field(double value);

// The content of GRN.dat: n lines, line i = R(i,1..n) as fields, CR LF after every line.
// R is n x n with stride R.ld >= n.
void format_matrix(std::ostream& out, numeric::ConstMatrixRef R, int n);

// Writes folder/GRN.dat, replacing an old file only once the new one is complete.
// Throws IoError (unit 3) on failure.
void write_matrix_file(const std::filesystem::path& folder, numeric::ConstMatrixRef R, int n);

}  // namespace netrevia::output
