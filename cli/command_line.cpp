#include "command_line.hpp"

#include <optional>
#include <string_view>

#include "expected.hpp"
#include "messages.hpp"

namespace cli {
namespace {

constexpr std::string_view end_of_options = "--";

// The value after `prefix` ("--size=" and the like), if `argument` is that option.
std::optional<std::string_view> option_value(std::string_view argument, std::string_view prefix) {
    if (!argument.starts_with(prefix)) return std::nullopt;
    return argument.substr(prefix.size());
}

// A whole number written in decimal digits alone; the library judges its
// range. Longer numbers are out of every range, and refused here so that
// nothing overflows.
std::optional<std::size_t> whole_number(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::size_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(digit - '0');
    }
    return value;
}

// --help or --version as the one argument; else empty.
std::optional<CommandAction> lone_request(std::span<const std::string> arguments) {
    if (arguments.size() != 2) return std::nullopt;
    if (arguments[1] == "--help") return CommandAction::help;
    if (arguments[1] == "--version") return CommandAction::version;
    return std::nullopt;
}

// What `take` makes of an argument: whether it was an option, or the
// message that refuses its value.
using Taken = common::Expected<bool, std::string>;

// Hands the arguments after the program's name to `take` one by one until
// "--" or the first that is no option. The index of the first file name, or
// the refusal of an option's value.
template <class Take>
common::Expected<std::size_t, std::string> read_options(std::span<const std::string> arguments, Take take) {
    for (std::size_t next = 1; next < arguments.size(); ++next) {
        if (arguments[next] == end_of_options) return next + 1;
        const Taken taken = take(std::string_view(arguments[next]));
        if (!taken) return common::failure(taken.error());
        if (!*taken) return next;
    }
    return arguments.size();
}

// An option just taken, judged by the library as soon as it is met, so the
// first bad option is the one refused: the message of what the library
// refuses, or taken.
Taken judged(const qlx_options& options) {
    switch (qlx_check_options(&options)) {
        case QLX_OK: return true;
        case QLX_STRENGTH_OUT_OF_RANGE: return common::failure(std::string(messages::bad_dither_strength));
        case QLX_UNKNOWN_LIGHT: return common::failure(messages::bad_dither_light());
        default: return common::failure(messages::bad_dither());
    }
}

// Takes the two file names from `first` on; usage if there are fewer.
template <class Command>
Command with_file_names(Command command, std::span<const std::string> arguments, std::size_t first,
                        std::string Command::*input, std::string Command::*output) {
    if (arguments.size() < first + 2) {
        command.action = CommandAction::usage;
        return command;
    }
    command.action = CommandAction::convert;
    command.*input = arguments[first];
    command.*output = arguments[first + 1];
    return command;
}

}  // namespace

PalquantCommand parse_palquant_command(std::span<const std::string> arguments) {
    PalquantCommand command;
    if (const std::optional<CommandAction> request = lone_request(arguments)) {
        command.action = *request;
        return command;
    }
    qlx_options& options = command.options;
    const auto first_file = read_options(arguments, [&](std::string_view argument) -> Taken {
        if (const auto name = option_value(argument, "--dither=")) {
            if (qlx_dither_from_name(std::string(*name).c_str(), &options.dither) != QLX_OK) {
                return common::failure(messages::bad_dither());
            }
            return judged(options);
        }
        if (const auto name = option_value(argument, "--dither-light=")) {
            if (qlx_light_from_name(std::string(*name).c_str(), &options.light) != QLX_OK) {
                return common::failure(messages::bad_dither_light());
            }
            return judged(options);
        }
        if (const auto percent = option_value(argument, "--dither-strength=")) {
            const std::optional<std::size_t> strength = whole_number(*percent);
            if (!strength) return common::failure(std::string(messages::bad_dither_strength));
            options.strength = static_cast<int>(*strength);
            return judged(options);
        }
        return false;
    });
    if (!first_file) {
        command.action = CommandAction::refuse;
        command.refusal = first_file.error();
        return command;
    }
    return with_file_names(command, arguments, *first_file, &PalquantCommand::bmp_path, &PalquantCommand::qlx_path);
}

PalexpandCommand parse_palexpand_command(std::span<const std::string> arguments) {
    PalexpandCommand command;
    if (const std::optional<CommandAction> request = lone_request(arguments)) {
        command.action = *request;
        return command;
    }
    const auto first_file = read_options(arguments, [&](std::string_view argument) -> Taken {
        const auto size = option_value(argument, "--size=");
        if (!size) return false;
        const std::size_t times = size->find('x');
        if (times == std::string_view::npos) return common::failure(std::string(messages::bad_size));
        const std::optional<std::size_t> width = whole_number(size->substr(0, times));
        const std::optional<std::size_t> height = whole_number(size->substr(times + 1));
        // The sides the library writes a BMP for.
        if (!width || !height || qlx_bmp_size(*width, *height) == 0) {
            return common::failure(std::string(messages::bad_size));
        }
        command.width = *width;
        command.height = *height;
        return true;
    });
    if (!first_file) {
        command.action = CommandAction::refuse;
        command.refusal = first_file.error();
        return command;
    }
    return with_file_names(command, arguments, *first_file, &PalexpandCommand::qlx_path, &PalexpandCommand::bmp_path);
}

}  // namespace cli
