#include "cli/render.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "output/atomic_file.h"
#include "output/io_error.h"
#include "output/network_drawing.h"

extern char** environ;

namespace netrevia::cli {

namespace {

constexpr int kDotMaxNodes = 100;
constexpr int kDotMaxEdges = 300;
constexpr int kDrawingUnit = 12;  // named in the write errors of the styled copy

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
                         const std::filesystem::path& drawn_file) {
    namespace fs = std::filesystem;
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
        return fail("'" + layout + "' could not draw " + drawn_file.string());
    }
    try {
        picture->commit();
    } catch (const output::IoError& e) {
        return fail(e.what());
    }
    return {};
}

std::string render_network(const inference::InferredNetwork& network,
                           double threshold,
                           bool self_loops,
                           const std::string& format,
                           const std::string& layout,
                           const std::filesystem::path& drawn_file) {
    // Never committed: the destructor removes the temporary file once the drawing is made.
    std::filesystem::path styled = drawn_file;
    styled.replace_extension("drawing.dot");
    try {
        output::AtomicFile file(styled, kDrawingUnit);
        const std::vector<std::string>& names =
            network.full_names.size() == network.gene_names.size() ? network.full_names
                                                                   : network.gene_names;
        output::format_drawing(file.stream(), names,
                               numeric::ConstMatrixRef{network.R.data(), std::max(network.n, 1)},
                               network.n, threshold, self_loops);
        file.finish();
        return render_graph(file.temp_path(), format, layout, drawn_file);
    } catch (const output::IoError& e) {
        return e.what();
    }
}

}  // namespace netrevia::cli
