#include "decoding.hpp"
#include "formats.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace qlxcli {
namespace {

std::string lower_case(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

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
    std::stable_sort(sides.begin(), sides.end(), [&](const Size& a, const Size& b) { return distance(a) < distance(b); });
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

bool has_qlx_extension(const std::string& name) { return lower_case(name).ends_with(".qlx"); }

std::optional<Size> size_in_name(const std::string& name) {
    Size size;
    if (qlx_size_from_name(name.c_str(), &size.width, &size.height) != QLX_OK) return std::nullopt;
    return size;
}

Outcome<> check_pixel_count(std::uint64_t width, std::uint64_t height, const DecodeSettings& settings) {
    if (settings.max_pixels != 0 && width != 0 && height > settings.max_pixels / width) {
        return refusal("a picture of " + std::to_string(width) + " × " + std::to_string(height) +
                       " pixels is more than the limit of " + std::to_string(settings.max_pixels) +
                       "; --max-pixels=N raises it, 0 lifts it");
    }
    return {};
}

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

Outcome<Picture> decode(std::span<const std::uint8_t> file, const std::string& name, const DecodeSettings& settings) {
    // Any bytes may start a QLX file, even "BM": its name decides first.
    if (has_qlx_extension(name)) return decode_qlx(file, name, settings);
    for (const FormatEntry& entry : format_table()) {
        if (entry.sniff != nullptr && entry.decode != nullptr && entry.sniff(file)) return entry.decode(file, name, settings);
    }
    // Standard input without a signature can only be QLX.
    if (name == "-") return decode_qlx(file, name, settings);
    return refusal("not a " + format_list(readable_formats(), "", true) + " file");
}

}  // namespace qlxcli
