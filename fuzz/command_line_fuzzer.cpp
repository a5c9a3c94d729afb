// Drives both programs' option parsers with any arguments: the input split
// at its zero bytes, after the program's name. Whatever it is, the answer
// must be one of the five actions, and a consistent one: a conversion names
// two of the arguments as its files and has options in range, a refusal
// carries one of its program's messages, help and version stand alone.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target command_line_fuzzer
//   build-fuzz/bin/command_line_fuzzer -max_total_time=60 -max_len=256 -artifact_prefix=fuzz/findings/
//   fuzz/corpus/arguments
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "messages.hpp"
#include "split_arguments.hpp"

namespace {

bool is_argument(const std::vector<std::string>& arguments, const std::string& path) {
    return std::find(arguments.begin() + 1, arguments.end(), path) != arguments.end();
}

// An answer other than a conversion: a refusal carries one of its program's
// `refusals`; help and version count only as the one argument; usage needs
// no check.
bool other_answer_holds(cli::CommandAction action, const std::string& refusal,
                        std::initializer_list<std::string> refusals, const std::vector<std::string>& arguments) {
    const auto stands_alone = [&](const char* option) { return arguments.size() == 2 && arguments[1] == option; };
    switch (action) {
        case cli::CommandAction::refuse: return std::find(refusals.begin(), refusals.end(), refusal) != refusals.end();
        case cli::CommandAction::help: return stands_alone("--help");
        case cli::CommandAction::version: return stands_alone("--version");
        default: return true;
    }
}

bool palquant_conversion_holds(const cli::PalquantCommand& command, const std::vector<std::string>& arguments) {
    return is_argument(arguments, command.bmp_path) && is_argument(arguments, command.qlx_path) &&
           qlx_check_options(&command.options) == QLX_OK;
}

bool palexpand_conversion_holds(const cli::PalexpandCommand& command, const std::vector<std::string>& arguments) {
    return is_argument(arguments, command.qlx_path) && is_argument(arguments, command.bmp_path) && command.width >= 1 &&
           command.width <= QLX_MAX_BMP_SIDE && command.height >= 1 && command.height <= QLX_MAX_BMP_SIDE;
}

void check_palquant(const std::vector<std::string>& arguments) {
    const cli::PalquantCommand command = cli::parse_palquant_command(arguments);
    const bool holds = command.action == cli::CommandAction::convert
                           ? palquant_conversion_holds(command, arguments)
                           : other_answer_holds(command.action, command.refusal,
                                                {cli::messages::bad_dither(), cli::messages::bad_dither_strength,
                                                 cli::messages::bad_dither_light()},
                                                arguments);
    if (!holds) __builtin_trap();
}

void check_palexpand(const std::vector<std::string>& arguments) {
    const cli::PalexpandCommand command = cli::parse_palexpand_command(arguments);
    const bool holds = command.action == cli::CommandAction::convert
                           ? palexpand_conversion_holds(command, arguments)
                           : other_answer_holds(command.action, command.refusal, {cli::messages::bad_size}, arguments);
    if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> arguments = split_arguments("program", data, size);
    check_palquant(arguments);
    check_palexpand(arguments);
    return 0;
}
