#include "formats.hpp"

#include <algorithm>
#include <span>

namespace qlxcli {
namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

}  // namespace

const char* format_name(FileFormat format) {
    switch (format) {
        case FileFormat::qlx: return "qlx";
        case FileFormat::png: return "png";
        case FileFormat::bmp: return "bmp";
        case FileFormat::jpeg: return "jpeg";
        case FileFormat::gif: return "gif";
        case FileFormat::gpl: return "gpl";
        case FileFormat::pal: return "pal";
        case FileFormat::act: return "act";
        case FileFormat::hex: return "hex";
    }
    return "";
}

std::optional<FileFormat> format_from_name(std::string_view name, std::span<const FileFormat> allowed) {
    for (const FileFormat format : allowed) {
        if (equal_ignoring_case(name, format_name(format))) return format;
    }
    return std::nullopt;
}

std::optional<FileFormat> format_from_extension(std::string_view path, std::span<const FileFormat> allowed) {
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || path.find_first_of("/\\", dot) != std::string_view::npos) return std::nullopt;
    return format_from_name(path.substr(dot + 1), allowed);
}

std::string format_list(std::span<const FileFormat> formats, std::string_view prefix) {
    std::string list;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        if (i > 0) list += i + 1 == formats.size() ? " or " : ", ";
        list += prefix;
        list += format_name(formats[i]);
    }
    return list;
}

}  // namespace qlxcli
