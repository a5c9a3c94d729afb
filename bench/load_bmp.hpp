#pragma once
// The bench tools' way in: a whole 24-bit BMP in memory with its layout.

#include <optional>

#include "file_io.hpp"
#include "bmp_format.hpp"

struct LoadedBmp {
    qlx::ByteBuffer file;
    qlx::PixelLayout layout;
};

// Empty when the file cannot be read or is not a BMP palquant accepts.
inline std::optional<LoadedBmp> load_bmp(const char* path) {
    std::optional<pal::InputFile> input = pal::InputFile::open(path);
    if (!input) return std::nullopt;
    pal::ReadResult read = input->read_all();
    if (read.status != pal::ReadStatus::ok) return std::nullopt;
    const qlx::BmpParse parsed = qlx::parse_bmp(read.bytes.bytes());
    if (parsed.status != QLX_OK) return std::nullopt;
    return LoadedBmp{std::move(read.bytes), parsed.layout};
}
