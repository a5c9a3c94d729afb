#include "decoding.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "formats.hpp"

namespace qlxcmd {
namespace {

std::string lower_case(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
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

Outcome<Picture> decode(std::span<const std::uint8_t> file, const std::string& name, const DecodeSettings& settings) {
    // Any bytes may start a QLX file, even "BM": its name decides first.
    if (has_qlx_extension(name)) return decode_qlx(file, name, settings);
    for (const FormatEntry& entry : format_table()) {
        if (entry.sniff != nullptr && entry.decode != nullptr && entry.sniff(file))
            return entry.decode(file, name, settings);
    }
    // Standard input without a signature can only be QLX.
    if (name == "-") return decode_qlx(file, name, settings);
    return refusal("not a " + format_list(readable_formats(), "", true) + " file");
}

}  // namespace qlxcmd
