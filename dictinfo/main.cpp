// dictinfo: reads a dictionary image back into its words and checks its layout.
#include <iostream>
#include <string>
#include <vector>

#include "dictinfo.hpp"
#include "interrupts.hpp"
#include "standard_streams.hpp"

int main(int argc, char** argv) {
    dicttools::open_closed_standard_streams();  // before any file is opened in their place
    dicttools::ignore_broken_pipe();            // a closed pipe is an output error like any other
    const std::vector<std::string> args(argv + 1, argv + argc);
    return static_cast<int>(dictinfo::run_dictinfo(args, std::cout, std::cerr));
}
