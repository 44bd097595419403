#include "output/result_files.h"

#include <memory>
#include <vector>

#include "output/atomic_file.h"
#include "output/graphviz_file.h"
#include "output/matrix_file.h"
#include "output/result_folder.h"

namespace netrevia::output {

void write_result_files(const std::filesystem::path& folder,
                        std::span<const std::string> names,
                        numeric::ConstMatrixRef R,
                        int n,
                        double threshold,
                        std::span<const ExtraResultFile> extra_files,
                        const CommitControl* control) {
    // Every file is complete on disk before any final name changes; a failure or a stop up to
    // the renames leaves only the temporary files, which the destructors remove.
    commit_checkpoint(control, CommitStep::kWriteFile, 0);
    AtomicFile matrix(folder / kMatrixFileName, kMatrixFileUnit);
    format_matrix(matrix.stream(), R, n);
    matrix.finish();
    commit_checkpoint(control, CommitStep::kWriteFile, 1);
    AtomicFile graphviz(folder / kGraphvizFileName, kGraphvizFileUnit);
    format_graphviz(graphviz.stream(), names, R, n, threshold);
    graphviz.finish();
    std::vector<std::unique_ptr<AtomicFile>> extras;
    std::vector<AtomicFile*> all{&matrix, &graphviz};
    for (const ExtraResultFile& extra : extra_files) {
        commit_checkpoint(control, CommitStep::kWriteFile, all.size());
        extras.push_back(std::make_unique<AtomicFile>(folder / extra.name, extra.unit));
        extra.format(extras.back()->stream());
        extras.back()->finish();
        all.push_back(extras.back().get());
    }
    commit_all(all, folder / kCommitJournalName, control);
}

}  // namespace netrevia::output
