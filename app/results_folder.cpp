#include "app/results_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "output/result_folder.h"

namespace netrevia::app {

std::string results_folder_problem(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::path where = std::filesystem::absolute(folder, error);
    if (error) where = folder;
    const std::filesystem::path lock_file = where / output::kLockFileName;
    // As the run opens it: created when missing, read-only when it may not be written.
    int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    const int create_error = errno;
    if (fd < 0 && (create_error == EACCES || create_error == EROFS)) {
        fd = ::open(lock_file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        // The reason is the creation's: a read-only folder gives EACCES there and ENOENT for
        // the read-only retry, which would hide it.
        return "cannot create " + lock_file.string() + ": " +
               std::generic_category().message(create_error);
    }
    ::close(fd);
    // The result files are written beside their final names and renamed into place.
    if (::faccessat(AT_FDCWD, where.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return "cannot create files in " + where.string() + ": " +
               std::generic_category().message(errno);
    }
    return {};
}

}  // namespace netrevia::app
