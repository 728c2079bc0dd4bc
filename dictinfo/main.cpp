// dictinfo: reads a dictionary image back into its words and checks its layout.
#include <iostream>
#include <string>
#include <vector>

#include "dictinfo.hpp"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return static_cast<int>(dictinfo::run_dictinfo(args, std::cout, std::cerr));
}
