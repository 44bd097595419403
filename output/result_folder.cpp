#include "output/result_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "output/atomic_file.h"
#include "output/graphviz_file.h"
#include "output/matrix_file.h"

namespace netrevia::output {

namespace fs = std::filesystem;

namespace {

// How often a waiting run tries the lock again and looks at its cancel flag: short enough that
// a signal ends the wait at once for a person, long enough to cost nothing over hours.
constexpr std::chrono::milliseconds kLockPoll{20};

std::string reason(int error_number) { return std::generic_category().message(error_number); }

// Leftovers of a killed run: ".GRN.<name>.tmp-<hex>" / ".old-<hex>" (and the same of the exports
// edges.tsv and run.json) and the journal's temporary file "..GRN.commit.tmp-<hex>".
bool is_leftover(std::string_view name) {
    const bool ours = name.starts_with(".GRN.") || name.starts_with("..GRN.commit.tmp-") ||
                      name.starts_with(".edges.tsv.") || name.starts_with(".run.json.");
    return ours && (name.find(".tmp-") != std::string_view::npos ||
                    name.find(".old-") != std::string_view::npos);
}

// True when the open file fd is the one the folder's lock file names now.
bool is_current(int fd, const fs::path& lock_file) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(lock_file.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

ResultFolderLock::ResultFolderLock(const fs::path& folder,
                                   LockWait wait,
                                   const std::atomic<bool>* cancel)
    : lock_file_(folder / kLockFileName) {
    for (;;) {
        fd_ = ::open(lock_file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        const int create_error = errno;
        if (fd_ < 0 && (create_error == EACCES || create_error == EROFS)) {
            // A read-only folder may still hold a lock file to take turns on.
            fd_ = ::open(lock_file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        }
        if (fd_ < 0) {
            // The reason of the creation, not of the read-only attempt after it.
            if (create_error == ENOENT) {
                throw FolderMissing("cannot create file: " + reason(create_error), kMatrixFileUnit,
                                    lock_file_, create_error);
            }
            throw IoError("cannot create file: " + reason(create_error), kMatrixFileUnit,
                          lock_file_, create_error);
        }
        // Polled rather than blocking, so that a wait of hours ends at once when cancelled.
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) break;
            const int error_number = errno;
            if (error_number == EINTR) continue;
            if (error_number != EWOULDBLOCK) {
                ::close(fd_);
                fd_ = -1;
                throw IoError("cannot lock the folder: " + reason(error_number), kMatrixFileUnit,
                              lock_file_, error_number);
            }
            if (wait == LockWait::kNoWait || (cancel != nullptr && cancel->load())) {
                ::close(fd_);
                fd_ = -1;
                if (wait == LockWait::kNoWait) {
                    throw FolderBusy("output folder " + folder.string() +
                                     " is in use by another run (lock file " + lock_file_.string() +
                                     ")");
                }
                throw LockWaitCancelled();
            }
            std::this_thread::sleep_for(kLockPoll);
        }
        if (is_current(fd_, lock_file_)) break;
        // The run that held it removed the lock file (and perhaps the folder): lock anew.
        ::close(fd_);
        fd_ = -1;
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

void ResultFolderLock::release_and_remove(std::span<const fs::path> made) {
    if (fd_ < 0) return;
    if (made.empty()) {
        ::close(fd_);  // a folder that was there before keeps its lock file
        fd_ = -1;
        return;
    }
    std::error_code ignored;
    // Removed while held: a run waiting on this file then sees that it is stale.
    fs::remove(lock_file_, ignored);
    for (auto dir = made.rbegin(); dir != made.rend(); ++dir) {
        if (!fs::remove(*dir, ignored)) break;  // not empty: another run's files, or its lock
    }
    ::close(fd_);
    fd_ = -1;
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
        throw IoError("cannot create file: " + reason(error_number), kMatrixFileUnit,
                      folder / kMatrixFileName, error_number);
    }
    check_replaceable(folder / kMatrixFileName, kMatrixFileUnit);
    check_replaceable(folder / kGraphvizFileName, kGraphvizFileUnit);
}

}  // namespace netrevia::output
