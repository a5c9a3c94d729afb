// The caller's options, checked once for every entry point. Apart from the
// quantiser, so that a program that only checks options links nothing of it.
#include <algorithm>
#include <iterator>

#include "quantiser.hpp"
#include "vocabulary.hpp"

namespace qlx {

Result<QuantiseOptions> read_options(const qlx_options* given) {
    const qlx_options chosen = given != nullptr ? *given : qlx_default_options();
    if (!names_value(dither_names, chosen.dither)) return failure(QLX_UNKNOWN_DITHER);
    if (!names_value(light_names, chosen.light)) return failure(QLX_UNKNOWN_LIGHT);
    if (chosen.strength < 0 || chosen.strength > max_dither_strength) return failure(QLX_STRENGTH_OUT_OF_RANGE);
    if (chosen.transparent_index < -1 || chosen.transparent_index > 255) {
        return failure(QLX_TRANSPARENT_INDEX_OUT_OF_RANGE);
    }
    if (chosen.threads < 0) return failure(QLX_THREADS_OUT_OF_RANGE);
    if (!names_value(alpha_names, chosen.alpha)) return failure(QLX_UNKNOWN_ALPHA);
    if (chosen.background < 0 || chosen.background > 0xFFFFFF) return failure(QLX_BACKGROUND_OUT_OF_RANGE);
    if (chosen.stable < 0 || chosen.stable > 255) return failure(QLX_STABLE_OUT_OF_RANGE);
    if (std::any_of(std::begin(chosen.reserved), std::end(chosen.reserved), [](int word) { return word != 0; })) {
        return failure(QLX_UNKNOWN_OPTION);
    }
    QuantiseOptions options;
    options.dither = {static_cast<DitherMethod>(chosen.dither), chosen.strength,
                      static_cast<DitherLight>(chosen.light)};
    options.transparent_index = chosen.transparent_index;
    options.max_threads = static_cast<unsigned>(chosen.threads);
    options.composite = chosen.alpha == QLX_ALPHA_COMPOSITE;
    options.background = static_cast<std::uint32_t>(chosen.background);
    options.stable = chosen.stable;
    return options;
}

}  // namespace qlx
