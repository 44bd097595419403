#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace netrevia::table {

// netrevia-import [options] TABLE... -o DATAFILE: writes DATAFILE and DATAFILE.names.tsv
// (both or neither) and prints the summary on out. Returns 0, 1 for a table or file that
// fails (message on err, nothing written), 2 for a bad command line.
int import_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace netrevia::table
