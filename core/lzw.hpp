#pragma once
// GIF's LZW: codes of 3 to 12 bits packed from each byte's low bits, in
// sub-blocks of at most 255 bytes. With a minimum code size of m, code
// 2^m clears the table and 2^m + 1 ends the data; the first free code is
// 2^m + 2 and codes start m + 1 bits wide. A code is one bit wider from
// when the decoder's table reaches the next power of two, up to 12 bits;
// the encoder clears the table when it is full.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>

#include "result.hpp"

namespace qlx {

inline constexpr unsigned lzw_max_bits = 12;
inline constexpr std::size_t lzw_table_size = std::size_t{1} << lzw_max_bits;

// The most bytes lzw_encode writes for `count` pixels: a code of 12 bits
// for each and for every clear, the end, and a length byte for every 255
// bytes and the terminator. 0 if that overflows size_t.
std::size_t lzw_encoded_bound(std::size_t count);

// The pixels to encode, each below 2^min_code_size (2 to 8). Where `alternatives` is given, pixel i may be sent
// as pixels[i] or as alternatives[i] (both decode to the same picture), and
// the encoder takes whichever makes the longer string; `prefer_alternative`
// says which to start a string with.
struct LzwInput {
    const std::uint8_t* pixels = nullptr;
    const std::uint8_t* alternatives = nullptr;
    std::size_t count = 0;
    bool prefer_alternative = false;
    unsigned min_code_size = 8;
};

// The smallest minimum code size whose roots hold every value of the
// `count` bytes at each of `runs`: the fewer the colours' indices, the
// shorter the codes.
unsigned min_code_size_of(std::initializer_list<const std::uint8_t*> runs, std::size_t count);

// Writes the minimum code size and the image data's sub-blocks, with
// the terminator, at `out`, which holds lzw_encoded_bound(count) bytes.
// Returns the bytes written. QLX_OUT_OF_MEMORY when its table cannot be had.
Result<std::size_t> lzw_encode(const LzwInput& input, std::uint8_t* out);

// Decodes the image data that follows a minimum code size (2 to 8), a run
// of pixels at a time, so that a frame is read a row at a time: `blocks`
// is the chain of sub-blocks up to its terminator. What follows the last
// pixel asked for is not read, as decoders do.
class LzwDecoder {
public:
    // QLX_GIF_BAD_CODE_SIZE, or QLX_OUT_OF_MEMORY for its tables.
    qlx_status start(std::span<const std::uint8_t> blocks, unsigned min_code_size);
    // The next `count` pixels; QLX_GIF_BAD_CODE or QLX_GIF_PIXELS_CUT_SHORT.
    qlx_status read(std::uint8_t* out, std::size_t count);

private:
    bool read_code(unsigned& code);
    qlx_status next_string();

    std::span<const std::uint8_t> blocks_;
    std::size_t at_ = 0, block_left_ = 0;
    std::uint32_t held_ = 0;
    unsigned filled_ = 0;
    unsigned min_code_size_ = 0, clear_ = 0, bits_ = 0, next_ = 0;
    int previous_ = -1;
    // Each code's string: the code before its last pixel, its length, and
    // its first pixel (high byte) and last (low byte).
    std::unique_ptr<std::uint16_t[]> tables_;
    std::uint16_t *prefix_ = nullptr, *length_ = nullptr, *ends_ = nullptr;
    // The string in hand, last pixel first, and how much of it is left.
    std::array<std::uint8_t, lzw_table_size> string_{};
    std::size_t string_left_ = 0;
};

}  // namespace qlx
