#include "output/result_files.h"

#include <array>

#include "output/atomic_file.h"
#include "output/graphviz_file.h"
#include "output/matrix_file.h"
#include "output/result_folder.h"

namespace netrevia::output {

void write_result_files(const std::filesystem::path& folder,
                        std::span<const std::string> names,
                        numeric::ConstMatrixRef R,
                        int n,
                        double threshold) {
    // Both files are complete on disk before either final name changes; a failure up to the
    // renames leaves only the temporary files, which the destructors remove.
    AtomicFile matrix(folder / kMatrixFileName, kMatrixFileUnit);
    format_matrix(matrix.stream(), R, n);
    matrix.finish();
    AtomicFile graphviz(folder / kGraphvizFileName, kGraphvizFileUnit);
    format_graphviz(graphviz.stream(), names, R, n, threshold);
    graphviz.finish();
    const std::array<AtomicFile*, 2> files{&matrix, &graphviz};
    commit_all(files, folder / kCommitJournalName);
}

}  // namespace netrevia::output
