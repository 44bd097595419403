#include <iostream>
#include <string>
#include <vector>

#include "table/import_tool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return netrevia::table::import_main(args, std::cout, std::cerr);
}
