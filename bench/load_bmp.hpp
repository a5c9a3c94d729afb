#pragma once
// The bench tools' way in: a whole 24-bit BMP in memory with its layout.

#include <optional>

#include "file_io.hpp"
#include "qlx.h"

struct LoadedBmp {
    sys::Buffer file;
    qlx_bmp_layout layout;
};

// Empty when the file cannot be read or is not a BMP palquant accepts.
inline std::optional<LoadedBmp> load_bmp(const char* path) {
    sys::IoResult<sys::InputFile> input = sys::InputFile::open(path);
    if (!input) return std::nullopt;
    sys::IoResult<sys::Buffer> read = input->read_all();
    if (!read) return std::nullopt;
    qlx_bmp_layout layout{};
    if (qlx_bmp_read_layout(read->data(), read->size(), read->size(), &layout) != QLX_OK) return std::nullopt;
    return LoadedBmp{std::move(*read), layout};
}
