// dictbuild: turns "dic.txt" in the current directory into "dic.bin" and "dic.uns".
#include <iostream>

#include "builder.hpp"

int main() { return static_cast<int>(dictbuild::run_builder(std::cout, ".")); }
