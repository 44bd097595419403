#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/stop_signal.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const netrevia::cli::StopRequest& stop = netrevia::cli::install_stop_handlers();
    return netrevia::cli::batch_main(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0, &stop);
}
