#include "conversion.hpp"

#include <cstring>
#include <memory>

namespace qlxcli {
namespace {

// Where each step ends on the way to a thousand.
constexpr unsigned read_done = 100;
constexpr unsigned decode_done = 400;
constexpr unsigned quantise_done = 900;

struct QuantiserDeleter {
    void operator()(qlx_quantiser* quantiser) const { qlx_quantiser_destroy(quantiser); }
};

Outcome<pal::Buffer> read_input(const std::string& name) {
    auto input = name == "-" ? pal::InputFile::standard_input() : pal::InputFile::open(name);
    if (!input) return refusal("cannot open it");
    auto bytes = input->read_all();
    if (!bytes) return refusal(bytes.error() == pal::IoError::out_of_memory ? "not enough memory" : "cannot read it");
    return std::move(*bytes);
}

// Quantises a batch of rows at a time, so that a long conversion can
// report how far it is.
Outcome<> quantise(const std::uint8_t* pixels, std::size_t width, std::size_t height, std::size_t stride,
                   qlx_pixel_format format, const qlx_options& options, std::uint8_t* indices,
                   ConversionProgress& progress, unsigned from, unsigned to) {
    qlx_quantiser* made = nullptr;
    if (const qlx_status status = qlx_quantiser_create(width, height, format, &options, &made); status != QLX_OK) {
        return refusal(qlx_status_text(status));
    }
    const std::unique_ptr<qlx_quantiser, QuantiserDeleter> quantiser(made);
    const std::size_t batch = std::max<std::size_t>(64, height / 16);
    for (std::size_t row = 0; row < height; row += batch) {
        const std::size_t rows = std::min(batch, height - row);
        const qlx_status status = qlx_quantiser_convert(quantiser.get(), pixels + row * stride, rows, stride,
                                                        indices + row * width, rows * width);
        if (status != QLX_OK) return refusal(qlx_status_text(status));
        progress = from + static_cast<unsigned>((to - from) * (row + rows) / height);
    }
    return {};
}

// An indexed picture's colours, for fitting.
Outcome<> expand_to_colours(Picture& picture) {
    const qlx_pixel_format format = picture.alpha.size() != 0 ? QLX_RGBA : QLX_RGB;
    auto size = picture_bytes(picture.width, picture.height, qlx_pixel_bytes(format));
    if (!size) return refusal(size.error());
    auto pixels = allocate(*size);
    if (!pixels) return refusal(pixels.error());
    const std::size_t row = picture.width * qlx_pixel_bytes(format);
    if (qlx_expand(picture.indices.data(), picture.width, picture.height, format, pixels->data(), row, *size) != QLX_OK) {
        return refusal("not enough memory");
    }
    if (format == QLX_RGBA) {
        for (std::size_t i = 0; i < picture.alpha.size(); ++i) pixels->data()[4 * i + 3] = picture.alpha.data()[i];
    }
    picture.format = format;
    picture.pixels = std::move(*pixels);
    picture.indexed = false;
    picture.indices = pal::Buffer();
    return {};
}

// The index of a kept pixel that is not opaque: --transparent-index below
// the threshold (the alpha of other pixels ignored), or else its colour
// blended over the background, as the library blends colours.
std::uint8_t index_under_alpha(std::uint8_t index, std::uint8_t alpha, const qlx_options& options) {
    if (options.transparent_index >= 0) {
        return alpha < QLX_ALPHA_THRESHOLD ? static_cast<std::uint8_t>(options.transparent_index) : index;
    }
    if (options.alpha != QLX_ALPHA_COMPOSITE) return index;
    const std::uint32_t colour = qlx_palette_colour(index);
    const auto background = static_cast<std::uint32_t>(options.background);
    const auto blend = [&](unsigned shift) {
        return static_cast<std::uint8_t>(((colour >> shift & 255u) * alpha + (background >> shift & 255u) * (255u - alpha) + 127) / 255);
    };
    return qlx_nearest_index(blend(16), blend(8), blend(0));
}

// Kept indices, their transparent pixels marked or composited.
Outcome<pal::Buffer> kept_indices(Picture& picture, const qlx_options& options, const qlx_placement& place) {
    const bool marked = picture.alpha.size() != 0;
    if (!marked && place.width == picture.width && place.height == picture.height) {
        return std::move(picture.indices);  // the whole picture as it is
    }
    const std::size_t count = place.width * place.height;
    auto indices = allocate(count);
    if (!indices) return refusal(indices.error());
    for (std::size_t y = 0; y < place.height; ++y) {
        const std::size_t from = (place.source_y + y) * picture.width + place.source_x;
        std::uint8_t* row = indices->data() + y * place.width;
        std::memcpy(row, picture.indices.data() + from, place.width);
        if (!marked) continue;
        for (std::size_t x = 0; x < place.width; ++x) {
            const std::uint8_t alpha = picture.alpha.data()[from + x];
            if (alpha != 255) row[x] = index_under_alpha(row[x], alpha, options);
        }
    }
    return std::move(*indices);
}

// The picture's part that the placement takes, resampled to its place's sides.
Outcome<pal::Buffer> placed_colours(const Picture& picture, const qlx_placement& place) {
    const std::size_t bytes = qlx_pixel_bytes(picture.format);
    const std::size_t stride = picture.width * bytes;
    const std::uint8_t* first = picture.pixels.data() + place.source_y * stride + place.source_x * bytes;
    auto size = picture_bytes(place.width, place.height, bytes);
    if (!size) return refusal(size.error());
    auto placed = allocate(*size);
    if (!placed) return refusal(placed.error());
    if (place.source_width == place.width && place.source_height == place.height) {
        for (std::size_t y = 0; y < place.height; ++y) {
            std::memcpy(placed->data() + y * place.width * bytes, first + y * stride, place.width * bytes);
        }
    } else if (const qlx_status status = qlx_resample(first, place.source_width, place.source_height, stride,
                                                      picture.format, placed->data(), place.width, place.height,
                                                      *size);
               status != QLX_OK) {
        return refusal(qlx_status_text(status));
    }
    return std::move(*placed);
}

// The placement of the whole picture as it is.
qlx_placement kept_in_place(const Picture& picture) {
    qlx_placement place{};
    place.source_width = place.width = place.box_width = picture.width;
    place.source_height = place.height = place.box_height = picture.height;
    return place;
}

Outcome<qlx_placement> placement_of(const Picture& picture, const ConversionSettings& settings) {
    if (settings.fit == QLX_FIT_KEEP) return kept_in_place(picture);
    qlx_placement place{};
    const qlx_status status =
        qlx_fit_placement(picture.width, picture.height, settings.box.width, settings.box.height, settings.fit, &place);
    if (status != QLX_OK) {
        return refusal(std::string("cannot fit it: ") + qlx_status_text(status) + " (--fit takes sides up to " +
                       std::to_string(QLX_MAX_RESAMPLE_SIDE) + ")");
    }
    return place;
}

// The box's indices: index 0 around the placed picture.
Outcome<pal::Buffer> in_box(pal::Buffer inner, const qlx_placement& place) {
    if (place.width == place.box_width && place.height == place.box_height) return inner;  // fills the box
    auto box = allocate(place.box_width * place.box_height);
    if (!box) return refusal(box.error());
    std::memset(box->data(), 0, box->size());
    for (std::size_t y = 0; y < place.height; ++y) {
        std::memcpy(box->data() + (place.y + y) * place.box_width + place.x, inner.data() + y * place.width,
                    place.width);
    }
    return std::move(*box);
}

}  // namespace

Outcome<pal::Buffer> indices_of(Picture& picture, const ConversionSettings& settings, ConversionProgress& progress,
                                Size& sides) {
    auto place = placement_of(picture, settings);
    if (!place) return refusal(place.error());
    sides = {place->box_width, place->box_height};
    const bool resampled = place->source_width != place->width || place->source_height != place->height;
    // Kept indices stay kept unless resampling needs colours.
    if (picture.indexed && resampled) {
        if (auto expanded = expand_to_colours(picture); !expanded) return refusal(expanded.error());
    }
    if (picture.indexed) {
        auto inner = kept_indices(picture, settings.options, *place);
        if (!inner) return refusal(inner.error());
        progress = quantise_done;
        if (settings.fit == QLX_FIT_KEEP) return std::move(*inner);
        return in_box(std::move(*inner), *place);
    }
    if (picture.width == 0 || picture.height == 0) return pal::Buffer();  // an empty 24-bit BMP: an empty QLX
    pal::Buffer placed;
    const std::uint8_t* pixels = picture.pixels.data();
    std::size_t stride = picture.width * qlx_pixel_bytes(picture.format);
    if (settings.fit != QLX_FIT_KEEP) {
        auto fitted = placed_colours(picture, *place);
        if (!fitted) return refusal(fitted.error());
        placed = std::move(*fitted);
        picture.pixels = pal::Buffer();  // given back before the indices are made
        pixels = placed.data();
        stride = place->width * qlx_pixel_bytes(picture.format);
    }
    auto inner = allocate(place->width * place->height);
    if (!inner) return refusal(inner.error());
    if (auto done = quantise(pixels, place->width, place->height, stride, picture.format, settings.options,
                             inner->data(), progress, decode_done, quantise_done);
        !done) {
        return refusal(done.error());
    }
    if (settings.fit == QLX_FIT_KEEP) return std::move(*inner);
    return in_box(std::move(*inner), *place);
}

std::string final_name(const OutputName& name, const Size& sides) {
    if (!name.named_by_size) return name.path;
    std::string path = name.path;
    if (sides.width != QLX_STANDARD_WIDTH || sides.height != QLX_STANDARD_HEIGHT) {
        path.append(".").append(std::to_string(sides.width)).append("x").append(std::to_string(sides.height));
    }
    return path.append(".qlx");
}

// A QLX file records no size, so its name must tell it truly: a name that
// states another size is refused before anything is written, and a picture
// that is not 320 x 200 under a name that states none gets a note.
Outcome<std::string> check_qlx_name(const std::string& output, const Size& sides) {
    const auto sides_text = [](const Size& size) {
        return std::to_string(size.width) + " × " + std::to_string(size.height);
    };
    const std::string sized = std::to_string(sides.width) + "x" + std::to_string(sides.height);
    const std::size_t stem_end = output.size() - 4;  // before ".qlx"
    if (const auto named = size_in_name(output)) {
        if (named->width == sides.width && named->height == sides.height) return std::string();
        const std::string stem = output.substr(0, output.find_last_of('.', stem_end - 1));
        const bool standard = sides.width == QLX_STANDARD_WIDTH && sides.height == QLX_STANDARD_HEIGHT;
        return refusal("the picture is " + sides_text(sides) + " but the name " + output + " says " +
                       sides_text(*named) + "; name it " + stem + (standard ? "" : "." + sized) +
                       output.substr(stem_end) + ", or give --fit=contain --size=" +
                       std::to_string(named->width) + "x" + std::to_string(named->height));
    }
    if (sides.width == QLX_STANDARD_WIDTH && sides.height == QLX_STANDARD_HEIGHT) return std::string();
    return "its size, " + sides_text(sides) + ", is not in its name; name it " + output.substr(0, stem_end) + "." +
           sized + output.substr(stem_end) + " so that it reads back at that size";
}

Outcome<std::string> convert_file(const std::string& input, const OutputName& output_name,
                                  const ConversionSettings& settings, ConversionProgress& progress) {
    progress = 0;
    auto bytes = read_input(input);
    if (!bytes) return refusal(bytes.error());
    progress = read_done;
    auto picture = decode(bytes->bytes(), input, settings.decode);
    if (!picture) return refusal(picture.error());
    *bytes = pal::Buffer();  // the file's bytes are not needed past here
    progress = decode_done;
    Size sides;
    auto indices = indices_of(*picture, settings, progress, sides);
    if (!indices) return refusal(indices.error());
    *picture = Picture();

    // Everything that could refuse the picture is behind; only now is the
    // output created.
    const std::string output = final_name(output_name, sides);
    std::string note;
    if (settings.output.format == FileFormat::qlx && !output_name.named_by_size && has_qlx_extension(output)) {
        auto checked = check_qlx_name(output, sides);
        if (!checked) return refusal(checked.error());
        note = std::move(*checked);
    }
    if (input != "-" && pal::same_file(input, output)) return refusal("the output " + output + " would replace it");
    auto file = output == "-" ? pal::OutputFile::standard_output() : pal::OutputFile::open(output);
    if (!file) return refusal("cannot create " + output);
    if (auto done = write_picture({indices->data(), sides.width, sides.height}, settings.output, *file); !done) {
        return refusal(done.error());
    }
    if (!file->commit()) return refusal("cannot write " + output);
    progress = 1000;
    return note.empty() ? note : "qlx: " + output + ": " + note;
}

}  // namespace qlxcli
