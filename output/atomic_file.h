#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <streambuf>

namespace netrevia::output {

// Output stream buffer over a C stream (std::FILE, which does the buffering). It owns the
// stream, and keeps the errno of the first failed operation, so that the caller can name the
// reason ("No space left on device") rather than only seeing a bad stream.
class FileStreamBuf final : public std::streambuf {
public:
    explicit FileStreamBuf(std::FILE* file) noexcept : file_(file) {}
    FileStreamBuf(const FileStreamBuf&) = delete;
    FileStreamBuf& operator=(const FileStreamBuf&) = delete;
    ~FileStreamBuf() override;

    // errno of the first failure, 0 if none.
    int error() const noexcept { return error_; }
    bool is_open() const noexcept { return file_ != nullptr; }
    // Flushes the C stream, forces the data to the storage device (where the platform can) and
    // closes; returns error(), which now includes failures of these steps.
    int close() noexcept;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize count) override;
    int sync() override;

private:
    void record_failure() noexcept;

    std::FILE* file_;
    int error_ = 0;
};

// A file written under a temporary name beside its final path (".<name>.tmp-<random hex>", in
// the same folder so that the rename cannot cross file systems) and renamed over the final path
// only once it is complete. Until commit() succeeds the final path is untouched; the destructor
// removes the temporary file unless it was committed. Every failure throws IoError naming the
// condition, the unit and the final path:
//   "cannot create file: <reason>"   the temporary file could not be created
//   "write error: <reason>"          writing, flushing or closing failed
//   "cannot replace file: <reason>"  the rename over the final path failed
class AtomicFile {
public:
    AtomicFile(std::filesystem::path final_path, int unit);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // Where the content goes; unformatted writes (ostream::write) are the fast path.
    std::ostream& stream() noexcept { return stream_; }
    // Ends writing: flushes, syncs to the device, closes and checks every step.
    void finish();
    // Renames the finished temporary file over the final path (atomic on POSIX file systems).
    void commit();

    const std::filesystem::path& final_path() const noexcept { return final_path_; }
    const std::filesystem::path& temp_path() const noexcept { return temp_path_; }
    int unit() const noexcept { return unit_; }

private:
    std::filesystem::path final_path_;
    int unit_;
    std::filesystem::path temp_path_;
    FileStreamBuf buffer_;
    std::ostream stream_;
    bool committed_ = false;
};

// Throws IoError "write error: Permission denied" (unit, path) when a file is at path (after
// following a link) that the user may not write or that has no write permission bit at all: a
// write-protected result is one its owner means to keep, and the superuser keeps it as well.
void check_replaceable(const std::filesystem::path& path, int unit);

// The steps of a commit (write_result_files, commit_all) in order. The journal, once renamed
// into place, is the point of no return: a commit stopped before it changes no result file, one
// killed after it is finished by the next run's repair.
enum class CommitStep {
    kWriteFile,     // file `index` is about to be written under its temporary name
    kKeepOldFiles,  // the old files are about to get their second names
    kJournal,       // the journal is about to be written and renamed into place
    kRename,        // file `index` is about to be renamed over its final name
    kCleanUp,       // every file is renamed; the journal and the second names are about to go
};

// How a caller steers a commit: cancel, when set, abandons it at the next step up to the point
// of no return (CommitAbandoned; every temporary file removed, the old files as they were), and
// last just before the journal is renamed into place; after that the commit completes. The
// observer, when given, is called as each step begins (a seam for tests that signal or stop the
// process there).
struct CommitControl {
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(CommitStep step, std::size_t index)> observer;
};

// The commit saw its cancel flag before the point of no return and changed nothing.
class CommitAbandoned : public std::runtime_error {
public:
    CommitAbandoned() : std::runtime_error("the commit was abandoned") {}
};

// Calls control's observer for the step and then, for a step before the point of no return,
// throws CommitAbandoned when control's cancel flag is set. control may be null.
void commit_checkpoint(const CommitControl* control, CommitStep step, std::size_t index = 0);

// Commits the finished files as one step, in order. Before the first rename each new file gets
// the permission bits of the file it replaces, every file is checked with check_replaceable, and
// the journal (a small file at journal_path, itself written atomically) lists the temporary
// files and their final names: a process killed during the renames leaves the journal, and
// finish_interrupted_commit() completes the commit from it. When a rename fails, the renames
// before it are undone: each old file is put back (kept meanwhile under a hard link, or a copy
// where hard links are not supported), or the new file removed where there was none. Throws the
// IoError of the failed step, or CommitAbandoned (see CommitControl).
void commit_all(std::span<AtomicFile* const> files,
                const std::filesystem::path& journal_path,
                const CommitControl* control = nullptr);

// commit_all of the two files, with the journal beside the first (".<stem>.commit").
void commit_together(AtomicFile& first, AtomicFile& second);

// After a killed run: when the journal at journal_path exists, renames each temporary file it
// lists that still exists over its final name, then removes the journal. Entries that do not
// name a temporary file ".<name>.tmp-*" of a file <name> in the journal's folder, with <name>
// starting with the journal's stem (".GRN.commit": "GRN."), are ignored.
void finish_interrupted_commit(const std::filesystem::path& journal_path);

}  // namespace netrevia::output
