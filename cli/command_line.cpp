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

std::optional<qlx::DitherMethod> dither_method(std::string_view name) {
    if (name == "none") return qlx::DitherMethod::none;
    if (name == "floyd-steinberg") return qlx::DitherMethod::floyd_steinberg;
    if (name == "ordered") return qlx::DitherMethod::ordered;
    if (name == "atkinson") return qlx::DitherMethod::atkinson;
    if (name == "sierra-lite") return qlx::DitherMethod::sierra_lite;
    if (name == "blue-noise") return qlx::DitherMethod::blue_noise;
    return std::nullopt;
}

std::optional<qlx::DitherLight> dither_light(std::string_view name) {
    if (name == "srgb") return qlx::DitherLight::srgb;
    if (name == "linear") return qlx::DitherLight::linear;
    return std::nullopt;
}

// --help or --version as the one argument; else empty.
std::optional<CommandAction> lone_request(std::span<const std::string> arguments) {
    if (arguments.size() != 2) return std::nullopt;
    if (arguments[1] == "--help") return CommandAction::help;
    if (arguments[1] == "--version") return CommandAction::version;
    return std::nullopt;
}

enum class OptionResult { taken, not_an_option, refused };

template <class Command>
OptionResult refuse(Command& command, const char* message) {
    command.refusal = message;
    return OptionResult::refused;
}

// Hands the arguments after the program's name to `take` one by one until
// "--" or the first that is no option. The index of the first file name, or
// empty when `take` refused an option's value.
template <class Take>
std::optional<std::size_t> read_options(std::span<const std::string> arguments, Take take) {
    for (std::size_t next = 1; next < arguments.size(); ++next) {
        if (arguments[next] == end_of_options) return next + 1;
        switch (take(std::string_view(arguments[next]))) {
            case OptionResult::taken: break;
            case OptionResult::not_an_option: return next;
            case OptionResult::refused: return std::nullopt;
        }
    }
    return arguments.size();
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
    const std::optional<std::size_t> first_file = read_options(arguments, [&](std::string_view argument) {
        if (const auto name = option_value(argument, "--dither=")) {
            const std::optional<qlx::DitherMethod> method = dither_method(*name);
            if (!method) return refuse(command, messages::bad_dither);
            command.dither.method = *method;
            return OptionResult::taken;
        }
        if (const auto name = option_value(argument, "--dither-light=")) {
            const std::optional<qlx::DitherLight> light = dither_light(*name);
            if (!light) return refuse(command, messages::bad_dither_light);
            command.dither.light = *light;
            return OptionResult::taken;
        }
        if (const auto percent = option_value(argument, "--dither-strength=")) {
            const std::optional<std::size_t> strength = whole_number(*percent, 0, qlx::max_dither_strength);
            if (!strength) return refuse(command, messages::bad_dither_strength);
            command.dither.strength = static_cast<int>(*strength);
            return OptionResult::taken;
        }
        return OptionResult::not_an_option;
    });
    if (!first_file) {
        command.action = CommandAction::refuse;
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
    const std::optional<std::size_t> first_file = read_options(arguments, [&](std::string_view argument) {
        const auto size = option_value(argument, "--size=");
        if (!size) return OptionResult::not_an_option;
        const std::size_t times = size->find('x');
        if (times == std::string_view::npos) return refuse(command, messages::bad_size);
        const std::optional<std::size_t> width = whole_number(size->substr(0, times), 1, QLX_MAX_BMP_SIDE);
        const std::optional<std::size_t> height = whole_number(size->substr(times + 1), 1, QLX_MAX_BMP_SIDE);
        if (!width || !height) return refuse(command, messages::bad_size);
        command.width = *width;
        command.height = *height;
        return OptionResult::taken;
    });
    if (!first_file) {
        command.action = CommandAction::refuse;
        return command;
    }
    return with_file_names(command, arguments, *first_file, &PalexpandCommand::qlx_path, &PalexpandCommand::bmp_path);
}

}  // namespace pal
