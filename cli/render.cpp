#include "cli/render.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

namespace netrevia::cli {

namespace {

constexpr int kDotMaxNodes = 100;
constexpr int kDotMaxEdges = 300;

}  // namespace

std::string choose_layout(int nodes, int edges) {
    return nodes <= kDotMaxNodes && edges <= kDotMaxEdges ? "dot" : "sfdp";
}

std::string render_graph(const std::filesystem::path& dot_file,
                         const std::string& format,
                         const std::string& layout,
                         std::filesystem::path& drawn_file) {
    drawn_file = dot_file;
    drawn_file.replace_extension(format);
    std::vector<std::string> args = {layout, "-T" + format, dot_file.string(), "-o",
                                     drawn_file.string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // No shell: the file names go to the program as they are.
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, layout.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        if (spawned == ENOENT) {
            return "Graphviz program '" + layout +
                   "' not found; install Graphviz (Debian package graphviz) to draw the network";
        }
        return "cannot start '" + layout + "': " + std::strerror(spawned);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return "waiting for '" + layout + "' failed: " + std::strerror(errno);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "'" + layout + "' could not draw " + dot_file.string();
    }
    return {};
}

}  // namespace netrevia::cli
