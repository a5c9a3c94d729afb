// Drives qlx's command line with any arguments: the input split at its zero
// bytes, after the program's name. Whatever they are, the answer is a
// consistent one: a conversion whose every file is one of the arguments and
// whose options the library takes, or one line that says what is wrong;
// and the help for any topic it names.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target qlx_arguments_fuzzer
//   build-fuzz/bin/qlx_arguments_fuzzer -max_total_time=60 -max_len=256 -artifact_prefix=fuzz/findings/
//   fuzz/corpus/qlx_arguments
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "help.hpp"
#include "split_arguments.hpp"

namespace {

void require(bool holds) {
    if (!holds) __builtin_trap();
}

bool is_argument(const std::vector<std::string>& arguments, const std::string& text) {
    return std::find(arguments.begin() + 1, arguments.end(), text) != arguments.end();
}

void check_conversion(const qlxcmd::Invocation& invocation, const std::vector<std::string>& arguments) {
    require(!invocation.inputs.empty() && invocation.to.has_value());
    for (const std::string& input : invocation.inputs) require(is_argument(arguments, input));
    // One input and an output; or --sequence's frames and the output after them.
    if (!invocation.out_dir) {
        require((invocation.sequence || invocation.inputs.size() == 1) && is_argument(arguments, invocation.output));
    }
    if (invocation.tiles) require(invocation.tiles->width >= 1 && invocation.tiles->height >= 1);
    require(invocation.frame.value_or(1) >= 1 && invocation.sheet.value_or(1) >= 1);
    require(invocation.delay.value_or(0) >= 0 && invocation.delay.value_or(0) <= 65535);
    require(invocation.loop.value_or(0) >= 0 && invocation.loop.value_or(0) <= 65535);
    require(qlx_check_options(&invocation.options) == QLX_OK);
    require(invocation.jobs <= 1024);
    if (invocation.size) require(invocation.size->width >= 1 && invocation.size->height >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> arguments = split_arguments("qlx", data, size);
    const auto invocation = qlxcmd::parse_arguments(arguments);
    if (!invocation) {
        require(!invocation.error().empty() && invocation.error().find('\n') == std::string::npos);
        return 0;
    }
    switch (invocation->action) {
        case qlxcmd::Action::convert: check_conversion(*invocation, arguments); break;
        case qlxcmd::Action::palette:
            require(is_argument(arguments, invocation->output) && invocation->to.has_value());
            break;
        case qlxcmd::Action::help: require(!qlxcmd::help_text(invocation->help_topic).empty()); break;
        case qlxcmd::Action::version: break;
    }
    return 0;
}
