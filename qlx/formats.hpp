#pragma once
// The file formats qlx reads and writes, by name and by extension.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qlxcli {

enum class FileFormat {
    qlx,
    png,
    bmp,
    jpeg,
    gif,
    // palette files
    gpl,
    pal,
    act,
    hex
};

// "qlx", "png", ...: the name --to takes and the extension written.
const char* format_name(FileFormat format);

// A format by its --to name, if it is one of `allowed`.
std::optional<FileFormat> format_from_name(std::string_view name, std::span<const FileFormat> allowed);

// The format a file name's extension names (any case), if it is one of `allowed`.
std::optional<FileFormat> format_from_extension(std::string_view path, std::span<const FileFormat> allowed);

// The formats each command writes, in the order help names them.
inline constexpr FileFormat picture_outputs[] = {FileFormat::qlx, FileFormat::png, FileFormat::bmp};
inline constexpr FileFormat palette_outputs[] = {FileFormat::gpl, FileFormat::pal, FileFormat::act, FileFormat::hex,
                                                 FileFormat::png};

inline constexpr FileFormat all_formats[] = {FileFormat::qlx, FileFormat::png, FileFormat::bmp,
                                             FileFormat::jpeg, FileFormat::gif, FileFormat::gpl,
                                             FileFormat::pal, FileFormat::act, FileFormat::hex};

// "qlx, png or bmp", each name after `prefix` (".qlx, .png or .bmp").
std::string format_list(std::span<const FileFormat> formats, std::string_view prefix = "");

}  // namespace qlxcli
