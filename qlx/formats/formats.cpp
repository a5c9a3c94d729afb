#include "formats.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "decoding.hpp"
#include "encoding.hpp"

namespace qlxcmd {
namespace {

bool starts_with(std::span<const std::uint8_t> file, std::string_view signature) {
    return file.size() >= signature.size() && std::memcmp(file.data(), signature.data(), signature.size()) == 0;
}

// Each reader as the table calls it; only QLX needs the file's name.
template <Outcome<Picture> (*decode)(std::span<const std::uint8_t>, const DecodeSettings&)>
Outcome<Picture> by_content(std::span<const std::uint8_t> file, const std::string&, const DecodeSettings& settings) {
    return decode(file, settings);
}

constexpr std::array<FormatEntry, 10> table = {{
    {FileFormat::qlx, "qlx", "QLX", nullptr, nullptr, decode_qlx, nullptr, write_qlx, nullptr, nullptr},
    {FileFormat::png, "png", "PNG", nullptr, [](auto file) { return starts_with(file, "\x89PNG\r\n\x1a\n"); },
     by_content<decode_png>, nullptr, write_png, write_palette_png,
     "a 16 x 16 indexed picture, index 16y + x at column x and row y"},
    {FileFormat::bmp, "bmp", "BMP", nullptr, [](auto file) { return starts_with(file, "BM"); }, by_content<decode_bmp>,
     nullptr, write_bmp, nullptr, nullptr},
    {FileFormat::jpeg, "jpeg", "JPEG", "jpg", [](auto file) { return starts_with(file, "\xff\xd8\xff"); },
     by_content<decode_jpeg>, nullptr, nullptr, nullptr, nullptr},
    {FileFormat::gif, "gif", "GIF", nullptr,
     [](auto file) { return starts_with(file, "GIF87a") || starts_with(file, "GIF89a"); }, by_content<decode_gif>,
     open_gif, write_gif, nullptr, nullptr},
    {FileFormat::webp, "webp", "WebP", nullptr,
     [](auto file) { return starts_with(file, "RIFF") && file.size() >= 12 && starts_with(file.subspan(8), "WEBP"); },
     by_content<decode_webp>, open_webp, nullptr, nullptr, nullptr},
    {FileFormat::gpl, "gpl", "GIMP palette", nullptr, nullptr, nullptr, nullptr, nullptr, write_gpl,
     "GIMP, Inkscape, Krita and Aseprite"},
    {FileFormat::pal, "pal", "JASC palette", nullptr, nullptr, nullptr, nullptr, nullptr, write_jasc_pal, "JASC-PAL"},
    {FileFormat::act, "act", "Adobe Color Table", nullptr, nullptr, nullptr, nullptr, nullptr, write_act,
     "Adobe Color Table"},
    {FileFormat::hex, "hex", "hex palette", nullptr, nullptr, nullptr, nullptr, nullptr, write_hex,
     "one rrggbb a line, for Lospec and Aseprite"},
}};

// The formats of the table that `has` picks, in its order.
template <class Has>
std::vector<FileFormat> formats_where(Has has) {
    std::vector<FileFormat> formats;
    for (const FormatEntry& entry : table) {
        if (has(entry)) formats.push_back(entry.format);
    }
    return formats;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

}  // namespace

std::span<const FormatEntry> format_table() { return table; }

const FormatEntry& format_entry(FileFormat format) {
    return *std::find_if(table.begin(), table.end(), [&](const FormatEntry& entry) { return entry.format == format; });
}

const char* format_name(FileFormat format) { return format_entry(format).name; }

std::span<const FileFormat> picture_outputs() {
    static const std::vector<FileFormat> formats =
        formats_where([](const FormatEntry& e) { return e.write != nullptr; });
    return formats;
}

std::span<const FileFormat> palette_outputs() {
    static const std::vector<FileFormat> formats =
        formats_where([](const FormatEntry& e) { return e.write_palette != nullptr; });
    return formats;
}

std::span<const FileFormat> readable_formats() {
    static const std::vector<FileFormat> formats =
        formats_where([](const FormatEntry& e) { return e.decode != nullptr; });
    return formats;
}

std::span<const FileFormat> all_formats() {
    static const std::vector<FileFormat> formats = formats_where([](const FormatEntry&) { return true; });
    return formats;
}

std::optional<FileFormat> format_from_name(std::string_view name, std::span<const FileFormat> allowed) {
    for (const FileFormat format : allowed) {
        const FormatEntry& entry = format_entry(format);
        if (equal_ignoring_case(name, entry.name)) return format;
        if (entry.other_extension != nullptr && equal_ignoring_case(name, entry.other_extension)) return format;
    }
    return std::nullopt;
}

std::optional<FileFormat> format_from_extension(std::string_view path, std::span<const FileFormat> allowed) {
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || path.find_first_of("/\\", dot) != std::string_view::npos) return std::nullopt;
    return format_from_name(path.substr(dot + 1), allowed);
}

std::string format_list(std::span<const FileFormat> formats, std::string_view prefix, bool titles) {
    std::string list;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        if (i > 0) list += i + 1 == formats.size() ? " or " : ", ";
        list += prefix;
        list += titles ? format_entry(formats[i]).title : format_name(formats[i]);
    }
    return list;
}

}  // namespace qlxcmd
