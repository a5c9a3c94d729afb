#pragma once
// qlx's command line, parsed as GNU programs parse theirs: options anywhere
// among the names until "--", a value after '=' or as the next argument,
// any unambiguous beginning of a long option, and short options for the
// common ones. An unknown option is an error, never a file name.
//
//   qlx convert [OPTION]... INPUT OUTPUT
//   qlx convert [OPTION]... --out-dir=DIR [--to=FORMAT] INPUT...
//   qlx convert [OPTION]... --sequence FRAME... OUTPUT
//   qlx palette [--to=FORMAT] OUTPUT
//   qlx --help | --version

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "expected.hpp"
#include "formats.hpp"
#include "qlx.h"

namespace qlxcmd {

enum class Action { convert, palette, help, version };

struct Size {
    std::size_t width = QLX_STANDARD_WIDTH;
    std::size_t height = QLX_STANDARD_HEIGHT;
};

// --report: how close each result is, as lines on standard error or as
// JSON objects on standard output.
enum class Report { none, text, json };

struct Invocation {
    Action action = Action::help;
    std::string help_topic;  // "", "convert" or "palette"
    std::vector<std::string> inputs;
    std::string output;                  // convert INPUT OUTPUT, or palette OUTPUT
    std::optional<std::string> out_dir;  // convert --out-dir
    std::optional<FileFormat> to;        // --to, or the output's extension
    qlx_options options = qlx_default_options();
    qlx_fit fit = QLX_FIT_KEEP;
    std::optional<Size> size;  // --size as given
    bool truecolour = false;
    unsigned jobs = 0;                        // 0: one a core
    std::optional<std::uint64_t> max_pixels;  // --max-pixels; 0 for no limit
    bool quiet = false;
    Report report = Report::none;
    // Frames.
    bool sequence = false;             // the inputs are the frames of one animation
    std::optional<Size> tiles;         // each input cut into frames of this size
    std::optional<std::size_t> frame;  // the one frame written, from 1
    std::optional<std::size_t> sheet;  // every frame in one picture of this many columns
    std::optional<int> delay, loop;    // an animated GIF's
};

// `arguments` start with the program's name. A failure is the one line
// that says what is wrong, without the program's name.
common::Expected<Invocation, std::string> parse_arguments(std::span<const std::string> arguments);

// An output name with a printf-style frame number: "walk-%02d.qlx" names
// frame 1 "walk-01.qlx". The field is %d, %Nd (padded with spaces) or %0Nd
// (with zeros); %% is a percent sign.
struct FramePattern {
    std::string before, after;
    std::size_t width = 0;
    bool zeros = false;
    std::string name(std::size_t number) const;
};
// The pattern in a name, if it has a field; a refusal for a name with a
// percent sign that is not one field.
common::Expected<std::optional<FramePattern>, std::string> read_frame_pattern(std::string_view name);
std::optional<FramePattern> frame_pattern(std::string_view name);

// "641x480" as a size whose sides are 1 or more.
std::optional<Size> parse_size(std::string_view text);

}  // namespace qlxcmd
