#pragma once

#include <atomic>
#include <filesystem>
#include <span>
#include <stdexcept>

#include "output/io_error.h"

namespace netrevia::output {

// Another run holds the output folder's lock and the caller chose not to wait.
class FolderBusy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The wait for the folder's lock ended because the caller's cancel flag was set.
class LockWaitCancelled : public std::runtime_error {
public:
    LockWaitCancelled() : std::runtime_error("the wait for the output folder was cancelled") {}
};

// The output folder does not exist: it never did, or a failed run that had made it removed it
// while this run waited for its lock. A caller that makes missing folders makes it again and
// locks once more.
class FolderMissing : public IoError {
public:
    using IoError::IoError;
};

enum class LockWait { kWait, kNoWait };

inline constexpr const char* kLockFileName = ".GRN.lock";
inline constexpr const char* kCommitJournalName = ".GRN.commit";

// Exclusive advisory lock (flock) on the lock file ".GRN.lock" in an output folder, held for
// the object's lifetime, so that runs writing into one folder take turns and never leave a
// GRN.dat of one beside a GRN.dot of another. The lock file is created when missing; only
// release_and_remove() removes it, while holding it, and a run that then gets the lock on the
// removed file sees that it is no longer the folder's and locks the folder's current one, so
// that one run at a time holds the folder. While another run holds the lock the constructor
// waits (checking cancel, when given, every few milliseconds: LockWaitCancelled once it is
// set), or with kNoWait throws FolderBusy. Once the lock is held, repair_result_folder() runs.
// Throws FolderMissing ("cannot create file: No such file or directory", unit 3, the lock
// file) when the folder does not exist, and IoError "cannot create file: <reason>" (unit 3,
// the lock file) when the lock file can be neither created nor opened: the reason is that of
// the creation (a read-only folder gives "Permission denied").
class ResultFolderLock {
public:
    ResultFolderLock(const std::filesystem::path& folder,
                     LockWait wait,
                     const std::atomic<bool>* cancel = nullptr);
    ResultFolderLock(const ResultFolderLock&) = delete;
    ResultFolderLock& operator=(const ResultFolderLock&) = delete;
    ~ResultFolderLock();

    // For a run that failed after making its output folder (made: the folders it made,
    // outermost first, the output folder last): removes the lock file while still holding
    // the lock, then each folder of made that is empty, innermost first, then releases the
    // lock. A run that waited meanwhile finds its lock file gone and locks again (see above);
    // a folder another run has written into stays.
    void release_and_remove(std::span<const std::filesystem::path> made);

private:
    std::filesystem::path lock_file_;
    int fd_ = -1;
};

// What a killed run left, made whole again; call it only under the folder's lock. A commit
// journal (".GRN.commit") means the run was killed during its renames: the commit is finished
// from it, so the folder holds that run's complete set of result files. Then the hidden
// temporary and backup files of killed runs (".GRN.*.tmp-*", ".GRN.*.old-*" and the journal's
// own "..GRN.commit.tmp-*") are removed.
void repair_result_folder(const std::filesystem::path& folder);

// Refuses a run whose results could not be written, before it does any work: IoError "cannot
// create file: <reason>" (unit 3, GRN.dat) when the folder cannot be written to, and
// check_replaceable() for each result file (GRN.dat, GRN.dot) in it.
void check_results_replaceable(const std::filesystem::path& folder);

}  // namespace netrevia::output
