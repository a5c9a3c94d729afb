// Drives the C API with arbitrary buffers, sides, strides, formats,
// capacities and options, as a careless caller might: every call must
// return a status, never read or write outside the buffers it was given
// (each is allocated to its exact capacity, so the sanitizers see a stray
// byte), and a refused call must write nothing.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target api_fuzzer
//   build-fuzz/bin/api_fuzzer -max_total_time=60 -max_len=4096 -artifact_prefix=fuzz/findings/ fuzz/corpus/bmp
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "qlx.h"

namespace {

constexpr std::uint8_t untouched = 0xEE;

// Mostly small sides, now and then one that overflows any product.
std::size_t side(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 15)) {
        case 0: return std::numeric_limits<std::size_t>::max() - input.ConsumeIntegralInRange<std::size_t>(0, 8);
        case 1: return std::numeric_limits<std::size_t>::max() / input.ConsumeIntegralInRange<std::size_t>(1, 8);
        default: return input.ConsumeIntegralInRange<std::size_t>(0, 70);
    }
}

// How many values an enum has, from the library's names of them.
template <class Enum>
int value_count(const char* (*name_of)(Enum)) {
    int count = 0;
    while (name_of(static_cast<Enum>(count)) != nullptr) ++count;
    return count;
}

// An enum holding whatever int the input gives, as a C caller can make one.
template <class Enum>
Enum any_value(FuzzedDataProvider& input, int usual_high) {
    return static_cast<Enum>(input.ConsumeBool() ? input.ConsumeIntegralInRange(0, usual_high)
                                                 : input.ConsumeIntegral<int>());
}

qlx_options options_from(FuzzedDataProvider& input) {
    qlx_options options = qlx_default_options();
    options.dither = any_value<qlx_dither>(input, value_count(qlx_dither_name));
    options.strength = input.ConsumeIntegralInRange(-2, 102);
    options.transparent_index = input.ConsumeIntegralInRange(-2, 256);
    options.threads = input.ConsumeIntegralInRange(-1, 3);
    options.light = any_value<qlx_light>(input, value_count(qlx_light_name));
    options.alpha = any_value<qlx_alpha>(input, value_count(qlx_alpha_name));
    options.background = input.ConsumeIntegralInRange(-1, 0x1000000);
    options.stable = input.ConsumeIntegralInRange(-1, 256);
    constexpr int last_reserved = static_cast<int>(std::size(qlx_options{}.reserved)) - 1;
    if (input.ConsumeIntegralInRange(0, 15) == 0) options.reserved[input.ConsumeIntegralInRange(0, last_reserved)] = 1;
    return options;
}

// A buffer of exactly `capacity` bytes, or none.
struct Output {
    std::vector<std::uint8_t> bytes;
    bool absent;
    std::uint8_t* data() { return absent ? nullptr : bytes.data(); }
    void check(qlx_status status) const {
        if (status == QLX_OK) return;
        for (const std::uint8_t byte : bytes) {
            if (byte != untouched) __builtin_trap();  // a refused call wrote
        }
    }
};

Output output(FuzzedDataProvider& input, std::size_t capacity) {
    return {std::vector<std::uint8_t>(capacity, untouched), input.ConsumeIntegralInRange(0, 31) == 0};
}

// The same pixels through a quantiser, in two batches of rows: a refused
// batch writes nothing and leaves the quantiser usable; where the whole
// picture converted, the batches give its bytes.
void streamed_in_two_batches(const std::uint8_t* pixels, std::size_t width, std::size_t height, std::size_t stride,
                             qlx_pixel_format format, const qlx_options* options, std::size_t capacity, bool span_fits,
                             const std::vector<std::uint8_t>* whole) {
    qlx_quantiser* quantiser = nullptr;
    if (qlx_quantiser_create(width, height, format, options, &quantiser) != QLX_OK) return;
    const std::size_t first_rows = height / 2;
    std::vector<std::uint8_t> streamed;
    bool converted = true;
    for (const auto& [first, rows] : {std::pair{std::size_t{0}, first_rows}, {first_rows, height - first_rows}}) {
        Output batch{std::vector<std::uint8_t>(capacity, untouched), pixels == nullptr};
        // The second batch's start exists only where the whole picture's span does.
        if (first > 0 && !span_fits) {
            converted = false;
            break;
        }
        const std::uint8_t* rows_start = pixels == nullptr ? nullptr : pixels + first * stride;
        const qlx_status status = qlx_quantiser_convert(quantiser, rows_start, rows, stride, batch.data(), capacity);
        batch.check(status);
        if (status != QLX_OK) {
            if (qlx_quantiser_rows_left(quantiser) != height - first) __builtin_trap();  // a refusal changed it
            converted = false;
            break;
        }
        streamed.insert(streamed.end(), batch.bytes.begin(),
                        batch.bytes.begin() + static_cast<std::ptrdiff_t>(rows * width));
    }
    qlx_quantiser_destroy(quantiser);
    if (converted && whole != nullptr &&
        !std::equal(streamed.begin(), streamed.end(), whole->begin(),
                    whole->begin() + static_cast<std::ptrdiff_t>(streamed.size()))) {
        __builtin_trap();
    }
}

// The same pixels through qlx_convert: at their size, colours give
// qlx_quantise's bytes; fitted, and as indices with a palette made of the
// input's bytes, any refusal writes nothing and a success fills the box.
void converted_whole(const std::uint8_t* pixels, std::size_t width, std::size_t height, std::size_t stride,
                     qlx_pixel_format format, const qlx_options* options, std::size_t capacity, const Output& quantised,
                     qlx_status quantise_status, const std::vector<std::uint8_t>& bytes) {
    const qlx_picture colours{pixels, width, height, stride, format, nullptr, 0, nullptr};
    Output kept{std::vector<std::uint8_t>(capacity, untouched), false};
    const qlx_status status = qlx_convert(&colours, options, QLX_FIT_KEEP, 0, 0, kept.data(), capacity);
    kept.check(status);
    // Given a buffer alike, the two calls agree on refusing, and on the bytes.
    if (!quantised.absent && (status == QLX_OK) != (quantise_status == QLX_OK)) __builtin_trap();
    if (status == QLX_OK && quantise_status == QLX_OK &&
        !std::equal(kept.bytes.begin(), kept.bytes.begin() + static_cast<std::ptrdiff_t>(width * height),
                    quantised.bytes.begin())) {
        __builtin_trap();
    }
    // Frames: the first, with nothing held, is qlx_convert's bytes; a
    // refusal writes neither the indices nor the memory; a second frame runs
    // on what the first held.
    const std::size_t memory_size =
        capacity * QLX_FRAME_MEMORY_PIXEL_BYTES - (capacity > 0 && bytes.size() % 3 == 0 ? 1 : 0);
    Output memory{std::vector<std::uint8_t>(memory_size, 0), false};
    for (int frame = 0; frame < 2; ++frame) {
        Output indices{std::vector<std::uint8_t>(capacity, untouched), false};
        const std::vector<std::uint8_t> held = memory.bytes;
        const qlx_status framed = qlx_convert_frame(&colours, options, QLX_FIT_KEEP, 0, 0, memory.data(),
                                                    memory.bytes.size(), indices.data(), capacity);
        indices.check(framed);
        if (framed != QLX_OK && memory.bytes != held) __builtin_trap();
        if (frame == 0 && framed == QLX_OK && status == QLX_OK && indices.bytes != kept.bytes) __builtin_trap();
    }
    const auto fit = static_cast<qlx_fit>(capacity % 5);  // 4: one the library refuses
    const std::size_t box_width = width % 37 + 1, box_height = height % 23 + 1;
    const std::size_t palette_size = bytes.size() % 258;  // 0 and 257 are refused
    const std::vector<std::uint8_t> palette(
        bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), palette_size * 4)));
    const qlx_picture indexed{pixels,       width,  height,
                              stride,       format, palette.size() == palette_size * 4 ? palette.data() : nullptr,
                              palette_size, nullptr};
    for (const qlx_picture* picture : {&colours, &indexed}) {
        Output box{std::vector<std::uint8_t>(capacity, untouched), false};
        const qlx_status fitted = qlx_convert(picture, options, fit, box_width, box_height, box.data(), capacity);
        box.check(fitted);
        std::size_t result_width = 0, result_height = 0;
        if (fitted == QLX_OK &&
            (qlx_convert_size(picture, fit, box_width, box_height, &result_width, &result_height) != QLX_OK ||
             result_width * result_height > capacity)) {
            __builtin_trap();
        }
        // The figures of what was converted are figures: none past its range,
        // no more pixels measured than the result has.
        if (fitted != QLX_OK) continue;
        qlx_closeness closeness{};
        if (qlx_closeness_of(picture, options, fit, box_width, box_height, box.data(), capacity, &closeness) !=
                QLX_OK ||
            !(closeness.blurred_error >= 0 && closeness.blurred_error <= 65025) ||
            !(closeness.ciede2000 >= 0 && closeness.ciede2000 <= 200) ||
            !(closeness.exact_share >= 0 && closeness.exact_share <= 1) ||
            closeness.measured > result_width * result_height) {
            __builtin_trap();
        }
    }
}

// Any text as a name: a size read from it is in range, and the name made
// for it reads back to it.
void size_in_names(const std::vector<std::uint8_t>& bytes, std::size_t width, std::size_t height) {
    const std::string name(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
    std::size_t named_width = 0, named_height = 0;
    if (qlx_size_from_name(name.c_str(), &named_width, &named_height) == QLX_OK &&
        (named_width < 1 || named_width > QLX_MAX_RESAMPLE_SIDE || named_height < 1 ||
         named_height > QLX_MAX_RESAMPLE_SIDE)) {
        __builtin_trap();
    }
    std::vector<char> made(name.size() + 32);
    if (qlx_name_with_size(name.c_str(), width, height, made.data(), made.size()) != QLX_OK) return;
    // The standard size may go unsaid, but never reads as another.
    std::size_t back_width = QLX_STANDARD_WIDTH, back_height = QLX_STANDARD_HEIGHT;
    const qlx_status read = qlx_size_from_name(made.data(), &back_width, &back_height);
    const bool standard = width == QLX_STANDARD_WIDTH && height == QLX_STANDARD_HEIGHT;
    if (read != QLX_OK && !standard) __builtin_trap();
    if (back_width != width || back_height != height) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t width = side(input);
    const std::size_t height = side(input);
    const std::size_t stride = input.ConsumeBool() ? width * 4 + input.ConsumeIntegralInRange<std::size_t>(0, 3)
                                                   : input.ConsumeIntegralInRange<std::size_t>(0, 300);
    const qlx_pixel_format format = any_value<qlx_pixel_format>(input, 4);
    const qlx_options options = options_from(input);
    const bool no_options = input.ConsumeIntegralInRange(0, 7) == 0;
    const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(0, 6000);
    std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();
    const std::uint8_t* source = bytes.empty() && width % 2 == 0 ? nullptr : bytes.data();

    // The pixels qlx_quantise may read are the caller's promise, so they are
    // made to exist; sizes that overflow must be refused before any read.
    std::size_t before_last = 0, row_bytes = 0, span = 0;
    const bool overflows = __builtin_mul_overflow(stride, height == 0 ? 0 : height - 1, &before_last) ||
                           __builtin_mul_overflow(width, std::size_t{4}, &row_bytes) ||
                           __builtin_add_overflow(before_last, row_bytes, &span);
    std::vector<std::uint8_t> pixel_bytes = bytes;
    if (!overflows && span <= (std::size_t{1} << 20)) pixel_bytes.resize(std::max(span, pixel_bytes.size()));
    if (overflows || span <= pixel_bytes.size()) {
        Output indices = output(input, capacity);
        const std::uint8_t* pixels = source == nullptr ? nullptr : pixel_bytes.data();
        const qlx_status whole = qlx_quantise(pixels, width, height, stride, format, no_options ? nullptr : &options,
                                              indices.data(), capacity);
        indices.check(whole);
        streamed_in_two_batches(pixels, width, height, stride, format, no_options ? nullptr : &options, capacity,
                                !overflows, whole == QLX_OK ? &indices.bytes : nullptr);
        converted_whole(pixels, width, height, stride, format, no_options ? nullptr : &options, capacity, indices,
                        whole, bytes);
    }
    size_in_names(bytes, width, height);
    Output pixels = output(input, capacity);
    pixels.check(
        qlx_expand(source, std::min(width, bytes.size()), height ? 1 : 0, format, pixels.data(), stride, capacity));

    std::size_t bmp_width = 0, bmp_height = 0;
    if (qlx_bmp_dimensions(source, bytes.size(), &bmp_width, &bmp_height) == QLX_OK) {
        Output qlx = output(input, bmp_width * bmp_height > capacity ? bmp_width * bmp_height : capacity);
        const qlx_status status =
            qlx_from_bmp(source, bytes.size(), no_options ? nullptr : &options, qlx.data(), qlx.bytes.size());
        qlx.check(status);
    }
    Output bmp = output(input, capacity);
    bmp.check(qlx_to_bmp(source, bytes.size(), width, height, bmp.data(), capacity));
    if (qlx_status_text(any_value<qlx_status>(input, 45)) == nullptr) __builtin_trap();
    return 0;
}
