// GIF through giflib: the first frame, on the canvas the file declares, with
// its transparency. The canvas outside the frame is transparent black, as a
// browser draws it. Only the records before the first frame are read, so
// later frames cost nothing and their damage does not matter.

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "decoding.hpp"

namespace qlxcmd {
namespace {

struct Source {
    std::span<const std::uint8_t> rest;
};

int read_source(GifFileType* gif, GifByteType* out, int wanted) {
    auto& source = *static_cast<Source*>(gif->UserData);
    const std::size_t count = std::min(source.rest.size(), static_cast<std::size_t>(std::max(wanted, 0)));
    std::memcpy(out, source.rest.data(), count);
    source.rest = source.rest.subspan(count);
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using GifFile = std::unique_ptr<GifFileType, GifCloser>;

std::string reason_for(int error) {
    switch (error) {
        // Opening reports any failure to read the screen descriptor or the
        // colour table after it as a missing descriptor; the caller has
        // already seen that the descriptor's bytes are there.
        case D_GIF_ERR_NO_SCRN_DSCR:
        case D_GIF_ERR_READ_FAILED:
        case D_GIF_ERR_EOF_TOO_SOON: return "GIF data is cut short";
        case D_GIF_ERR_NOT_ENOUGH_MEM: return "not enough memory";
        default: {
            const char* text = GifErrorString(error);
            return std::string("GIF data is corrupt: ") + (text != nullptr ? text : "unknown error");
        }
    }
}

// The rows of an interlaced frame come in four passes.
std::vector<std::size_t> row_order(std::size_t height, bool interlaced) {
    std::vector<std::size_t> order;
    if (!interlaced) {
        for (std::size_t y = 0; y < height; ++y) order.push_back(y);
        return order;
    }
    constexpr std::size_t starts[] = {0, 4, 2, 1};
    constexpr std::size_t steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (std::size_t y = starts[pass]; y < height; y += steps[pass]) order.push_back(y);
    }
    return order;
}

// Reads up to the first frame's descriptor, noting the transparent index
// of a graphic control extension on the way.
Outcome<int> skip_to_first_frame(GifFileType* gif) {
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record{};
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return refusal(reason_for(gif->Error));
        if (record == IMAGE_DESC_RECORD_TYPE) return transparent;
        if (record == TERMINATE_RECORD_TYPE) return refusal("GIF has no picture");
        if (record != EXTENSION_RECORD_TYPE) continue;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return refusal(reason_for(gif->Error));
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
            GraphicsControlBlock control{};
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) transparent = control.TransparentColor;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return refusal(reason_for(gif->Error));
        }
    }
}

Outcome<Picture> read_first_frame(GifFileType* gif, const DecodeSettings& settings) {
    auto transparent = skip_to_first_frame(gif);
    if (!transparent) return refusal(transparent.error());
    if (DGifGetImageDesc(gif) == GIF_ERROR) return refusal(reason_for(gif->Error));
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr) return refusal("GIF has no colour table");
    if (frame.Width <= 0 || frame.Height <= 0) return refusal("GIF frame has no pixels");

    // A canvas of no size is the frame's, as browsers take it.
    const auto width = static_cast<std::size_t>(gif->SWidth > 0 ? gif->SWidth : frame.Left + frame.Width);
    const auto height = static_cast<std::size_t>(gif->SHeight > 0 ? gif->SHeight : frame.Top + frame.Height);
    PaletteIndices stored;
    if (auto allowed = check_pixel_count(width, height, settings); !allowed) {
        return refusal(allowed.error());
    }
    for (int i = 0; i < colours->ColorCount; ++i) {
        const GifColorType& entry = colours->Colors[i];
        stored.palette.push_back({entry.Red, entry.Green, entry.Blue, 255});
    }
    if (*transparent >= 0 && static_cast<std::size_t>(*transparent) < stored.palette.size()) {
        stored.palette[static_cast<std::size_t>(*transparent)].alpha = 0;
    }
    auto count = picture_bytes(width, height, 1);
    if (!count) return refusal(count.error());
    auto indices = allocate(*count);
    auto covered = allocate(*count);
    auto line = allocate(static_cast<std::size_t>(frame.Width));
    if (!indices || !covered || !line) return refusal("not enough memory");
    std::memset(indices->data(), 0, *count);
    std::memset(covered->data(), 0, *count);

    const auto left = static_cast<std::size_t>(frame.Left);
    const auto top = static_cast<std::size_t>(frame.Top);
    for (const std::size_t y : row_order(static_cast<std::size_t>(frame.Height), frame.Interlace)) {
        if (DGifGetLine(gif, line->data(), frame.Width) == GIF_ERROR) return refusal(reason_for(gif->Error));
        if (top + y >= height || left >= width) continue;
        const std::size_t visible = std::min(static_cast<std::size_t>(frame.Width), width - left);
        const std::size_t at = (top + y) * width + left;
        std::memcpy(indices->data() + at, line->data(), visible);
        std::memset(covered->data() + at, 1, visible);
    }
    stored.indices = std::move(*indices);
    // A frame that covers the canvas leaves no pixel unstored.
    if (!std::all_of(covered->data(), covered->data() + covered->size(), [](std::uint8_t c) { return c != 0; })) {
        stored.stored = std::move(*covered);
    }
    return single_frame(width, height, std::move(stored));
}

}  // namespace

// The signature and the logical screen descriptor.
constexpr std::size_t gif_headers_size = 13;

Outcome<Picture> decode_gif(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    if (file.size() < gif_headers_size) return refusal("GIF data is cut short");
    Source source{file};
    int error = 0;
    GifFile gif(DGifOpen(&source, read_source, &error));
    if (!gif) return refusal(reason_for(error));
    return read_first_frame(gif.get(), settings);
}

}  // namespace qlxcmd
