#pragma once
// The file formats qlx reads and writes: one table, from which the names
// --to takes, the extensions, the signatures, the decoders and the writers
// all come, and with them the help, --to's refusal and the refusal of a
// file of no format. A format is one entry and its files.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "expected.hpp"

namespace sys {
class OutputFile;
class Buffer;
}  // namespace sys

namespace qlxcmd {

struct Picture;
struct DecodeSettings;
struct Indices;
struct PictureOutput;
class Failure;
class FrameSource;

enum class FileFormat { qlx, png, bmp, jpeg, gif, webp, gpl, pal, act, hex };

using Decoder = common::Expected<Picture, Failure> (*)(std::span<const std::uint8_t> file, const std::string& name,
                                                       const DecodeSettings& settings);
using PictureWriter = common::Expected<void, Failure> (*)(Indices indices, const PictureOutput& output,
                                                          sys::OutputFile& file);
using PaletteWriter = common::Expected<void, Failure> (*)(sys::OutputFile& file);
// Every frame of a file that may hold many; the source keeps the bytes.
using FrameOpener = common::Expected<std::unique_ptr<FrameSource>, Failure> (*)(sys::Buffer& file,
                                                                                const DecodeSettings& settings);

struct FormatEntry {
    FileFormat format;
    const char* name;             // what --to takes and the extension written: "png"
    const char* title;            // as messages name it: "PNG"
    const char* other_extension;  // another extension it goes by ("jpg"), or nullptr
    // Its signature: whether the file's first bytes are this format's.
    // nullptr for QLX, which has none and is known by its name.
    bool (*sniff)(std::span<const std::uint8_t> file);
    Decoder decode;               // nullptr: not read
    FrameOpener open_frames;      // nullptr: a still picture, one frame
    PictureWriter write;          // nullptr: `qlx convert` does not write it
    PaletteWriter write_palette;  // nullptr: `qlx palette` does not write it
    const char* palette_use;      // what a palette file of it is for, as help says it
};

// Every format, in the order help names them.
std::span<const FormatEntry> format_table();
const FormatEntry& format_entry(FileFormat format);

// "qlx", "png", ...: the name --to takes and the extension written.
const char* format_name(FileFormat format);

// A format by its --to name, if it is one of `allowed`.
std::optional<FileFormat> format_from_name(std::string_view name, std::span<const FileFormat> allowed);

// The format a file name's extension names (any case), if it is one of `allowed`.
std::optional<FileFormat> format_from_extension(std::string_view path, std::span<const FileFormat> allowed);

// The formats each command writes, those qlx reads, and every one.
std::span<const FileFormat> picture_outputs();
std::span<const FileFormat> palette_outputs();
std::span<const FileFormat> readable_formats();
std::span<const FileFormat> all_formats();

// "qlx, png or bmp", each name after `prefix` (".qlx, .png or .bmp");
// `titles` spells them as messages do ("PNG, JPEG or GIF").
std::string format_list(std::span<const FileFormat> formats, std::string_view prefix = "", bool titles = false);

}  // namespace qlxcmd
