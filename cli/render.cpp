#include "cli/render.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "output/atomic_file.h"
#include "output/io_error.h"

extern char** environ;

namespace netrevia::cli {

namespace {

constexpr int kDotMaxNodes = 100;
constexpr int kDotMaxEdges = 300;

// A path as a program argument: a relative one starting with '-' would read as an option.
std::string as_argument(const std::filesystem::path& path) {
    std::string text = path.string();
    if (!text.empty() && text.front() == '-') text.insert(0, "./");
    return text;
}

}  // namespace

std::string choose_layout(int nodes, int edges) {
    return nodes <= kDotMaxNodes && edges <= kDotMaxEdges ? "dot" : "sfdp";
}

std::string render_graph(const std::filesystem::path& dot_file,
                         const std::string& format,
                         const std::string& layout,
                         std::filesystem::path& drawn_file) {
    namespace fs = std::filesystem;
    drawn_file = dot_file;
    drawn_file.replace_extension(format);
    // The drawing goes to a fresh temporary file (created here, so never a planted link) and
    // is renamed over the final name only when the program succeeded. A picture of earlier
    // results would belong to another network: it goes when the new drawing fails.
    auto fail = [&drawn_file](std::string problem) {
        std::error_code ec;
        fs::remove(drawn_file, ec);
        return problem;
    };
    std::optional<output::AtomicFile> picture;
    try {
        picture.emplace(drawn_file, 0);
        picture->finish();
    } catch (const output::IoError& e) {
        return fail(std::string("cannot draw the network: ") + e.what());
    }
    std::vector<std::string> args = {layout, "-T" + format, as_argument(dot_file),
                                     "-o" + as_argument(picture->temp_path())};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // No shell: the file names go to the program as they are.
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, layout.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        if (spawned == ENOENT) {
            return fail("Graphviz program '" + layout +
                        "' not found; install Graphviz (Debian package graphviz) to draw the "
                        "network");
        }
        return fail("cannot start '" + layout + "': " + std::strerror(spawned));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return fail("waiting for '" + layout + "' failed: " + std::strerror(errno));
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return fail("'" + layout + "' could not draw " + dot_file.string());
    }
    try {
        picture->commit();
    } catch (const output::IoError& e) {
        return fail(e.what());
    }
    return {};
}

}  // namespace netrevia::cli
