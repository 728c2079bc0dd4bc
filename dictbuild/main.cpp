// dictbuild: turns a word list ("dic.txt" by default) into "dic.bin" and
// "dic.uns" in the current directory.
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include "builder.hpp"
#include "console_text.hpp"
#include "interrupts.hpp"
#include "program_arguments.hpp"
#include "standard_streams.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: dictbuild [-C DIR] [LIST]\n"
    "       dictbuild --help | --version\n"
    "\n"
    "Reads the word list dic.txt (one word per line) in the current folder and\n"
    "writes the 524288-byte dictionary image beside it twice: dic.uns in linear\n"
    "byte order (for flashprog) and dic.bin address-scrambled (for a PROM).\n"
    "\n"
    "  LIST                  read this word list instead of dic.txt; - reads\n"
    "                        standard input. The images still go to the\n"
    "                        current folder.\n"
    "  -C, --directory DIR   work in DIR, as if started there\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Exit status:\n"
    "  0      done: both files written, the image fits\n"
    "  1      the word list missing or unreadable, or DIR cannot be entered;\n"
    "         nothing written\n"
    "  2      the image is too large: both files written, cut at 524288 bytes\n"
    "  3      an image file could not be written, or it is the word list; the\n"
    "         earlier files are kept\n"
    "  64     wrong arguments\n"
    "  74     this help or the version could not be written\n"
    "  128+N  interrupted by signal N (Ctrl+C gives 130): the earlier files are\n"
    "         kept, or both are new if it came while they were being renamed\n";

constexpr dicttools::Option kOptions[] = {{"directory", 'C', true}};
constexpr dicttools::CommandLine kCommandLine{"dictbuild", kUsage, kOptions};

}  // namespace

int main(int argc, char** argv) {
    // Before any file is opened in their place.
    const dicttools::StandardStreams streams = dicttools::open_closed_standard_streams();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = dicttools::parse_arguments(args, kCommandLine);
    if (const auto* early = std::get_if<dicttools::EarlyExit>(&parsed)) {
        return dicttools::finish_early(*early, "dictbuild", std::cout, std::cerr);
    }
    const auto& arguments = *std::get_if<dicttools::Arguments>(&parsed);
    if (arguments.operands.size() > 1 || (arguments.operands.size() == 1 && arguments.operands[0].empty())) {
        const std::string& wrong = arguments.operands.back();  // a second list, or an empty name
        return dicttools::finish_early(dicttools::usage_error("dictbuild", dicttools::unexpected_argument(wrong)),
                                       "dictbuild", std::cout, std::cerr);
    }
    dictbuild::WordListSource list;
    if (!arguments.operands.empty()) {
        list.standard_input = arguments.operands[0] == "-";
        list.input_closed = streams.input_was_closed;
        list.path = arguments.operands[0];
    }
    if (const auto folder = arguments.value_of("directory")) {
        std::error_code error;
        std::filesystem::current_path(*folder, error);
        if (error) {
            std::cerr << "dictbuild: cannot work in " << dicttools::printable_name(*folder) << ": " << error.message()
                      << '\n';
            return static_cast<int>(dictbuild::ExitStatus::word_list_unusable);
        }
    }
    const dicttools::ProcessInterrupts interrupts;
    const dictbuild::ExitStatus status = dictbuild::run_builder({std::cout, std::cerr}, ".", interrupts, list);
    return status == dictbuild::ExitStatus::interrupted ? dicttools::exit_status_for_signal(interrupts.signal())
                                                        : static_cast<int>(status);
}
