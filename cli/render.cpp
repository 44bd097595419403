#include "cli/render.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "output/atomic_file.h"
#include "output/io_error.h"

namespace netrevia::cli {

namespace {

constexpr int kDotMaxNodes = 100;
constexpr std::size_t kDotMaxEdges = 300;
constexpr int kDrawingUnit = 12;  // named in the write errors of the styled copy
// How often the wait for the layout program looks at the clock and the cancel flag.
constexpr std::chrono::milliseconds kWaitPoll{20};

// A path as a program argument: a relative one starting with '-' would read as an option.
std::string as_argument(const std::filesystem::path& path) {
    std::string text = path.string();
    if (!text.empty() && text.front() == '-') text.insert(0, "./");
    return text;
}

// The program as the shell would find it: a name with a slash as it is, otherwise the first
// executable regular file of that name in a folder of PATH; empty when there is none.
std::string find_program(const std::string& name) {
    const auto runnable = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
               ::access(path.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) return runnable(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    const std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string_view folder = folders.substr(start, end - start);
        const std::string candidate =
            (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        if (runnable(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

// Starts the program; the child dies with this process (a killed batch run leaves no layout
// program running on). Returns the child's id, or -1 with error_number set.
pid_t start_program(const std::string& program, std::vector<std::string>& args, int& error_number) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The exec's errno comes back through a pipe that the exec closes when it succeeds.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error_number = errno;
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::close(report[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::execv(program.c_str(), argv.data());
        const int failed = errno;
        (void)!::write(report[1], &failed, sizeof failed);
        ::_exit(127);
    }
    ::close(report[1]);
    if (pid < 0) {
        error_number = errno;
        ::close(report[0]);
        return -1;
    }
    int failed = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &failed, sizeof failed);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof failed)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        error_number = failed;
        return -1;
    }
    return pid;
}

void end_program(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::string choose_layout(int nodes, std::size_t edges) {
    return nodes <= kDotMaxNodes && edges <= kDotMaxEdges ? "dot" : "sfdp";
}

RenderResult render_graph(const std::filesystem::path& dot_file,
                          const std::string& format,
                          const std::string& layout,
                          const std::filesystem::path& drawn_file,
                          const RenderLimits& limits) {
    namespace fs = std::filesystem;
    RenderResult result;
    result.layout = layout;
    // The drawing goes to a fresh temporary file (created here, so never a planted link) and
    // is renamed over the final name only when the program succeeded. A picture of earlier
    // results would belong to another network: it goes when the new drawing fails.
    auto end = [&drawn_file, &result](RenderOutcome outcome, std::string problem) {
        std::error_code ec;
        fs::remove(drawn_file, ec);
        result.outcome = outcome;
        result.problem = std::move(problem);
        return result;
    };
    const auto stopped = [&limits] { return limits.cancel != nullptr && limits.cancel->load(); };
    std::optional<output::AtomicFile> picture;
    try {
        picture.emplace(drawn_file, 0);
        picture->finish();
    } catch (const output::IoError& e) {
        return end(RenderOutcome::kFailed, std::string("cannot draw the network: ") + e.what());
    }
    const std::string program = find_program(layout);
    if (program.empty()) {
        return end(RenderOutcome::kFailed,
                   "Graphviz program '" + layout +
                       "' not found; install Graphviz (Debian package graphviz) to draw the "
                       "network");
    }
    if (stopped()) return end(RenderOutcome::kStopped, {});
    std::vector<std::string> args = {layout, "-T" + format, as_argument(dot_file),
                                     "-o" + as_argument(picture->temp_path())};
    int error_number = 0;
    const pid_t pid = start_program(program, args, error_number);
    if (pid < 0) {
        return end(RenderOutcome::kFailed,
                   "cannot start '" + layout + "': " + std::strerror(error_number));
    }
    const auto started = std::chrono::steady_clock::now();
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            const int wait_error = errno;
            end_program(pid);
            return end(RenderOutcome::kFailed,
                       "waiting for '" + layout + "' failed: " + std::strerror(wait_error));
        }
        if (stopped()) {
            end_program(pid);
            return end(RenderOutcome::kStopped, {});
        }
        if (std::chrono::steady_clock::now() - started >= limits.time_limit) {
            end_program(pid);
            return end(RenderOutcome::kFailed,
                       "'" + layout + "' did not finish within " +
                           std::to_string(limits.time_limit.count()) +
                           " s and was stopped (a longer limit: --render-timeout; fewer edges: "
                           "--render-max-edges or a higher threshold)");
        }
        std::this_thread::sleep_for(kWaitPoll);
    }
    // A program ended by the same Ctrl+C as this process may exit 0 with half a picture.
    if (stopped()) return end(RenderOutcome::kStopped, {});
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return end(RenderOutcome::kFailed,
                   "'" + layout + "' could not draw " + drawn_file.string());
    }
    try {
        picture->commit();
    } catch (const output::IoError& e) {
        return end(RenderOutcome::kFailed, e.what());
    }
    result.outcome = RenderOutcome::kDrawn;
    return result;
}

RenderResult render_network(const inference::InferredNetwork& network,
                            double threshold,
                            bool self_loops,
                            const std::string& format,
                            const std::string& layout,
                            const std::filesystem::path& drawn_file,
                            const RenderLimits& limits) {
    // Never committed: the destructor removes the temporary file once the drawing is made.
    std::filesystem::path styled = drawn_file;
    styled.replace_extension("drawing.dot");
    try {
        output::AtomicFile file(styled, kDrawingUnit);
        const std::vector<std::string>& names =
            network.full_names.size() == network.gene_names.size() ? network.full_names
                                                                   : network.gene_names;
        const output::DrawingExtent extent = output::format_drawing(
            file.stream(), names, numeric::ConstMatrixRef{network.R.data(), std::max(network.n, 1)},
            network.n, threshold, self_loops, limits.max_edges);
        file.finish();
        RenderResult result = render_graph(
            file.temp_path(), format,
            layout.empty() ? choose_layout(network.n, extent.drawn) : layout, drawn_file, limits);
        result.extent = extent;
        return result;
    } catch (const output::IoError& e) {
        std::error_code ec;
        std::filesystem::remove(drawn_file, ec);
        RenderResult result;
        result.problem = e.what();
        return result;
    }
}

}  // namespace netrevia::cli
