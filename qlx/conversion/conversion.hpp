#pragma once
// One input to one output: read, decode, fit, quantise (or keep the
// indices), encode, and replace the output only once all of it worked.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "decoding.hpp"
#include "encoding.hpp"

namespace qlxcmd {

struct ConversionSettings {
    qlx_options options = qlx_default_options();
    qlx_fit fit = QLX_FIT_KEEP;
    Size box;  // where --fit fits the picture
    DecodeSettings decode;
    PictureOutput output;
    // Frames.
    std::vector<std::string> sequence;  // --sequence: every input, in order, as one animation
    std::optional<Size> tiles;          // --tiles: each input cut into frames of this size
    std::optional<std::size_t> frame;   // --frame: the one frame written, from 1
    std::optional<std::size_t> sheet;   // --sheet: every frame in one picture, this many columns
    std::optional<int> delay;           // --delay, hundredths of a second; else the file's, or 10
    std::optional<int> loop;            // --loop; else the file's, or 0 (forever)
    bool measure = false;               // --report: how close each result is
};

// A frame's delay when neither --delay nor the file gives one.
constexpr int default_delay = 10;

// Where a conversion writes. A QLX file under --out-dir whose size is not
// known before its input is decoded is named by its size too:
// `path` + ".641x480.qlx", or `path` + ".qlx" for 320 x 200.
struct OutputName {
    std::string path;
    bool named_by_size = false;
};
// A refusal for sides that no QLX name can state.
Outcome<std::string> final_name(const OutputName& name, const Size& sides);

// How far a conversion has come, in thousandths, for a progress line.
using ConversionProgress = std::atomic<unsigned>;

// What a conversion that worked has to say: a note for the user, to
// follow "qlx: OUTPUT: ", or none; and with settings.measure, how close its
// result is, over every frame it converted.
struct Converted {
    std::string note;
    std::optional<qlx_closeness> closeness;
};

// "-" reads standard input or writes standard output. A failure is the
// reason, to follow "qlx: INPUT: ".
Outcome<Converted> convert_file(const std::string& input, const OutputName& output, const ConversionSettings& settings,
                                ConversionProgress& progress);

// The indices of a decoded picture's first frame, converted by the library
// as the settings say. `sides` receives the result's width and height.
Outcome<sys::Buffer> indices_of(const Picture& picture, const ConversionSettings& settings, Size& sides);

}  // namespace qlxcmd
