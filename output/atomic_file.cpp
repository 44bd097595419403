#include "output/atomic_file.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "output/io_error.h"

#if defined(_WIN32)
#include <io.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace netrevia::output {

namespace fs = std::filesystem;

namespace {

// Buffer of the C stream: large enough that a 100 MB matrix file costs few system calls.
constexpr std::size_t kBufferBytes = std::size_t{1} << 16;
// Attempts at a free random name before giving up; a clash is already improbable at 64 bits.
constexpr int kNameAttempts = 16;

std::string reason(int error_number) { return std::generic_category().message(error_number); }

// "<folder>/.<name>.<tag>-<16 hex digits>": hidden, beside the final file, same file system.
fs::path random_sibling(const fs::path& final_path, std::string_view tag, std::random_device& rd) {
    const std::uint64_t bits = (std::uint64_t{rd()} << 32) ^ std::uint64_t{rd()};
    std::array<char, 16> hex{};
    const auto [end, ec] = std::to_chars(hex.data(), hex.data() + hex.size(), bits, 16);
    const auto count = static_cast<std::size_t>(end - hex.data());
    std::string name = ".";
    name += final_path.filename().string();
    name += '.';
    name += tag;
    name += '-';
    name.append(hex.size() - count, '0');
    name.append(hex.data(), count);
    return final_path.parent_path() / name;
}

// Exclusive creation ("x"): never opens, and so never truncates, a file that is already there.
std::FILE* open_exclusive(const fs::path& path) {
#if defined(_WIN32)
    return _wfopen(path.c_str(), L"wbx");
#else
    return std::fopen(path.c_str(), "wbx");
#endif
}

std::FILE* create_temp(const fs::path& final_path, int unit, fs::path& temp_path) {
    std::random_device rd;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temp_path = random_sibling(final_path, "tmp", rd);
        errno = 0;
        if (std::FILE* file = open_exclusive(temp_path)) {
            // When this fails the library's default buffer stays: only speed is at stake.
            (void)std::setvbuf(file, nullptr, _IOFBF, kBufferBytes);
            return file;
        }
        const int error_number = errno;
        if (error_number != EEXIST) {
            temp_path.clear();
            throw IoError("cannot create file: " + reason(error_number), unit, final_path,
                          error_number);
        }
    }
    temp_path.clear();
    throw IoError("cannot create file: no free temporary name", unit, final_path);
}

// A second name for the old file at final_path, so that it can be put back after a failed
// commit: a hard link costs nothing; a copy serves file systems without hard links.
fs::path keep_old_file(const AtomicFile& file) {
    const fs::path& final_path = file.final_path();
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(final_path, ec);
    if (ec || !fs::exists(status) || fs::is_directory(status)) return {};
    std::random_device rd;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        fs::path backup = random_sibling(final_path, "old", rd);
        fs::create_hard_link(final_path, backup, ec);
        if (ec && ec != std::errc::file_exists) fs::copy_file(final_path, backup, ec);
        if (!ec) return backup;
        if (ec != std::errc::file_exists) {
            throw IoError("cannot keep the old file: " + ec.message(), file.unit(), final_path,
                          ec.value());
        }
    }
    throw IoError("cannot keep the old file: no free name", file.unit(), final_path);
}

}  // namespace

FileStreamBuf::~FileStreamBuf() {
    if (file_ != nullptr) std::fclose(file_);
}

void FileStreamBuf::record_failure() noexcept {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
}

FileStreamBuf::int_type FileStreamBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    errno = 0;
    if (file_ == nullptr || std::fputc(c, file_) == EOF) {
        record_failure();
        return traits_type::eof();
    }
    return c;
}

std::streamsize FileStreamBuf::xsputn(const char* s, std::streamsize count) {
    if (file_ == nullptr || count <= 0) return 0;
    errno = 0;
    const std::size_t written = std::fwrite(s, 1, static_cast<std::size_t>(count), file_);
    if (written < static_cast<std::size_t>(count)) record_failure();
    return static_cast<std::streamsize>(written);
}

int FileStreamBuf::sync() {
    errno = 0;
    if (file_ == nullptr || std::fflush(file_) != 0) {
        record_failure();
        return -1;
    }
    return 0;
}

int FileStreamBuf::close() noexcept {
    if (file_ == nullptr) return error_;
    errno = 0;
    if (std::fflush(file_) != 0) record_failure();
    // The data must be on the device before the rename makes it the result: otherwise a crash
    // soon after could leave an empty file under the final name.
    errno = 0;
#if defined(_WIN32)
    if (_commit(_fileno(file_)) != 0) record_failure();
#elif defined(__unix__) || defined(__APPLE__)
    if (fsync(fileno(file_)) != 0) record_failure();
#endif
    errno = 0;
    if (std::fclose(file_) != 0) record_failure();
    file_ = nullptr;
    return error_;
}

AtomicFile::AtomicFile(fs::path final_path, int unit)
    : final_path_(std::move(final_path)),
      unit_(unit),
      buffer_(create_temp(final_path_, unit_, temp_path_)),
      stream_(&buffer_) {}

AtomicFile::~AtomicFile() {
    buffer_.close();
    if (!committed_ && !temp_path_.empty()) {
        std::error_code ec;
        fs::remove(temp_path_, ec);
    }
}

void AtomicFile::finish() {
    stream_.flush();
    const bool stream_failed = !stream_;
    int error_number = buffer_.close();
    if (error_number == 0 && stream_failed) error_number = EIO;
    if (error_number != 0)
        throw IoError("write error: " + reason(error_number), unit_, final_path_, error_number);
}

void AtomicFile::commit() {
    std::error_code ec;
    fs::rename(temp_path_, final_path_, ec);
    if (ec) throw IoError("cannot replace file: " + ec.message(), unit_, final_path_, ec.value());
    committed_ = true;
}

void check_replaceable(const fs::path& path, int unit) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return;
    constexpr auto kWriteBits =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    const bool no_write_bit = (status.permissions() & kWriteBits) == fs::perms::none;
    if (no_write_bit || access(path.c_str(), W_OK) != 0) {
        throw IoError("write error: " + reason(EACCES), unit, path, EACCES);
    }
}

void commit_checkpoint(const CommitControl* control, CommitStep step, std::size_t index) {
    if (control == nullptr) return;
    if (control->observer) control->observer(step, index);
    const bool before_journal = step == CommitStep::kWriteFile ||
                                step == CommitStep::kKeepOldFiles || step == CommitStep::kJournal;
    if (before_journal && control->cancel != nullptr && control->cancel->load())
        throw CommitAbandoned();
}

void commit_all(std::span<AtomicFile* const> files,
                const fs::path& journal_path,
                const CommitControl* control) {
    std::error_code ec;
    for (AtomicFile* file : files) {
        check_replaceable(file->final_path(), file->unit());
        // The new file takes the old one's permission bits, as an edit in place would keep them.
        const fs::file_status old = fs::symlink_status(file->final_path(), ec);
        if (!ec && fs::is_regular_file(old)) {
            fs::permissions(file->temp_path(), old.permissions(), ec);
            if (ec) {
                throw IoError("cannot set the permissions: " + ec.message(), file->unit(),
                              file->final_path(), ec.value());
            }
        }
    }

    std::vector<fs::path> backups;
    auto remove_backups = [&backups] {
        std::error_code ignored;
        for (const fs::path& backup : backups) {
            if (!backup.empty()) fs::remove(backup, ignored);
        }
    };
    try {
        commit_checkpoint(control, CommitStep::kKeepOldFiles);
        for (AtomicFile* file : files) backups.push_back(keep_old_file(*file));
        commit_checkpoint(control, CommitStep::kJournal);
        AtomicFile journal(journal_path, files.empty() ? 0 : files.front()->unit());
        for (AtomicFile* file : files) {
            journal.stream() << file->unit() << '\t' << file->temp_path().filename().string()
                             << '\t' << file->final_path().filename().string() << '\n';
        }
        journal.finish();
        // The last moment to stop: once renamed into place the journal commits the files.
        if (control != nullptr && control->cancel != nullptr && control->cancel->load())
            throw CommitAbandoned();
        journal.commit();
    } catch (...) {
        remove_backups();
        throw;
    }

    for (std::size_t i = 0; i < files.size(); ++i) {
        try {
            commit_checkpoint(control, CommitStep::kRename, i);
            files[i]->commit();
        } catch (...) {
            // Undo the renames before this one, last first: the old file comes back over the
            // new one, or the new one goes when there was none before.
            for (std::size_t u = i; u-- > 0;) {
                if (!backups[u].empty()) {
                    fs::rename(backups[u], files[u]->final_path(), ec);
                    backups[u].clear();
                } else {
                    fs::remove(files[u]->final_path(), ec);
                }
            }
            fs::remove(journal_path, ec);
            remove_backups();
            throw;
        }
    }
    commit_checkpoint(control, CommitStep::kCleanUp);
    fs::remove(journal_path, ec);
    remove_backups();
}

void commit_together(AtomicFile& first, AtomicFile& second) {
    const std::array<AtomicFile*, 2> files{&first, &second};
    const fs::path& final_path = first.final_path();
    std::string journal_name(1, '.');
    journal_name.append(final_path.stem().string()).append(".commit");
    commit_all(files, final_path.parent_path() / journal_name);
}

void finish_interrupted_commit(const fs::path& journal_path) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(journal_path, ec))) return;
    const fs::path folder = journal_path.parent_path();
    // ".<stem>.commit" names result files "<stem>.*", and the exports edges.tsv and run.json.
    const std::string stem = journal_path.stem().string().substr(1);
    std::ifstream journal(journal_path, std::ios::binary);
    std::string line;
    while (std::getline(journal, line)) {
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) continue;
        int unit = 0;
        std::from_chars(line.data(), line.data() + tab1, unit);
        const std::string temp = line.substr(tab1 + 1, tab2 - tab1 - 1);
        const std::string final_name = line.substr(tab2 + 1);
        // Only ".<name>.tmp-<hex>" renamed to "<name>" in this folder.
        const std::string prefix = "." + final_name + ".tmp-";
        // The exports written with the results keep their own names.
        const bool result_name = final_name.starts_with(stem + ".") || final_name == "edges.tsv" ||
                                 final_name == "run.json";
        if (!result_name || final_name.find('/') != std::string::npos ||
            !temp.starts_with(prefix) || temp.find('/') != std::string::npos) {
            continue;
        }
        if (!fs::is_regular_file(fs::symlink_status(folder / temp, ec))) continue;
        fs::rename(folder / temp, folder / final_name, ec);
        if (ec) {
            throw IoError("cannot finish the interrupted commit: " + ec.message(), unit,
                          folder / final_name, ec.value());
        }
    }
    journal.close();
    fs::remove(journal_path, ec);
}

}  // namespace netrevia::output
