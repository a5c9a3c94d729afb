#include "lzw.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "memory.hpp"

namespace qlx {
namespace {

constexpr unsigned largest_min_code_size = 8;  // every index of the palette a root
constexpr std::size_t max_block = 255;

// Packs codes from each byte's low bits into sub-blocks.
class BlockWriter {
public:
    explicit BlockWriter(std::uint8_t* out) : start_(out), out_(out) {}
    void put(unsigned code, unsigned bits) {
        bits_ |= std::uint64_t{code} << filled_;
        filled_ += bits;
        for (; filled_ >= 8; filled_ -= 8, bits_ >>= 8) put_byte(static_cast<std::uint8_t>(bits_));
    }
    // The last bits, the last block's length and the terminator; the bytes written.
    std::size_t finish() {
        if (filled_ > 0) put_byte(static_cast<std::uint8_t>(bits_));
        *out_++ = 0;
        return static_cast<std::size_t>(out_ - start_);
    }

private:
    void put_byte(std::uint8_t byte) {
        if (length_ == nullptr) {
            length_ = out_++;
            *length_ = 0;
        }
        *out_++ = byte;
        if (++*length_ == max_block) length_ = nullptr;
    }
    std::uint8_t* start_;
    std::uint8_t* out_;
    std::uint8_t* length_ = nullptr;  // the open block's length byte
    std::uint64_t bits_ = 0;
    unsigned filled_ = 0;
};

// The encoder's strings: code of (prefix code, next pixel), by open
// addressing in twice as many slots as codes, so probes stay short.
struct Dictionary {
    static constexpr std::size_t slots = 2 * lzw_table_size;
    std::array<std::uint32_t, slots> keys;  // (prefix << 8 | pixel) + 1; 0 for an empty slot
    std::array<std::uint16_t, slots> codes;

    void clear() { keys.fill(0); }
    static std::size_t slot_of(std::uint32_t key) { return (key * 2654435761u) >> 19 & (slots - 1); }
    int find(unsigned prefix, std::uint8_t pixel) const {
        const std::uint32_t key = (prefix << 8 | pixel) + 1;
        for (std::size_t slot = slot_of(key);; slot = (slot + 1) & (slots - 1)) {
            if (keys[slot] == key) return codes[slot];
            if (keys[slot] == 0) return -1;
        }
    }
    void add(unsigned prefix, std::uint8_t pixel, unsigned code) {
        const std::uint32_t key = (prefix << 8 | pixel) + 1;
        std::size_t slot = slot_of(key);
        while (keys[slot] != 0) slot = (slot + 1) & (slots - 1);
        keys[slot] = key;
        codes[slot] = static_cast<std::uint16_t>(code);
    }
};
static_assert(Dictionary::slots <= std::size_t{1} << 13, "slot_of keeps 13 bits");

}  // namespace

std::size_t lzw_encoded_bound(std::size_t count) {
    // The largest roots leave the fewest codes between clears.
    constexpr std::size_t codes_between_clears = lzw_table_size - (std::size_t{1} << largest_min_code_size) - 2;
    if (count > (SIZE_MAX - 64) / 2) return 0;
    const std::size_t codes = count + count / codes_between_clears + 4;  // pixels, clears, first clear, end
    const std::size_t data = (codes * lzw_max_bits + 7) / 8;
    return 1 + data + data / max_block + 2;  // code size, lengths, terminator
}

unsigned min_code_size_of(std::initializer_list<const std::uint8_t*> runs, std::size_t count) {
    unsigned all = 0;
    for (const std::uint8_t* run : runs) {
        if (run == nullptr) continue;
        for (std::size_t i = 0; i < count; ++i) all |= run[i];
    }
    unsigned size = 2;  // GIF's smallest
    while ((all >> size) != 0) ++size;
    return size;
}

Result<std::size_t> lzw_encode(const LzwInput& input, std::uint8_t* out) {
    Result<std::unique_ptr<Dictionary>> made = allocate_object<Dictionary>();
    if (!made) return failure(made.error());
    Dictionary& dictionary = **made;
    const unsigned min_code_size = input.min_code_size;
    const unsigned clear = 1u << min_code_size, end = clear + 1;
    const auto first_of = [&](std::size_t i) {
        return input.alternatives != nullptr && input.prefer_alternative ? input.alternatives[i] : input.pixels[i];
    };
    // The other way pixel i may be sent, tried when the first finds no string.
    const auto other_of = [&](std::size_t i) {
        return input.alternatives == nullptr ? input.pixels[i]
               : input.prefer_alternative    ? input.pixels[i]
                                             : input.alternatives[i];
    };
    *out = static_cast<std::uint8_t>(min_code_size);
    BlockWriter writer(out + 1);
    unsigned bits = min_code_size + 1, next = end + 1;
    // Codes widen when the decoder's table, one entry behind ours, fills a power of two.
    const auto emit = [&](unsigned code) {
        if (next > (1u << bits) && bits < lzw_max_bits) ++bits;
        writer.put(code, bits);
    };
    dictionary.clear();
    writer.put(clear, bits);
    if (input.count > 0) {
        unsigned string = first_of(0);
        for (std::size_t i = 1; i < input.count; ++i) {
            int code = dictionary.find(string, first_of(i));
            if (code < 0 && other_of(i) != first_of(i)) code = dictionary.find(string, other_of(i));
            if (code >= 0) {
                string = static_cast<unsigned>(code);
                continue;
            }
            emit(string);
            const std::uint8_t start = first_of(i);
            dictionary.add(string, start, next++);
            if (next == lzw_table_size) {
                writer.put(clear, bits);
                dictionary.clear();
                bits = min_code_size + 1;
                next = end + 1;
            }
            string = start;
        }
        emit(string);
        if (next < lzw_table_size) ++next;  // the decoder adds a string on reading it
    }
    emit(end);
    return 1 + writer.finish();
}

qlx_status LzwDecoder::start(std::span<const std::uint8_t> blocks, unsigned min_code_size) {
    if (min_code_size < 2 || min_code_size > 8) return QLX_GIF_BAD_CODE_SIZE;
    Result<std::unique_ptr<std::uint16_t[]>> made = allocate_array<std::uint16_t>(3 * lzw_table_size);
    if (!made) return made.error();
    tables_ = std::move(*made);
    prefix_ = tables_.get();
    length_ = prefix_ + lzw_table_size;
    ends_ = length_ + lzw_table_size;
    blocks_ = blocks;
    min_code_size_ = min_code_size;
    clear_ = 1u << min_code_size;
    for (unsigned code = 0; code < clear_; ++code) {
        length_[code] = 1;
        ends_[code] = static_cast<std::uint16_t>(code << 8 | code);
    }
    bits_ = min_code_size + 1;
    next_ = clear_ + 2;
    return QLX_OK;
}

bool LzwDecoder::read_code(unsigned& code) {
    while (filled_ < bits_) {
        if (block_left_ == 0) {
            if (at_ >= blocks_.size() || blocks_[at_] == 0) return false;
            block_left_ = blocks_[at_++];
        }
        if (at_ >= blocks_.size()) return false;
        held_ |= std::uint32_t{blocks_[at_++]} << filled_;
        filled_ += 8;
        --block_left_;
    }
    code = held_ & ((1u << bits_) - 1);
    held_ >>= bits_;
    filled_ -= bits_;
    return true;
}

// Reads codes up to the next string, and puts it in hand.
qlx_status LzwDecoder::next_string() {
    const unsigned end = clear_ + 1;
    for (;;) {
        unsigned code = 0;
        if (!read_code(code) || code == end) return QLX_GIF_PIXELS_CUT_SHORT;
        if (code == clear_) {
            bits_ = min_code_size_ + 1;
            next_ = clear_ + 2;
            previous_ = -1;
            continue;
        }
        if (previous_ < 0) {
            if (code > end) return QLX_GIF_BAD_CODE;
        } else {
            if (code > next_ || (code == next_ && next_ == lzw_table_size)) return QLX_GIF_BAD_CODE;
            if (next_ < lzw_table_size) {
                // The string before and the first pixel of this one (of its own, when it is the new one).
                const auto before = static_cast<unsigned>(previous_);
                const unsigned first = (code == next_ ? ends_[before] : ends_[code]) >> 8;
                prefix_[next_] = static_cast<std::uint16_t>(before);
                length_[next_] = static_cast<std::uint16_t>(length_[before] + 1);
                ends_[next_] = static_cast<std::uint16_t>((ends_[before] & 0xFF00) | first);
                ++next_;
                if (next_ == (1u << bits_) && bits_ < lzw_max_bits) ++bits_;
            }
        }
        previous_ = static_cast<int>(code);
        string_left_ = length_[code];
        unsigned c = code;
        for (std::size_t k = 0; k < string_left_; ++k, c = prefix_[c]) string_[k] = static_cast<std::uint8_t>(ends_[c]);
        return QLX_OK;
    }
}

qlx_status LzwDecoder::read(std::uint8_t* out, std::size_t count) {
    while (count > 0) {
        if (string_left_ == 0) {
            if (const qlx_status status = next_string(); status != QLX_OK) return status;
        }
        const std::size_t taken = std::min(count, string_left_);
        for (std::size_t k = 0; k < taken; ++k) *out++ = string_[--string_left_];
        count -= taken;
    }
    return QLX_OK;
}

}  // namespace qlx
