#include "conversion.hpp"

#include <cstring>
#include <variant>
#include <vector>

#include "frames.hpp"

namespace qlxcmd {
namespace {

// Where each step ends on the way to a thousand.
constexpr unsigned read_done = 100;
constexpr unsigned decode_done = 400;
constexpr unsigned quantise_done = 900;

std::string fit_refusal(qlx_status status) {
    return std::string("cannot fit it: ") + qlx_status_text(status) + " (--fit takes sides up to " +
           std::to_string(QLX_MAX_RESAMPLE_SIDE) + ")";
}

// Converts the frames of one animation in turn, carrying what
// --dither-stable holds from each to the next. Every frame must come out
// at the first one's sides.
class FrameConverter {
public:
    explicit FrameConverter(const ConversionSettings& settings) : settings_(settings) {}

    Outcome<sys::Buffer> convert(const qlx_picture& picture) {
        std::size_t width = 0, height = 0;
        if (const qlx_status status =
                qlx_convert_size(&picture, settings_.fit, settings_.box.width, settings_.box.height, &width, &height);
            status != QLX_OK) {
            if (status == QLX_SIDE_OUT_OF_RANGE) return refusal(fit_refusal(status));
            return refusal(status);
        }
        if (converted_ == 0) {
            sides_ = {width, height};
            if (settings_.options.stable > 0) {
                auto memory = allocate(width * height * QLX_FRAME_MEMORY_PIXEL_BYTES);
                if (!memory) return refusal(memory.error());
                std::memset(memory->data(), 0, memory->size());
                memory_ = std::move(*memory);
            }
        } else if (width != sides_.width || height != sides_.height) {
            return refusal("frame " + std::to_string(converted_ + 1) + " is " + std::to_string(width) + " × " +
                           std::to_string(height) + ", not " + std::to_string(sides_.width) + " × " +
                           std::to_string(sides_.height) + " as the first; give --fit and --size");
        }
        ++converted_;
        if (width == 0 || height == 0) return sys::Buffer();  // an empty 24-bit BMP: an empty QLX
        auto indices = allocate(width * height);
        if (!indices) return refusal(indices.error());
        if (const qlx_status status = qlx_convert_frame(&picture, &settings_.options, settings_.fit,
                                                        settings_.box.width, settings_.box.height, memory_.data(),
                                                        memory_.size(), indices->data(), indices->size());
            status != QLX_OK) {
            return refusal(status);
        }
        if (settings_.measure) {
            qlx_closeness frame{};
            if (const qlx_status status =
                    qlx_closeness_of(&picture, &settings_.options, settings_.fit, settings_.box.width,
                                     settings_.box.height, indices->data(), indices->size(), &frame);
                status != QLX_OK) {
                return refusal(status);
            }
            add_closeness(frame);
        }
        return std::move(*indices);
    }
    const Size& sides() const { return sides_; }
    // Every frame's figures so far, each weighed by the pixels it measured.
    std::optional<qlx_closeness> closeness() const {
        if (!settings_.measure) return std::nullopt;
        qlx_closeness all = closeness_;
        if (all.measured > 0) {
            const auto measured = static_cast<double>(all.measured);
            all.blurred_error /= measured, all.ciede2000 /= measured, all.exact_share /= measured;
        }
        return all;
    }

private:
    void add_closeness(const qlx_closeness& frame) {
        const auto measured = static_cast<double>(frame.measured);
        closeness_.blurred_error += frame.blurred_error * measured;
        closeness_.ciede2000 += frame.ciede2000 * measured;
        closeness_.exact_share += frame.exact_share * measured;
        closeness_.measured += frame.measured;
    }

    const ConversionSettings& settings_;
    Size sides_;
    std::size_t converted_ = 0;
    sys::Buffer memory_;
    qlx_closeness closeness_{};  // sums, each figure times its pixels
};

}  // namespace

Outcome<sys::Buffer> indices_of(const Picture& picture, const ConversionSettings& settings, Size& sides) {
    if (picture.frames.empty()) return refusal("the picture has no frames");
    const LibraryPicture view = library_picture(picture, picture.frames.front());
    FrameConverter converter(settings);
    auto indices = converter.convert(view.picture);
    sides = converter.sides();
    return indices;
}

Outcome<std::string> final_name(const OutputName& name, const Size& sides) {
    if (!name.named_by_size) return name.path;
    std::string path(name.path.size() + 32, '\0');
    if (qlx_name_with_size(name.path.c_str(), sides.width, sides.height, path.data(), path.size()) != QLX_OK) {
        return refusal("a QLX name states sides up to " + std::to_string(QLX_MAX_RESAMPLE_SIDE) + ", not " +
                       std::to_string(sides.width) + " × " + std::to_string(sides.height) +
                       "; fit it with --fit and --size, or write PNG");
    }
    path.resize(path.find('\0'));
    return path;
}

// A QLX file records no size, so its name must tell it truly: a name that
// states another size is refused before anything is written, and a picture
// that is not 320 x 200 under a name that states none gets a note.
Outcome<std::string> check_qlx_name(const std::string& output, const Size& sides) {
    const auto sides_text = [](const Size& size) {
        return std::to_string(size.width) + " × " + std::to_string(size.height);
    };
    const auto named = size_in_name(output);
    if (named && named->width == sides.width && named->height == sides.height) return std::string();
    // The name less ".qlx", and less the size it states, which the rule spells one way only.
    const std::size_t stated =
        named ? (std::to_string(named->width) + "x" + std::to_string(named->height)).size() + 1 : 0;
    const std::string stem = output.substr(0, output.size() - 4 - stated);
    auto right_name = final_name({stem, true}, sides);
    if (named) {
        return refusal("the picture is " + sides_text(sides) + " but the name " + output + " says " +
                       sides_text(*named) + "; " + (right_name ? "name it " + *right_name + ", or " : "") +
                       "give --fit=contain --size=" + std::to_string(named->width) + "x" +
                       std::to_string(named->height));
    }
    if (sides.width == QLX_STANDARD_WIDTH && sides.height == QLX_STANDARD_HEIGHT) return std::string();
    return "its size, " + sides_text(sides) + ", is not in its name" +
           (right_name ? "; name it " + *right_name + " so that it reads back at that size" : "");
}

namespace {

// Writes one picture of indices to its output: the name made final, a QLX
// name checked against the sides, and the output replaced only once all of
// it is written. A note for the user, or none.
Outcome<std::string> write_indices_file(const std::string& input, Indices indices, const OutputName& output_name,
                                        const PictureOutput& settings) {
    const Size sides{indices.width, indices.height};
    auto named = final_name(output_name, sides);
    if (!named) return refusal(named.error());
    const std::string& output = *named;
    std::string note;
    if (settings.format == FileFormat::qlx && !output_name.named_by_size && has_qlx_extension(output)) {
        auto checked = check_qlx_name(output, sides);
        if (!checked) return refusal(checked.error());
        note = std::move(*checked);
    }
    if (input != "-" && sys::same_file(input, output)) return refusal("the output " + output + " would replace it");
    auto file = output == "-" ? sys::OutputFile::standard_output() : sys::OutputFile::open(output);
    if (!file) return refusal(Failure::system("cannot create " + output));
    if (auto done = write_picture(indices, settings, *file); !done) return refusal(done.error());
    if (!file->commit()) return refusal(Failure::system("cannot write " + output));
    return note.empty() ? note : "qlx: " + output + ": " + note;
}

// The frames the input gives: a file's, a sequence's, each cut into tiles.
Outcome<Frames> open_input(const std::string& input, const ConversionSettings& settings) {
    Outcome<Frames> frames = refusal("no input");
    if (!settings.sequence.empty()) {
        frames = sequence_frames(settings.sequence, settings.decode);
    } else {
        auto bytes = read_input(input);
        if (!bytes) return refusal(bytes.error());
        frames = open_frames(std::move(*bytes), input, settings.decode);
    }
    if (!frames || !settings.tiles) return frames;
    return tiled_frames(std::move(*frames), *settings.tiles);
}

// Progress through the frames, between reading and the end.
void frame_progress(ConversionProgress& progress, std::size_t done, std::size_t count) {
    progress = read_done + static_cast<unsigned>((quantise_done - read_done) * done / std::max<std::size_t>(count, 1));
}

// Converts every frame in turn, as one animation, and hands each one's
// indices and sides to `take` (which may refuse), counting the progress.
template <class Take>
Outcome<std::optional<qlx_closeness>> convert_each_frame(FrameSource& frames, const ConversionSettings& settings,
                                                         ConversionProgress& progress, Take take) {
    FrameConverter converter(settings);
    for (std::size_t k = 0; k < frames.frame_count(); ++k) {
        auto frame = frames.next();
        if (!frame) return refusal(frame.error());
        auto indices = converter.convert(frame->picture);
        if (!indices) return refusal(indices.error());
        if (auto taken = take(k, *frame, *indices, converter.sides()); !taken) return refusal(taken.error());
        frame_progress(progress, k + 1, frames.frame_count());
    }
    return converter.closeness();
}

Outcome<Converted> write_gif(const std::string& input, FrameSource& frames, const OutputName& output_name,
                             const ConversionSettings& settings, ConversionProgress& progress) {
    const std::string& output = output_name.path;
    if (input != "-" && sys::same_file(input, output)) return refusal("the output " + output + " would replace it");
    std::optional<sys::OutputFile> file;
    sys::Buffer previous, encoded;
    const int loop = settings.loop.value_or(frames.loop().value_or(0));
    auto written_all = convert_each_frame(
        frames, settings, progress,
        [&](std::size_t k, const FrameView& frame, sys::Buffer& indices, const Size& sides) -> Outcome<> {
            if (k == 0) {
                // The output is created once the first frame has converted.
                const std::size_t bound = qlx_gif_frame_bound(sides.width, sides.height);
                if (bound == 0) return refusal(QLX_SIDE_OUT_OF_RANGE);
                auto buffer = allocate(std::max<std::size_t>(bound, QLX_GIF_START_SIZE));
                if (!buffer) return refusal(buffer.error());
                encoded = std::move(*buffer);
                std::size_t written = 0;
                if (const qlx_status status =
                        qlx_gif_start(sides.width, sides.height, loop, encoded.data(), encoded.size(), &written);
                    status != QLX_OK) {
                    return refusal(status);
                }
                auto opened = output == "-" ? sys::OutputFile::standard_output() : sys::OutputFile::open(output);
                if (!opened) return refusal(Failure::system("cannot create " + output));
                file.emplace(std::move(*opened));
                if (auto done = write_bytes(*file, encoded.data(), written); !done) return refusal(done.error());
            }
            const int delay = settings.delay.value_or(frame.delay.value_or(default_delay));
            std::size_t written = 0;
            if (const qlx_status status =
                    qlx_gif_frame(indices.data(), k == 0 ? nullptr : previous.data(), sides.width, sides.height, delay,
                                  settings.output.transparent_index, encoded.data(), encoded.size(), &written);
                status != QLX_OK) {
                return refusal(status);
            }
            if (auto done = write_bytes(*file, encoded.data(), written); !done) return refusal(done.error());
            previous = std::move(indices);
            return {};
        });
    if (!written_all) return refusal(written_all.error());
    const std::uint8_t trailer = QLX_GIF_TRAILER;
    if (auto done = write_bytes(*file, &trailer, 1); !done) return refusal(done.error());
    if (!file->commit()) return refusal(Failure::system("cannot write " + output));
    return Converted{{}, *written_all};
}

// One file a frame, named by the pattern; a QLX name states its size
// unless it is the standard one.
Outcome<Converted> write_frame_files(const std::string& input, FrameSource& frames, const FramePattern& pattern,
                                     const ConversionSettings& settings, ConversionProgress& progress) {
    auto written_all = convert_each_frame(
        frames, settings, progress,
        [&](std::size_t k, const FrameView&, sys::Buffer& indices, const Size& sides) -> Outcome<> {
            const std::string name = pattern.name(k + 1);
            OutputName output{name, false};
            if (settings.output.format == FileFormat::qlx && has_qlx_extension(name) && !size_in_name(name)) {
                output = {name.substr(0, name.size() - 4), true};
            }
            auto written =
                write_indices_file(input, {indices.data(), sides.width, sides.height}, output, settings.output);
            if (!written) return refusal(written.error());
            return {};
        });
    if (!written_all) return refusal(written_all.error());
    return Converted{{}, *written_all};
}

// Every frame in one picture, left to right, then top to bottom; index 0
// in the cells no frame fills.
Outcome<Converted> write_sheet(const std::string& input, FrameSource& frames, const OutputName& output,
                               const ConversionSettings& settings, ConversionProgress& progress) {
    const std::size_t columns = *settings.sheet;
    const std::size_t rows = (frames.frame_count() + columns - 1) / columns;
    sys::Buffer sheet;
    Size sheet_sides;
    auto placed_all = convert_each_frame(
        frames, settings, progress,
        [&](std::size_t k, const FrameView&, sys::Buffer& indices, const Size& sides) -> Outcome<> {
            if (k == 0) {
                sheet_sides = {sides.width * columns, sides.height * rows};
                if (auto allowed = check_pixel_count(sheet_sides.width, sheet_sides.height, settings.decode);
                    !allowed) {
                    return refusal(allowed.error());
                }
                auto bytes = picture_bytes(sheet_sides.width, sheet_sides.height, 1);
                if (!bytes) return refusal(bytes.error());
                auto made = allocate(*bytes);
                if (!made) return refusal(made.error());
                sheet = std::move(*made);
                std::memset(sheet.data(), 0, sheet.size());
            }
            const std::size_t left = k % columns * sides.width, top = k / columns * sides.height;
            for (std::size_t y = 0; y < sides.height; ++y) {
                std::memcpy(sheet.data() + (top + y) * sheet_sides.width + left, indices.data() + y * sides.width,
                            sides.width);
            }
            return {};
        });
    if (!placed_all) return refusal(placed_all.error());
    auto note =
        write_indices_file(input, {sheet.data(), sheet_sides.width, sheet_sides.height}, output, settings.output);
    if (!note) return refusal(note.error());
    return Converted{std::move(*note), *placed_all};
}

// An animation written as a still must say which frames go where.
std::string frames_refusal(std::size_t count) {
    return "it has " + std::to_string(count) +
           " frames; give an output name with a frame number (as walk-%02d.qlx), --frame=N (1 to " +
           std::to_string(count) + "), --sheet=COLUMNS, or a .gif output";
}

}  // namespace

Outcome<Converted> convert_file(const std::string& input, const OutputName& output_name,
                                const ConversionSettings& settings, ConversionProgress& progress) {
    progress = 0;
    auto frames = open_input(input, settings);
    if (!frames) return refusal(frames.error());
    FrameSource& source = **frames;
    progress = read_done;
    const std::size_t count = source.frame_count();
    const std::optional<FramePattern> pattern =
        output_name.named_by_size ? std::nullopt : frame_pattern(output_name.path);
    // One frame, one sheet, a file a frame, or a GIF of them all; each in the output's format.
    if (settings.sheet && !settings.frame) return write_sheet(input, source, output_name, settings, progress);
    if (pattern && !settings.frame) return write_frame_files(input, source, *pattern, settings, progress);
    if (settings.output.format == FileFormat::gif && !settings.frame) {
        return write_gif(input, source, output_name, settings, progress);
    }
    if (settings.frame && *settings.frame > count) {
        return refusal("it has " + std::to_string(count) + " frame" + (count == 1 ? "" : "s") +
                       "; --frame takes 1 to " + std::to_string(count));
    }
    if (!settings.frame && count > 1) return refusal(frames_refusal(count));
    // One frame: the one asked for, the frames before it read and passed.
    const std::size_t wanted = settings.frame.value_or(1);
    Outcome<FrameView> frame = refusal("no frame");
    for (std::size_t k = 1; k <= wanted; ++k) {
        frame = source.next();
        if (!frame) return refusal(frame.error());
    }
    progress = decode_done;
    FrameConverter converter(settings);
    auto indices = converter.convert(frame->picture);
    if (!indices) return refusal(indices.error());
    progress = quantise_done;
    const Size& sides = converter.sides();
    OutputName output = output_name;
    if (pattern) output = {pattern->name(wanted), false};
    auto note = write_indices_file(input, {indices->data(), sides.width, sides.height}, output, settings.output);
    if (!note) return refusal(note.error());
    progress = 1000;
    return Converted{std::move(*note), converter.closeness()};
}

}  // namespace qlxcmd
