#include "output/result_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>

#include "output/atomic_file.h"
#include "output/graphviz_file.h"
#include "output/io_error.h"
#include "output/matrix_file.h"

namespace netrevia::output {

namespace fs = std::filesystem;

namespace {

// Leftovers of a killed run: ".GRN.<name>.tmp-<hex>" / ".old-<hex>" (and the same of the exports
// edges.tsv and run.json) and the journal's temporary file "..GRN.commit.tmp-<hex>".
bool is_leftover(std::string_view name) {
    const bool ours = name.starts_with(".GRN.") || name.starts_with("..GRN.commit.tmp-") ||
                      name.starts_with(".edges.tsv.") || name.starts_with(".run.json.");
    return ours && (name.find(".tmp-") != std::string_view::npos ||
                    name.find(".old-") != std::string_view::npos);
}

}  // namespace

ResultFolderLock::ResultFolderLock(const fs::path& folder, LockWait wait) {
    const fs::path lock_file = folder / kLockFileName;
    fd_ = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    const int create_error = errno;
    if (fd_ < 0 && (create_error == EACCES || create_error == EROFS)) {
        // A read-only folder may still hold a lock file to take turns on.
        fd_ = ::open(lock_file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd_ < 0) {
        // The reason of the creation, not of the read-only attempt after it.
        throw IoError("cannot create file: " + std::generic_category().message(create_error),
                      kMatrixFileUnit, lock_file, create_error);
    }
    const int operation = LOCK_EX | (wait == LockWait::kNoWait ? LOCK_NB : 0);
    int locked = 0;
    do {
        locked = ::flock(fd_, operation);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error_number = errno;
        ::close(fd_);
        fd_ = -1;
        if (error_number == EWOULDBLOCK) {
            throw FolderBusy("output folder " + folder.string() +
                             " is in use by another run (lock file " + lock_file.string() + ")");
        }
        throw IoError("cannot lock the folder: " + std::generic_category().message(error_number),
                      kMatrixFileUnit, lock_file, error_number);
    }
    try {
        repair_result_folder(folder);
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

ResultFolderLock::~ResultFolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

void repair_result_folder(const fs::path& folder) {
    finish_interrupted_commit(folder / kCommitJournalName);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!is_leftover(name) || it->is_directory(ec)) continue;
        std::error_code ignored;
        fs::remove(it->path(), ignored);
    }
}

void check_results_replaceable(const fs::path& folder) {
    // access() asks the system, so read-only mounts and the superuser are answered correctly.
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        const int error_number = errno;
        throw IoError("cannot create file: " + std::generic_category().message(error_number),
                      kMatrixFileUnit, folder / kMatrixFileName, error_number);
    }
    check_replaceable(folder / kMatrixFileName, kMatrixFileUnit);
    check_replaceable(folder / kGraphvizFileName, kGraphvizFileUnit);
}

}  // namespace netrevia::output
