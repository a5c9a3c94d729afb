#include "conversion.hpp"

#include <variant>
#include <vector>

namespace qlxcmd {
namespace {

// Where each step ends on the way to a thousand.
constexpr unsigned read_done = 100;
constexpr unsigned decode_done = 400;
constexpr unsigned quantise_done = 900;

Outcome<sys::Buffer> read_input(const std::string& name) {
    auto input = name == "-" ? sys::InputFile::standard_input() : sys::InputFile::open(name);
    if (!input) return refusal(Failure::system("cannot open it"));
    auto bytes = input->read_all();
    if (!bytes) {
        return refusal(bytes.error() == sys::IoError::out_of_memory ? Failure::library(QLX_OUT_OF_MEMORY)
                                                                    : Failure::system("cannot read it"));
    }
    return std::move(*bytes);
}

// The library's view of a frame.
struct LibraryPicture {
    qlx_picture picture{};
    std::vector<std::uint8_t> palette;  // 4 bytes an entry
};

LibraryPicture library_picture(const Picture& picture, const Frame& frame) {
    LibraryPicture view;
    qlx_picture& out = view.picture;
    out.width = picture.width;
    out.height = picture.height;
    if (const auto* colours = std::get_if<Colours>(&frame)) {
        out.pixels = colours->pixels.data();
        out.format = colours->format;
        out.stride = picture.width * qlx_pixel_bytes(colours->format);
        return view;
    }
    const auto& stored = std::get<PaletteIndices>(frame);
    for (const Rgba& entry : stored.palette)
        view.palette.insert(view.palette.end(), {entry.red, entry.green, entry.blue, entry.alpha});
    out.pixels = stored.indices.data();
    out.stride = picture.width;
    out.palette = view.palette.data();
    out.palette_size = stored.palette.size();
    out.stored = stored.stored.size() != 0 ? stored.stored.data() : nullptr;
    return view;
}

std::string fit_refusal(qlx_status status) {
    return std::string("cannot fit it: ") + qlx_status_text(status) + " (--fit takes sides up to " +
           std::to_string(QLX_MAX_RESAMPLE_SIDE) + ")";
}

}  // namespace

Outcome<sys::Buffer> indices_of(const Picture& picture, const ConversionSettings& settings, Size& sides) {
    if (picture.frames.empty()) return refusal("the picture has no frames");
    const LibraryPicture view = library_picture(picture, picture.frames.front());
    std::size_t width = 0, height = 0;
    if (const qlx_status status =
            qlx_convert_size(&view.picture, settings.fit, settings.box.width, settings.box.height, &width, &height);
        status != QLX_OK) {
        if (status == QLX_SIDE_OUT_OF_RANGE) return refusal(fit_refusal(status));
        return refusal(status);
    }
    sides = {width, height};
    if (width == 0 || height == 0) return sys::Buffer();  // an empty 24-bit BMP: an empty QLX
    auto indices = allocate(width * height);
    if (!indices) return refusal(indices.error());
    if (const qlx_status status = qlx_convert(&view.picture, &settings.options, settings.fit, settings.box.width,
                                              settings.box.height, indices->data(), indices->size());
        status != QLX_OK) {
        return refusal(status);
    }
    return std::move(*indices);
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

Outcome<std::string> convert_file(const std::string& input, const OutputName& output_name,
                                  const ConversionSettings& settings, ConversionProgress& progress) {
    progress = 0;
    auto bytes = read_input(input);
    if (!bytes) return refusal(bytes.error());
    progress = read_done;
    auto picture = decode(bytes->bytes(), input, settings.decode);
    if (!picture) return refusal(picture.error());
    *bytes = sys::Buffer();  // the file's bytes are not needed past here
    progress = decode_done;
    Size sides;
    auto indices = indices_of(*picture, settings, sides);
    if (!indices) return refusal(indices.error());
    *picture = Picture();
    progress = quantise_done;

    // Everything that could refuse the picture is behind; only now is the
    // output created.
    auto named = final_name(output_name, sides);
    if (!named) return refusal(named.error());
    const std::string& output = *named;
    std::string note;
    if (settings.output.format == FileFormat::qlx && !output_name.named_by_size && has_qlx_extension(output)) {
        auto checked = check_qlx_name(output, sides);
        if (!checked) return refusal(checked.error());
        note = std::move(*checked);
    }
    if (input != "-" && sys::same_file(input, output)) return refusal("the output " + output + " would replace it");
    auto file = output == "-" ? sys::OutputFile::standard_output() : sys::OutputFile::open(output);
    if (!file) return refusal(Failure::system("cannot create " + output));
    if (auto done = write_picture({indices->data(), sides.width, sides.height}, settings.output, *file); !done) {
        return refusal(done.error());
    }
    if (!file->commit()) return refusal(Failure::system("cannot write " + output));
    progress = 1000;
    return note.empty() ? note : "qlx: " + output + ": " + note;
}

}  // namespace qlxcmd
