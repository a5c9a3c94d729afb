// The C API: a QLX file's size in its name ("castle.641x480.qlx"), read and
// written by one rule for every door: qlx.h states it.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "api_checks.hpp"
#include "qlx.h"

namespace qlx {
namespace {

// At most 5 digits a side: QLX_MAX_RESAMPLE_SIDE has 5.
constexpr std::size_t max_side_digits = 5;

bool ends_in_qlx(std::string_view name) {
    if (name.size() < 4 || name[name.size() - 4] != '.') return false;
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = name[name.size() - 3 + i];
        if (c != "qlx"[i] && c != "QLX"[i]) return false;
    }
    return true;
}

// A side: 1 to 5 digits, no leading zero, 1 to QLX_MAX_RESAMPLE_SIDE.
std::optional<std::size_t> side_of(std::string_view digits) {
    if (digits.empty() || digits.size() > max_side_digits || digits.front() == '0') return std::nullopt;
    std::size_t side = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        side = side * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!api::resample_side_fits(side)) return std::nullopt;
    return side;
}

}  // namespace
}  // namespace qlx

extern "C" {

QLX_API qlx_status qlx_size_from_name(const char* name, size_t* width, size_t* height) {
    if (name == nullptr || width == nullptr || height == nullptr) return QLX_NULL_POINTER;
    std::string_view file(name);
    if (const std::size_t slash = file.find_last_of("/\\"); slash != std::string_view::npos) {
        file.remove_prefix(slash + 1);
    }
    if (!qlx::ends_in_qlx(file)) return QLX_NO_SIZE_IN_NAME;
    const std::string_view stem = file.substr(0, file.size() - 4);
    const std::size_t dot = stem.find_last_of('.');
    if (dot == std::string_view::npos) return QLX_NO_SIZE_IN_NAME;
    const std::string_view part = stem.substr(dot + 1);
    const std::size_t times = part.find('x');
    if (times == std::string_view::npos) return QLX_NO_SIZE_IN_NAME;
    const std::optional<std::size_t> sides[] = {qlx::side_of(part.substr(0, times)),
                                                qlx::side_of(part.substr(times + 1))};
    if (!sides[0] || !sides[1]) return QLX_NO_SIZE_IN_NAME;
    *width = *sides[0];
    *height = *sides[1];
    return QLX_OK;
}

QLX_API qlx_status qlx_name_with_size(const char* stem, size_t width, size_t height, char* name, size_t name_capacity) {
    if (stem == nullptr || name == nullptr) return QLX_NULL_POINTER;
    if (!qlx::api::resample_side_fits(width) || !qlx::api::resample_side_fits(height)) return QLX_SIDE_OUT_OF_RANGE;
    const std::size_t stem_length = std::strlen(stem);
    // The standard size goes without saying, unless the stem itself ends in
    // what would read as a size ("a.64x48" + ".qlx" would say 64 x 48).
    bool say_size = width != QLX_STANDARD_WIDTH || height != QLX_STANDARD_HEIGHT;
    if (!say_size) {
        std::string plain(stem, stem_length);
        plain += ".qlx";
        std::size_t stated_width = 0, stated_height = 0;
        say_size = qlx_size_from_name(plain.c_str(), &stated_width, &stated_height) == QLX_OK;
    }
    char size[2 * qlx::max_side_digits + 3] = "";  // ".WxH", or nothing
    if (say_size) std::snprintf(size, sizeof size, ".%zux%zu", width, height);
    const std::size_t size_length = std::strlen(size);
    if (name_capacity <= stem_length || name_capacity - stem_length < size_length + sizeof ".qlx") {
        return QLX_CAPACITY_TOO_SMALL;
    }
    std::memcpy(name, stem, stem_length);
    std::memcpy(name + stem_length, size, size_length);
    std::memcpy(name + stem_length + size_length, ".qlx", sizeof ".qlx");
    return QLX_OK;
}

}  // extern "C"
