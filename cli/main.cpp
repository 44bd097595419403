#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/batch.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return netrevia::cli::batch_main(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
