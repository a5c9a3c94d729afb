#include "arguments.hpp"

#include <array>
#include <charconv>

#include "text.hpp"

namespace qlxcmd {
namespace {

enum class OptionId {
    help,
    version,
    dither,
    strength,
    light,
    transparent,
    background,
    fit,
    size,
    to,
    out_dir,
    jobs,
    max_pixels,
    quiet,
    truecolour,
    sequence,
    tiles,
    frame,
    sheet,
    delay,
    loop,
    dither_stable,
    report
};

struct KnownOption {
    std::string_view name;
    char short_name;   // '\0' for none
    bool takes_value;  // and if not, whether it may have one after '='
    bool value_optional = false;
    bool convert_only;  // refused by `qlx palette`
    OptionId id;
};

constexpr std::array<KnownOption, 24> known_options = {{
    {"help", 'h', false, false, false, OptionId::help},
    {"version", 'V', false, false, false, OptionId::version},
    {"dither", '\0', true, false, true, OptionId::dither},
    {"dither-strength", '\0', true, false, true, OptionId::strength},
    {"dither-light", '\0', true, false, true, OptionId::light},
    {"dither-stable", '\0', false, true, true, OptionId::dither_stable},
    {"transparent-index", '\0', true, false, true, OptionId::transparent},
    {"background", '\0', true, false, true, OptionId::background},
    {"fit", '\0', true, false, true, OptionId::fit},
    {"size", '\0', true, false, true, OptionId::size},
    {"to", '\0', true, false, false, OptionId::to},
    {"out-dir", 'o', true, false, true, OptionId::out_dir},
    {"jobs", 'j', true, false, true, OptionId::jobs},
    {"max-pixels", '\0', true, false, true, OptionId::max_pixels},
    {"quiet", 'q', false, false, false, OptionId::quiet},
    {"truecolour", '\0', false, false, true, OptionId::truecolour},
    {"truecolor", '\0', false, false, true, OptionId::truecolour},
    {"sequence", '\0', false, false, true, OptionId::sequence},
    {"tiles", '\0', true, false, true, OptionId::tiles},
    {"frame", '\0', true, false, true, OptionId::frame},
    {"sheet", '\0', true, false, true, OptionId::sheet},
    {"delay", '\0', true, false, true, OptionId::delay},
    {"loop", '\0', true, false, true, OptionId::loop},
    {"report", '\0', false, true, true, OptionId::report},
}};

using Failure = common::Unexpected<std::string>;
Failure usage(std::string text) { return common::failure(std::move(text)); }

// The text between quotes, control characters spelled out, so that a
// refusal stays one line whatever the argument holds.
std::string quoted(std::string_view text) {
    std::string quoted_text(1, '\'');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            quoted_text += c;
        } else if (c == '\n') {
            quoted_text += "\\n";
        } else if (c == '\t') {
            quoted_text += "\\t";
        } else {
            constexpr char digits[] = "0123456789abcdef";
            quoted_text.append("\\x").append(1, digits[byte >> 4]).append(1, digits[byte & 15]);
        }
    }
    quoted_text += '\'';
    return quoted_text;
}

// The option a long name or an unambiguous beginning of one names. Two
// spellings of one option (truecolour, truecolor) are not ambiguous.
common::Expected<const KnownOption*, std::string> find_long_option(std::string_view name) {
    const KnownOption* found = nullptr;
    std::string candidates;
    bool ambiguous = false;
    for (const KnownOption& known : known_options) {
        if (known.name == name) return &known;
        if (!known.name.starts_with(name)) continue;
        if (found != nullptr && found->id != known.id) ambiguous = true;
        if (found == nullptr) found = &known;
        candidates += " '--" + std::string(known.name) + "'";
    }
    if (ambiguous)
        return usage("option " + quoted("--" + std::string(name)) + " is ambiguous; possibilities:" + candidates);
    if (found == nullptr || name.empty()) return usage("unrecognized option " + quoted("--" + std::string(name)));
    return found;
}

const KnownOption* find_short_option(char letter) {
    for (const KnownOption& known : known_options) {
        if (known.short_name == letter) return &known;
    }
    return nullptr;
}

std::optional<std::uint64_t> whole_number(std::string_view text, std::uint64_t most) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > most) return std::nullopt;
    return value;
}

// "RRGGBB" or "#RRGGBB", six hexadecimal digits, as 0xRRGGBB.
std::optional<int> colour_value(std::string_view text) {
    if (text.starts_with('#')) text.remove_prefix(1);
    if (text.size() != 6) return std::nullopt;
    unsigned value = 0;  // unsigned: from_chars would take a minus sign for int
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return static_cast<int>(value);
}

template <class Enum>
common::Expected<Enum, std::string> library_choice(std::string_view option, const std::string& value,
                                                   qlx_status (*from_name)(const char*, Enum*),
                                                   const char* (*name_of)(Enum)) {
    Enum chosen{};
    if (from_name(value.c_str(), &chosen) != QLX_OK) {
        return usage("invalid " + std::string(option) + " " + quoted(value) + "; choose " +
                     common::library_names(name_of));
    }
    return chosen;
}

struct Parsed {
    Invocation invocation;
    std::vector<std::string> operands;
    std::vector<std::string_view> convert_options_given;
    bool help = false;
    bool version = false;
};

// Applies one option and its value to what has been parsed so far.
std::optional<std::string> apply(const KnownOption& known, const std::string& value, Parsed& parsed) {
    Invocation& invocation = parsed.invocation;
    const std::string option = "--" + std::string(known.name);
    if (known.convert_only) parsed.convert_options_given.push_back(known.name);
    switch (known.id) {
        case OptionId::help: parsed.help = true; break;
        case OptionId::version: parsed.version = true; break;
        case OptionId::dither: {
            auto dither = library_choice(option, value, qlx_dither_from_name, qlx_dither_name);
            if (!dither) return dither.error();
            invocation.options.dither = *dither;
            break;
        }
        case OptionId::light: {
            auto light = library_choice(option, value, qlx_light_from_name, qlx_light_name);
            if (!light) return light.error();
            invocation.options.light = *light;
            break;
        }
        case OptionId::fit: {
            auto fit = library_choice(option, value, qlx_fit_from_name, qlx_fit_name);
            if (!fit) return fit.error();
            invocation.fit = *fit;
            break;
        }
        case OptionId::strength: {
            const auto strength = whole_number(value, 100);
            if (!strength) return "invalid " + option + " " + quoted(value) + "; a whole number from 0 to 100";
            invocation.options.strength = static_cast<int>(*strength);
            break;
        }
        case OptionId::transparent: {
            const auto index = whole_number(value, 255);
            if (!index) return "invalid " + option + " " + quoted(value) + "; a palette index from 0 to 255";
            invocation.options.transparent_index = static_cast<int>(*index);
            break;
        }
        case OptionId::background: {
            const auto colour = colour_value(value);
            if (!colour) return "invalid " + option + " " + quoted(value) + "; a colour as RRGGBB or #RRGGBB";
            invocation.options.background = *colour;
            break;
        }
        case OptionId::max_pixels: {
            const auto most = whole_number(value, UINT64_MAX);
            if (!most) return "invalid " + option + " " + quoted(value) + "; a number of pixels, or 0 for no limit";
            invocation.max_pixels = *most;
            break;
        }
        case OptionId::size:
            invocation.size = parse_size(value);
            if (!invocation.size) return "invalid " + option + " " + quoted(value) + "; WIDTHxHEIGHT, as 320x200";
            break;
        case OptionId::jobs: {
            const auto jobs = whole_number(value, 1024);
            if (!jobs || *jobs == 0) return "invalid " + option + " " + quoted(value) + "; a number from 1 to 1024";
            invocation.jobs = static_cast<unsigned>(*jobs);
            break;
        }
        case OptionId::to:
            // Checked against the command's formats once the command is known.
            invocation.to = format_from_name(value, all_formats());
            if (!invocation.to) {
                return "invalid " + option + " " + quoted(value) + "; choose " + format_list(picture_outputs()) +
                       " (qlx palette: " + format_list(palette_outputs()) + ")";
            }
            break;
        case OptionId::out_dir:
            if (value.empty()) return "invalid " + option + " ''; a directory";
            invocation.out_dir = value;
            break;
        case OptionId::quiet: invocation.quiet = true; break;
        case OptionId::truecolour: invocation.truecolour = true; break;
        case OptionId::sequence: invocation.sequence = true; break;
        case OptionId::tiles:
            invocation.tiles = parse_size(value);
            if (!invocation.tiles) return "invalid " + option + " " + quoted(value) + "; WIDTHxHEIGHT, as 32x32";
            break;
        case OptionId::frame: {
            const auto frame = whole_number(value, UINT32_MAX);
            if (!frame || *frame == 0) return "invalid " + option + " " + quoted(value) + "; a frame number from 1";
            invocation.frame = static_cast<std::size_t>(*frame);
            break;
        }
        case OptionId::sheet: {
            const auto columns = whole_number(value, QLX_MAX_RESAMPLE_SIDE);
            if (!columns || *columns == 0) {
                return "invalid " + option + " " + quoted(value) + "; a number of columns from 1";
            }
            invocation.sheet = static_cast<std::size_t>(*columns);
            break;
        }
        case OptionId::delay: {
            const auto delay = whole_number(value, 65535);
            if (!delay) return "invalid " + option + " " + quoted(value) + "; hundredths of a second, 0 to 65535";
            invocation.delay = static_cast<int>(*delay);
            break;
        }
        case OptionId::loop: {
            const auto loop = whole_number(value, 65535);
            if (!loop) return "invalid " + option + " " + quoted(value) + "; 0 (forever) to 65535";
            invocation.loop = static_cast<int>(*loop);
            break;
        }
        case OptionId::dither_stable: {
            const auto tolerance =
                value.empty() ? std::optional<std::uint64_t>(QLX_STABLE_TOLERANCE) : whole_number(value, 255);
            if (!tolerance || *tolerance == 0) {
                return "invalid " + option + " " + quoted(value) + "; a tolerance in codes from 1 to 255";
            }
            invocation.options.stable = static_cast<int>(*tolerance);
            break;
        }
        case OptionId::report:
            if (value.empty() || value == "text") {
                invocation.report = Report::text;
            } else if (value == "json") {
                invocation.report = Report::json;
            } else {
                return "invalid " + option + " " + quoted(value) + "; choose text or json";
            }
            break;
    }
    return std::nullopt;
}

// Reads every option and operand, GNU fashion.
common::Expected<Parsed, std::string> read_arguments(std::span<const std::string> arguments) {
    Parsed parsed;
    bool options_ended = false;
    for (std::size_t next = 1; next < arguments.size(); ++next) {
        const std::string& argument = arguments[next];
        if (options_ended || argument == "-" || !argument.starts_with('-')) {
            parsed.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        const KnownOption* known = nullptr;
        std::optional<std::string> value;
        std::string shown;
        if (argument.starts_with("--")) {
            const std::size_t equals = argument.find('=');
            auto found = find_long_option(
                std::string_view(argument).substr(2, equals == std::string::npos ? std::string::npos : equals - 2));
            if (!found) return usage(found.error());
            known = *found;
            shown = "--" + std::string(known->name);
            if (equals != std::string::npos) {
                if (!known->takes_value && !known->value_optional) {
                    return usage("option " + quoted(shown) + " doesn't allow an argument");
                }
                value = argument.substr(equals + 1);
            }
        } else {
            // One short option, its value joined (-oDIR) or the next argument.
            known = find_short_option(argument[1]);
            if (known == nullptr) return usage("invalid option -- " + quoted(std::string_view(argument).substr(1, 1)));
            shown = {'-', argument[1]};
            if (argument.size() > 2) {
                if (!known->takes_value) return usage("invalid option " + quoted(argument));
                value = argument.substr(2);
            }
        }
        if (known->takes_value && !value) {
            if (next + 1 >= arguments.size()) return usage("option " + quoted(shown) + " requires an argument");
            value = arguments[++next];
        }
        if (auto refused = apply(*known, value.value_or(""), parsed)) return usage(*refused);
    }
    return parsed;
}

// --to, if given, must name one of the command's formats.
std::optional<std::string> check_to(const Invocation& invocation, std::span<const FileFormat> formats) {
    if (!invocation.to || format_from_name(format_name(*invocation.to), formats)) return std::nullopt;
    return "invalid --to " + quoted(format_name(*invocation.to)) + "; choose " + format_list(formats);
}

// The output's format: --to, or else its extension.
std::optional<std::string> take_output_format(Invocation& invocation, std::span<const FileFormat> formats) {
    if (invocation.to) return std::nullopt;
    if (invocation.output == "-") return "give --to=" + format_list(formats) + " for standard output";
    invocation.to = format_from_extension(invocation.output, formats);
    if (invocation.to) return std::nullopt;
    return "cannot tell a format from the name " + quoted(invocation.output) + "; end it in " +
           format_list(formats, ".") + ", or give --to";
}

std::optional<std::string> check_convert_names(Invocation& invocation, std::vector<std::string>& operands);

// A percent sign in the output must be its one frame number.
std::optional<std::string> check_convert(Invocation& invocation, std::vector<std::string>& operands) {
    if (auto refused = check_convert_names(invocation, operands)) return refused;
    if (auto pattern = read_frame_pattern(invocation.output); !pattern) return pattern.error();
    return std::nullopt;
}

std::optional<std::string> check_convert_names(Invocation& invocation, std::vector<std::string>& operands) {
    if (auto refused = check_to(invocation, picture_outputs())) return refused;
    if (invocation.out_dir) {
        if (invocation.sequence) return "--sequence writes one OUTPUT, not --out-dir";
        if (operands.empty()) return "missing INPUT; qlx convert --out-dir=DIR INPUT...";
        for (const std::string& input : operands) {
            if (input == "-") return "standard input has no name to write under --out-dir";
        }
        invocation.inputs = std::move(operands);
        if (!invocation.to) invocation.to = FileFormat::qlx;
        return std::nullopt;
    }
    if (invocation.sequence) {
        if (operands.size() < 2) return "missing " + std::string(operands.empty() ? "FRAME and OUTPUT" : "OUTPUT");
        invocation.output = operands.back();
        operands.pop_back();
        invocation.inputs = std::move(operands);
        return take_output_format(invocation, picture_outputs());
    }
    if (operands.size() < 2) return "missing " + std::string(operands.empty() ? "INPUT and OUTPUT" : "OUTPUT");
    if (operands.size() > 2) return "too many names; give INPUT and OUTPUT, or --out-dir=DIR INPUT...";
    invocation.inputs = {operands[0]};
    invocation.output = operands[1];
    return take_output_format(invocation, picture_outputs());
}

std::optional<std::string> check_palette(Invocation& invocation, const Parsed& parsed,
                                         std::vector<std::string>& operands) {
    if (!parsed.convert_options_given.empty()) {
        return "option '--" + std::string(parsed.convert_options_given.front()) + "' does not apply to 'qlx palette'";
    }
    if (auto refused = check_to(invocation, palette_outputs())) return refused;
    if (operands.empty()) return "missing OUTPUT";
    if (operands.size() > 1) return "too many names; give one OUTPUT";
    invocation.output = operands[0];
    return take_output_format(invocation, palette_outputs());
}

}  // namespace

std::string FramePattern::name(std::size_t number) const {
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), zeros ? '0' : ' ');
    return before + digits + after;
}

common::Expected<std::optional<FramePattern>, std::string> read_frame_pattern(std::string_view name) {
    FramePattern pattern;
    std::string* part = &pattern.before;
    bool found = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            *part += name[i];
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        const bool zeros = end < name.size() && name[end] == '0';
        while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
        const auto width = whole_number(name.substr(i + 1 + (zeros ? 1 : 0), end - i - 1 - (zeros ? 1 : 0)), 99);
        const bool plain = end == i + 1 || (zeros && end == i + 2);
        if (found || end >= name.size() || name[end] != 'd' || (!plain && !width) || (zeros && end == i + 2)) {
            return usage("the output " + quoted(name) +
                         " must have one frame number, as %d or %03d, and %% for a percent sign");
        }
        found = true;
        pattern.zeros = zeros;
        pattern.width = plain ? 0 : static_cast<std::size_t>(*width);
        part = &pattern.after;
        i = end;
    }
    if (!found) return std::optional<FramePattern>();
    return std::optional<FramePattern>(std::move(pattern));
}

std::optional<FramePattern> frame_pattern(std::string_view name) {
    auto pattern = read_frame_pattern(name);
    return pattern ? *pattern : std::nullopt;
}

std::optional<Size> parse_size(std::string_view text) {
    const std::size_t times = text.find('x');
    if (times == std::string_view::npos) return std::nullopt;
    // Nine digits a side: far beyond any picture, and far from overflowing.
    const auto width = whole_number(text.substr(0, times), 999'999'999);
    const auto height = whole_number(text.substr(times + 1), 999'999'999);
    if (!width || !height || *width == 0 || *height == 0) return std::nullopt;
    return Size{static_cast<std::size_t>(*width), static_cast<std::size_t>(*height)};
}

common::Expected<Invocation, std::string> parse_arguments(std::span<const std::string> arguments) {
    auto parsed = read_arguments(arguments);
    if (!parsed) return usage(parsed.error());
    Invocation& invocation = parsed->invocation;
    std::vector<std::string>& operands = parsed->operands;

    std::string command;
    if (!operands.empty()) {
        command = operands.front();
        operands.erase(operands.begin());
    }
    const bool command_known = command == "convert" || command == "palette";
    if (parsed->help || parsed->version) {
        invocation.action = parsed->help ? Action::help : Action::version;
        if (!command.empty() && !command_known)
            return usage("unknown command " + quoted(command) + "; convert or palette");
        invocation.help_topic = command;
        return std::move(invocation);
    }
    if (command.empty()) return usage("missing command; convert or palette");
    if (!command_known) return usage("unknown command " + quoted(command) + "; convert or palette");
    invocation.action = command == "convert" ? Action::convert : Action::palette;
    const auto refused = invocation.action == Action::convert ? check_convert(invocation, operands)
                                                              : check_palette(invocation, *parsed, operands);
    if (refused) return usage(*refused);
    return std::move(invocation);
}

}  // namespace qlxcmd
