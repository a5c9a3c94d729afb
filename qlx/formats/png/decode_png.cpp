// PNG through libspng. Every colour type and depth becomes 8-bit RGB or
// RGBA as browsers make it: 16-bit samples by their high byte, low-depth
// grey scaled exactly (4-bit v is v * 17), tRNS applied. Colour management
// chunks (gAMA, cHRM, sRGB, iCCP) are not applied: the file's own sample
// values are used, as the web page uses them.

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "decoding.hpp"

namespace qlxcmd {
namespace {

struct ContextDeleter {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

// Ancillary chunks larger than this are skipped, not held: no picture needs
// them, and a hostile file could ask for gigabytes.
constexpr std::size_t chunk_limit = 64u << 20;
// The PNG limit on a side, a 31-bit number.
constexpr std::uint64_t max_png_side = 0x7fffffff;

std::string reason_for(int error) {
    switch (error) {
        case SPNG_EOF:
        case SPNG_IO_EOF:
        case SPNG_EIDAT_TOO_SHORT: return "PNG data is cut short";
        case SPNG_EMEM: return "not enough memory";
        case SPNG_EWIDTH:
        case SPNG_EHEIGHT:
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT:
        case SPNG_EOVERFLOW: return "PNG picture is too large";
        default: return std::string("PNG data is corrupt: ") + spng_strerror(error);
    }
}

std::uint32_t big_endian(const std::uint8_t* at) {
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

// Inflates the concatenated IDAT data into a small window that is thrown
// away, for zlib's own checks: the Adler-32 at the stream's end among them.
class StreamCheck {
public:
    StreamCheck() { ready_ = inflateInit(&stream_) == Z_OK; }
    StreamCheck(const StreamCheck&) = delete;
    StreamCheck& operator=(const StreamCheck&) = delete;
    ~StreamCheck() {
        if (ready_) inflateEnd(&stream_);
    }

    // False once the stream is found damaged; data past its end is ignored.
    bool feed(std::span<const std::uint8_t> data) {
        if (!ready_ || ended_) return ready_;
        stream_.next_in = const_cast<Bytef*>(data.data());  // zlib's API predates const
        stream_.avail_in = static_cast<uInt>(data.size());
        while (stream_.avail_in > 0 && !ended_) {
            stream_.next_out = window_.data();
            stream_.avail_out = static_cast<uInt>(window_.size());
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END)
                ended_ = true;
            else if (status != Z_OK)
                return damaged(status);
        }
        return true;
    }
    bool ready() const { return ready_; }
    bool ended() const { return ended_; }
    const std::string& fault() const { return fault_; }

private:
    bool damaged(int status) {
        if (status == Z_MEM_ERROR)
            fault_ = "not enough memory";
        else if (stream_.msg != nullptr && std::string_view(stream_.msg) == "incorrect data check")
            fault_ = "PNG data is corrupt: the pixel data fails its Adler-32 check";
        else
            fault_ = std::string("PNG data is corrupt: ") + (stream_.msg != nullptr ? stream_.msg : "bad zlib data");
        return false;
    }
    z_stream stream_{};
    bool ready_ = false;
    bool ended_ = false;
    std::string fault_;
    std::vector<std::uint8_t> window_ = std::vector<std::uint8_t>(1u << 16);
};

// libspng stops reading once it has every row, so the last IDAT's CRC and
// the zlib stream's Adler-32 would go unchecked, and a chunk whose CRC fails
// is dropped, not refused. So every chunk is walked here first: each CRC
// checked (a damaged ancillary chunk such as tRNS would change the
// picture), and the pixel data inflated to its end. Anything after IEND is
// not part of the picture.
Outcome<> check_integrity(std::span<const std::uint8_t> file) {
    constexpr std::size_t signature_size = 8;
    constexpr std::size_t chunk_overhead = 12;  // length, type, CRC
    StreamCheck pixel_data;
    if (!pixel_data.ready()) return refusal("not enough memory");
    bool seen_idat = false;
    std::size_t at = signature_size;
    while (at < file.size()) {
        if (file.size() - at < chunk_overhead) return refusal("PNG data is cut short");
        const std::uint64_t length = big_endian(file.data() + at);
        if (length > file.size() - at - chunk_overhead) return refusal("PNG data is cut short");
        const std::uint8_t* type = file.data() + at + 4;
        const std::string name(reinterpret_cast<const char*>(type), 4);
        const auto covered = static_cast<uInt>(length + 4);
        if (crc32(crc32(0, nullptr, 0), type, covered) != big_endian(type + covered)) {
            return refusal("PNG data is corrupt: bad CRC in " + name);
        }
        if (name == "IDAT") {
            seen_idat = true;
            if (!pixel_data.feed({type + 4, static_cast<std::size_t>(length)})) return refusal(pixel_data.fault());
        }
        at += chunk_overhead + length;
        if (name == "IEND") break;
    }
    if (seen_idat && !pixel_data.ended()) return refusal("PNG data is cut short");
    return {};
}

// Indices as the file stores them, unpacked to a byte each.
Outcome<sys::Buffer> unpacked_indices(spng_ctx* context, const spng_ihdr& header) {
    std::size_t packed_size = 0;
    if (const int error = spng_decoded_image_size(context, SPNG_FMT_PNG, &packed_size))
        return refusal(reason_for(error));
    auto packed = allocate(packed_size);
    if (!packed) return refusal(packed.error());
    if (const int error = spng_decode_image(context, packed->data(), packed_size, SPNG_FMT_PNG, 0)) {
        return refusal(reason_for(error));
    }
    auto count = picture_bytes(header.width, header.height, 1);
    if (!count) return refusal(count.error());
    auto indices = allocate(*count);
    if (!indices) return refusal(indices.error());
    const std::size_t packed_row = packed_size / header.height;
    for (std::size_t y = 0; y < header.height; ++y) {
        unpack_indices(packed->data() + y * packed_row, indices->data() + y * header.width, header.width,
                       header.bit_depth);
    }
    return std::move(*indices);
}

// libspng 0.7 misplaces the pixels of interlaced pictures of fewer than 8
// bits in their own format, so those are decoded to colours and each colour
// is given back its index: the lowest with that colour, which is exact for
// our palette, whose first 16 entries all differ.
Outcome<sys::Buffer> indices_from_colours(spng_ctx* context, const spng_ihdr& header, std::span<const Rgba> palette) {
    auto size = picture_bytes(header.width, header.height, 3);
    if (!size) return refusal(size.error());
    auto colours = allocate(*size);
    auto indices = allocate(*size / 3);
    if (!colours || !indices) return refusal("not enough memory");
    if (const int error = spng_decode_image(context, colours->data(), *size, SPNG_FMT_RGB8, 0)) {
        return refusal(reason_for(error));
    }
    for (std::size_t i = 0; i < indices->size(); ++i) {
        const std::uint8_t* rgb = colours->data() + 3 * i;
        const auto entry = std::find_if(palette.begin(), palette.end(), [&](const Rgba& c) {
            return c.red == rgb[0] && c.green == rgb[1] && c.blue == rgb[2];
        });
        indices->data()[i] = static_cast<std::uint8_t>(entry - palette.begin());
    }
    return std::move(*indices);
}

Outcome<PaletteIndices> read_palette_indices(spng_ctx* context, const spng_ihdr& header, const spng_plte& plte) {
    PaletteIndices stored;
    for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
        stored.palette.push_back({plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue, 255});
    }
    spng_trns trns{};
    const int trns_status = spng_get_trns(context, &trns);
    if (trns_status != 0 && trns_status != SPNG_ECHUNKAVAIL) return refusal(reason_for(trns_status));
    for (std::uint32_t i = 0; trns_status == 0 && i < trns.n_type3_entries && i < stored.palette.size(); ++i) {
        stored.palette[i].alpha = trns.type3_alpha[i];
    }
    auto indices = header.interlace_method != 0 && header.bit_depth < 8
                       ? indices_from_colours(context, header, stored.palette)
                       : unpacked_indices(context, header);
    if (!indices) return refusal(indices.error());
    stored.indices = std::move(*indices);
    return stored;
}

Outcome<Picture> read_colours(spng_ctx* context, const spng_ihdr& header) {
    const bool has_alpha =
        header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA || header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    spng_trns trns{};
    const int trns_status = spng_get_trns(context, &trns);
    if (trns_status != 0 && trns_status != SPNG_ECHUNKAVAIL) return refusal(reason_for(trns_status));
    const bool transparent = has_alpha || trns_status == 0;
    Colours picture;
    picture.format = transparent ? QLX_RGBA : QLX_RGB;
    const int format = transparent ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    auto size = picture_bytes(header.width, header.height, qlx_pixel_bytes(picture.format));
    if (!size) return refusal(size.error());
    auto pixels = allocate(*size);
    if (!pixels) return refusal(pixels.error());
    if (const int error = spng_decode_image(context, pixels->data(), *size, format, SPNG_DECODE_TRNS)) {
        return refusal(reason_for(error));
    }
    picture.pixels = std::move(*pixels);
    return single_frame(header.width, header.height, std::move(picture));
}

}  // namespace

Outcome<Picture> decode_png(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    Context context(spng_ctx_new(0));
    if (!context) return refusal("not enough memory");
    spng_set_png_buffer(context.get(), file.data(), file.size());
    spng_set_chunk_limits(context.get(), chunk_limit, chunk_limit);
    // No side can pass the pixel limit; libspng refuses a longer one as it reads IHDR.
    if (settings.max_pixels != 0) {
        const auto side = static_cast<std::uint32_t>(std::min<std::uint64_t>(settings.max_pixels, max_png_side));
        spng_set_image_limits(context.get(), side, side);
    }
    spng_ihdr header{};
    if (const int error = spng_get_ihdr(context.get(), &header)) {
        // Past the limit on a side: refused in the words of the pixel limit,
        // with the sides from IHDR, which always comes first at offset 16.
        if ((error == SPNG_EUSER_WIDTH || error == SPNG_EUSER_HEIGHT) && file.size() >= 24) {
            if (auto allowed = check_pixel_count(big_endian(file.data() + 16), big_endian(file.data() + 20), settings);
                !allowed) {
                return refusal(allowed.error());
            }
        }
        return refusal(reason_for(error));
    }
    if (auto allowed = check_pixel_count(header.width, header.height, settings); !allowed) {
        return refusal(allowed.error());
    }
    if (auto whole = check_integrity(file); !whole) return refusal(whole.error());
    if (header.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (const int error = spng_get_plte(context.get(), &plte)) return refusal(reason_for(error));
        auto stored = read_palette_indices(context.get(), header, plte);
        if (!stored) return refusal(stored.error());
        return single_frame(header.width, header.height, std::move(*stored));
    }
    return read_colours(context.get(), header);
}

}  // namespace qlxcmd
