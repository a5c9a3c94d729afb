#include "zlib_stream.hpp"

#include <libdeflate.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace qlxcmd {
namespace {

// An empty stored block: its 3 header bits, padding, LEN 0 and NLEN 0xffff.
constexpr std::size_t joint_size = 5;
constexpr std::size_t zlib_header_size = 2;
constexpr std::size_t adler_size = 4;

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

struct Part {
    std::span<const std::uint8_t> data;
    sys::Buffer compressed;
    std::size_t size = 0;  // 0: failed
};

void compress_part(Part& part, int level) {
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(level));
    if (!compressor) return;
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor.get(), part.data.size()) + joint_size;
    auto buffer = sys::Buffer::allocate(bound);
    if (!buffer) return;
    part.size =
        libdeflate_deflate_compress(compressor.get(), part.data.data(), part.data.size(), buffer->data(), bound);
    part.compressed = std::move(*buffer);
}

// Walks the part's blocks with zlib's inflate, which stops at each block's
// end, to find where its final block's header lies; clears that block's
// final bit and appends an empty stored block. False if the stream does not
// read back as one complete deflate stream.
bool make_joinable(Part& part) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return false;
    std::uint8_t* const base = part.compressed.data();
    stream.next_in = base;
    stream.avail_in = static_cast<uInt>(part.size);
    std::size_t header_byte = 0;  // where the block being read began
    unsigned header_bit = 0;
    unsigned unused = 0;  // bits left over in the last byte once the final block ends
    std::vector<std::uint8_t> discard(1u << 16);
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = discard.data();
        stream.avail_out = static_cast<uInt>(discard.size());
        status = inflate(&stream, Z_BLOCK);
        if (status != Z_OK || (stream.data_type & 128) == 0) continue;
        // At a block's end: the next header, if any, starts after the bits used.
        unused = static_cast<unsigned>(stream.data_type & 7);
        if ((stream.data_type & 64) != 0) continue;  // the final block's end
        const auto consumed = static_cast<std::size_t>(stream.next_in - base);
        header_byte = unused == 0 ? consumed : consumed - 1;
        header_bit = unused == 0 ? 0 : 8 - unused;
    }
    const bool whole = status == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!whole) return false;
    base[header_byte] = static_cast<std::uint8_t>(base[header_byte] & ~(1u << header_bit));
    // The stored block's header bits (all 0) follow the last bit used; an
    // extra byte holds them when fewer than three bits are left.
    base[part.size - 1] = static_cast<std::uint8_t>(base[part.size - 1] & (0xffu >> unused));
    if (unused < 3) base[part.size++] = 0;
    for (const int byte : {0x00, 0x00, 0xff, 0xff}) base[part.size++] = static_cast<std::uint8_t>(byte);
    return true;
}

}  // namespace

Outcome<sys::Buffer> zlib_stream(std::span<const std::uint8_t> data, int level, unsigned threads,
                                 std::size_t part_size) {
    const std::size_t count = std::max<std::size_t>(1, data.size() / std::max<std::size_t>(part_size, 1));
    std::vector<Part> compressed(count);
    const std::size_t each = (data.size() + count - 1) / count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t start = std::min(data.size(), i * each);
        compressed[i].data = data.subspan(start, std::min(each, data.size() - start));
    }
    {
        std::atomic<std::size_t> next{0};
        const auto compress_parts = [&] {
            for (std::size_t i = next++; i < count; i = next++) compress_part(compressed[i], level);
        };
        std::vector<std::jthread> helpers;
        for (std::size_t i = 1; i < std::min<std::size_t>(std::max(threads, 1u), count); ++i) {
            helpers.emplace_back(compress_parts);
        }
        compress_parts();
    }
    std::size_t total = zlib_header_size + adler_size;
    for (std::size_t i = 0; i < count; ++i) {
        if (compressed[i].size == 0) return refusal(QLX_OUT_OF_MEMORY);  // the compressor's memory
        if (i + 1 < count && !make_joinable(compressed[i])) return refusal("a compressed part could not be joined");
        total += compressed[i].size;
    }
    auto stream = allocate(total);
    if (!stream) return refusal(stream.error());
    std::uint8_t* out = stream->data();
    // CMF: deflate with a 32 KiB window; FLG: the level class, and a check
    // that makes the pair a multiple of 31.
    *out++ = 0x78;
    *out++ = level >= 7 ? 0xda : level >= 6 ? 0x9c : level >= 2 ? 0x5e : 0x01;
    for (const Part& part : compressed) {
        std::memcpy(out, part.compressed.data(), part.size);
        out += part.size;
    }
    const auto adler = static_cast<std::uint32_t>(libdeflate_adler32(1, data.data(), data.size()));
    for (int shift = 24; shift >= 0; shift -= 8) *out++ = static_cast<std::uint8_t>(adler >> shift);
    return std::move(*stream);
}

}  // namespace qlxcmd
