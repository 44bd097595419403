#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "numeric/matrix_ref.h"

namespace netrevia::output {

inline constexpr int kMatrixFileUnit = 3;
inline constexpr const char* kMatrixFileName = "GRN.dat";

// One 25-character field: fixed point with 12 decimals, right-justified; 25 asterisks when the
// text does not fit.
std::string format_matrix_field(double value);

// The content of GRN.dat: n lines, line i = R(i,1..n) as fields, CR LF after every line.
// R is n x n with stride R.ld >= n.
void format_matrix(std::ostream& out, numeric::ConstMatrixRef R, int n);

// Writes folder/GRN.dat, replacing an old file only once the new one is complete.
// Throws IoError (unit 3) on failure.
void write_matrix_file(const std::filesystem::path& folder, numeric::ConstMatrixRef R, int n);

}  // namespace netrevia::output
