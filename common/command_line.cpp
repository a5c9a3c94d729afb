#include "command_line.hpp"

#include <optional>
#include <string_view>

#include "messages.hpp"

namespace pal {
namespace {

constexpr std::string_view end_of_options = "--";

// The value after `prefix` ("--size=" and the like), if `argument` is that option.
std::optional<std::string_view> option_value(std::string_view argument, std::string_view prefix) {
    if (!argument.starts_with(prefix)) return std::nullopt;
    return argument.substr(prefix.size());
}

// A whole number from `low` to `high` written in decimal digits alone.
std::optional<std::size_t> whole_number(std::string_view text, std::size_t low, std::size_t high) {
    if (text.empty() || text.size() > 9) return std::nullopt;  // no overflow below 10^9
    std::size_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(digit - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<DitherMethod> dither_method(std::string_view name) {
    if (name == "none") return DitherMethod::none;
    if (name == "floyd-steinberg") return DitherMethod::floyd_steinberg;
    if (name == "ordered") return DitherMethod::ordered;
    return std::nullopt;
}

// --help or --version as the one argument; else empty.
std::optional<CommandAction> lone_request(std::span<const std::string> arguments) {
    if (arguments.size() != 2) return std::nullopt;
    if (arguments[1] == "--help") return CommandAction::help;
    if (arguments[1] == "--version") return CommandAction::version;
    return std::nullopt;
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
    std::size_t next = 1;
    for (; next < arguments.size(); ++next) {
        const std::string_view argument = arguments[next];
        if (argument == end_of_options) {
            ++next;
            break;
        }
        if (const auto name = option_value(argument, "--dither=")) {
            const std::optional<DitherMethod> method = dither_method(*name);
            if (!method) return {CommandAction::refuse, messages::bad_dither, {}, {}, {}};
            command.dither.method = *method;
        } else if (const auto percent = option_value(argument, "--dither-strength=")) {
            const std::optional<std::size_t> strength = whole_number(*percent, 0, max_dither_strength);
            if (!strength) return {CommandAction::refuse, messages::bad_dither_strength, {}, {}, {}};
            command.dither.strength = static_cast<int>(*strength);
        } else {
            break;  // the first file name
        }
    }
    return with_file_names(command, arguments, next, &PalquantCommand::bmp_path, &PalquantCommand::qlx_path);
}

PalexpandCommand parse_palexpand_command(std::span<const std::string> arguments) {
    PalexpandCommand command;
    if (const std::optional<CommandAction> request = lone_request(arguments)) {
        command.action = *request;
        return command;
    }
    std::size_t next = 1;
    for (; next < arguments.size(); ++next) {
        const std::string_view argument = arguments[next];
        if (argument == end_of_options) {
            ++next;
            break;
        }
        if (const auto size = option_value(argument, "--size=")) {
            const std::size_t times = size->find('x');
            const std::optional<std::size_t> width =
                times == std::string_view::npos ? std::nullopt : whole_number(size->substr(0, times), 1, max_expanded_side);
            const std::optional<std::size_t> height =
                times == std::string_view::npos ? std::nullopt : whole_number(size->substr(times + 1), 1, max_expanded_side);
            if (!width || !height) return {CommandAction::refuse, messages::bad_size, qlx_width, qlx_height, {}, {}};
            command.width = *width;
            command.height = *height;
        } else {
            break;  // the first file name
        }
    }
    return with_file_names(command, arguments, next, &PalexpandCommand::qlx_path, &PalexpandCommand::bmp_path);
}

}  // namespace pal
