#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/matrix_ref.h"

namespace netrevia::output {

// File names of the exports for other tools, beside GRN.dat and GRN.dot.
inline constexpr const char* kEdgeListFileName = "edges.tsv";
inline constexpr const char* kSifFileName = "GRN.sif";
inline constexpr const char* kGraphmlFileName = "GRN.graphml";

// name with '?' for each byte that is not part of a well-formed UTF-8 sequence (overlong forms,
// surrogates and code points beyond U+10FFFF included) and for each character XML 1.0 or a
// terminal cannot take as text (the C0 and C1 controls, DEL, U+FFFE, U+FFFF), so that a
// tab-separated, XML or Graphviz reader sees one whole field of valid text.
std::string printable_name(std::string_view name);

// One entry R(i,j) != 0 of the interaction matrix as an edge from gene j (regulator) to gene i
// (target); indices are 1-based as in R.
struct RankedEdge {
    int rank = 0;  // 1 for the strongest
    int regulator = 0;
    int target = 0;
    double weight = 0.0;
};

// The nonzero entries of R ranked by |R(i,j)| descending, ties by regulator then target index.
// Entries between distinct genes come first; self-terms (i = j, mostly each gene's own decay)
// follow, ranked the same way among themselves, or are left out when with_self is false.
// NaN entries are not edges and are left out.
std::vector<RankedEdge> rank_edges(numeric::ConstMatrixRef R, int n, bool with_self);

// edges.tsv: a header line and one line per ranked edge, tab-separated, LF line ends:
//   rank regulator target weight sign abs_weight above_threshold
// names are the full gene names (index k-1 for gene k), printable_name, in double quotes with
// each quote doubled when they hold one (as R and pandas read it); weight and abs_weight round-trip
// (17 significant digits), sign is 1 or -1, above_threshold is 1 when GRN.dot draws the edge
// (edge_sign) and 0 otherwise.
void format_edge_list(std::ostream& out,
                      std::span<const std::string> names,
                      std::span<const RankedEdge> edges,
                      double threshold);

// GRN.sif: "regulator<TAB>activates|represses<TAB>target" for each ranked edge GRN.dot draws,
// in rank order; tabs separate, so names may hold blanks.
void format_sif(std::ostream& out,
                std::span<const std::string> names,
                std::span<const RankedEdge> edges,
                double threshold);

// GRN.graphml: a directed GraphML graph with every gene as a node (attribute name = full name;
// the node id is the name itself when all names are distinct and not empty, else n<k>) and each
// ranked edge GRN.dot draws, with the declared attributes weight (double), sign (int), rank
// (int) and interaction (activates or represses).
void format_graphml(std::ostream& out,
                    std::span<const std::string> names,
                    std::span<const RankedEdge> edges,
                    double threshold);

}  // namespace netrevia::output
