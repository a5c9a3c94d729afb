#include "vocabulary.hpp"

#include <cstring>

namespace qlx {
namespace {

template <std::size_t N>
const char* name_of(const std::array<const char*, N>& names, int value) {
    return names_value(names, value) ? names[static_cast<std::size_t>(value)] : nullptr;
}

template <class Enum, std::size_t N>
qlx_status value_of(const std::array<const char*, N>& names, const char* name, Enum* value) {
    if (name == nullptr || value == nullptr) return QLX_NULL_POINTER;
    for (std::size_t i = 0; i < N; ++i) {
        if (std::strcmp(names[i], name) == 0) {
            *value = static_cast<Enum>(i);
            return QLX_OK;
        }
    }
    return QLX_UNKNOWN_NAME;
}

}  // namespace
}  // namespace qlx

extern "C" {

QLX_API const char* qlx_dither_name(qlx_dither dither) { return qlx::name_of(qlx::dither_names, dither); }
QLX_API qlx_status qlx_dither_from_name(const char* name, qlx_dither* dither) {
    return qlx::value_of(qlx::dither_names, name, dither);
}
QLX_API const char* qlx_light_name(qlx_light light) { return qlx::name_of(qlx::light_names, light); }
QLX_API qlx_status qlx_light_from_name(const char* name, qlx_light* light) {
    return qlx::value_of(qlx::light_names, name, light);
}
QLX_API const char* qlx_alpha_name(qlx_alpha alpha) { return qlx::name_of(qlx::alpha_names, alpha); }
QLX_API qlx_status qlx_alpha_from_name(const char* name, qlx_alpha* alpha) {
    return qlx::value_of(qlx::alpha_names, name, alpha);
}
QLX_API const char* qlx_fit_name(qlx_fit fit) { return qlx::name_of(qlx::fit_names, fit); }
QLX_API qlx_status qlx_fit_from_name(const char* name, qlx_fit* fit) {
    return qlx::value_of(qlx::fit_names, name, fit);
}

}  // extern "C"
