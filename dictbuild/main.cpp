// dictbuild: turns "dic.txt" in the current directory into "dic.bin" and "dic.uns".
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "builder.hpp"
#include "interrupts.hpp"
#include "program_arguments.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: dictbuild\n"
    "       dictbuild --help | --version\n"
    "\n"
    "Reads the word list dic.txt (one word per line) in the current folder and\n"
    "writes the 524288-byte dictionary image beside it twice: dic.uns in linear\n"
    "byte order (for flashprog) and dic.bin address-scrambled (for a PROM).\n"
    "It takes no other arguments.\n"
    "\n"
    "Exit status:\n"
    "  0      done: both files written, the image fits\n"
    "  1      dic.txt missing or unreadable; nothing written\n"
    "  2      the image is too large: both files written, cut at 524288 bytes\n"
    "  3      an image file could not be written; the earlier files are kept\n"
    "  64     wrong arguments\n"
    "  128+N  interrupted by signal N (Ctrl+C gives 130): the earlier files are\n"
    "         kept, or both are new if it came while they were being renamed\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto early =
            dicttools::early_exit_for(std::vector<std::string>(argv + 1, argv + argc), "dictbuild", kUsage)) {
        return dicttools::finish_early(*early, std::cout, std::cerr);
    }
    const dicttools::ProcessInterrupts interrupts;
    const dictbuild::ExitStatus status = dictbuild::run_builder({std::cout, std::cerr}, ".", interrupts);
    return status == dictbuild::ExitStatus::interrupted ? dicttools::exit_status_for_signal(interrupts.signal())
                                                        : static_cast<int>(status);
}
