// QLX: width x height indices and nothing else, its size from --size, the
// name or the standard 320 x 200; its palette is ours, so its indices are
// kept.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "decoding.hpp"
#include "encoding.hpp"

namespace qlxcmd {
namespace {

// Sides whose product is `length`, landscape up to 2:1, those nearest 4:3
// first: the shapes a picture of that many bytes most likely has.
std::vector<Size> likely_sides(std::uint64_t length) {
    std::vector<Size> sides;
    for (std::uint64_t height = 1; height * height <= length; ++height) {
        if (length % height != 0) continue;
        const std::uint64_t width = length / height;
        if (width <= 2 * height) sides.push_back({static_cast<std::size_t>(width), static_cast<std::size_t>(height)});
    }
    const auto distance = [](const Size& s) {
        return std::abs(std::log(static_cast<double>(s.width) / static_cast<double>(s.height) / (4.0 / 3.0)));
    };
    std::stable_sort(sides.begin(), sides.end(),
                     [&](const Size& a, const Size& b) { return distance(a) < distance(b); });
    if (sides.size() > 3) sides.resize(3);
    return sides;
}

std::string wrong_length(std::uint64_t length, const Size& size) {
    std::string reason = "QLX file has " + std::to_string(length) + " bytes, not " + std::to_string(size.width) +
                         " × " + std::to_string(size.height);
    const std::vector<Size> sides = length == 0 ? std::vector<Size>{} : likely_sides(length);
    for (std::size_t i = 0; i < sides.size(); ++i) {
        reason += i == 0 ? "; " : i + 1 == sides.size() ? " or " : ", ";
        reason += std::to_string(sides[i].width) + "x" + std::to_string(sides[i].height);
    }
    if (!sides.empty()) reason += " fits";
    return reason;
}

}  // namespace

Outcome<Picture> decode_qlx(std::span<const std::uint8_t> file, const std::string& name,
                            const DecodeSettings& settings) {
    const Size size = settings.size ? *settings.size : size_in_name(name).value_or(Size{});
    if (auto allowed = check_pixel_count(size.width, size.height, settings); !allowed) return refusal(allowed.error());
    auto bytes = picture_bytes(size.width, size.height, 1);
    if (!bytes || *bytes != file.size()) return refusal(wrong_length(file.size(), size));
    auto indices = allocate(file.size());
    if (!indices) return refusal(indices.error());
    std::memcpy(indices->data(), file.data(), file.size());
    PaletteIndices stored;
    stored.palette = our_palette();
    stored.indices = std::move(*indices);
    return single_frame(size.width, size.height, std::move(stored));
}

Outcome<> write_qlx(Indices indices, const PictureOutput&, sys::OutputFile& file) {
    return write_bytes(file, indices.data, indices.width * indices.height);
}

}  // namespace qlxcmd
