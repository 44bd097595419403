#pragma once

#include <filesystem>
#include <stdexcept>

namespace netrevia::output {

// Another run holds the output folder's lock and the caller chose not to wait.
class FolderBusy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class LockWait { kWait, kNoWait };

inline constexpr const char* kLockFileName = ".GRN.lock";
inline constexpr const char* kCommitJournalName = ".GRN.commit";

// Exclusive advisory lock (flock) on the lock file ".GRN.lock" in an output folder, held for
// the object's lifetime, so that runs writing into one folder take turns and never leave a
// GRN.dat of one beside a GRN.dot of another. The lock file is created when missing and never
// removed (removing it would let two runs lock two different files). Once the lock is held,
// repair_result_folder() runs. Throws IoError "cannot create file: <reason>" (unit 3, the lock
// file) when the lock file can be neither created nor opened (a missing or read-only folder,
// where GRN.dat could not be created either): the reason is that of the creation (a read-only
// folder gives "Permission denied"). Throws FolderBusy with kNoWait when another run holds it.
class ResultFolderLock {
public:
    ResultFolderLock(const std::filesystem::path& folder, LockWait wait);
    ResultFolderLock(const ResultFolderLock&) = delete;
    ResultFolderLock& operator=(const ResultFolderLock&) = delete;
    ~ResultFolderLock();

private:
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
