// dictbuild: turns "dic.txt" in the current directory into "dic.bin" and "dic.uns".
#include <iostream>

#include "builder.hpp"
#include "interrupts.hpp"

int main() {
    const dicttools::ProcessInterrupts interrupts;
    const dictbuild::ExitStatus status = dictbuild::run_builder({std::cout, std::cerr}, ".", interrupts);
    return status == dictbuild::ExitStatus::interrupted ? dicttools::exit_status_for_signal(interrupts.signal())
                                                        : static_cast<int>(status);
}
