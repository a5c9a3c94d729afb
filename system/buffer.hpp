#pragma once
// A heap block of bytes whose allocation can fail without throwing: the
// system layer's one way to hold a file's bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

#include "io_result.hpp"

namespace sys {

class Buffer {
public:
    Buffer() = default;

    // Not zero-filled: for buffers whose every byte is written before it is read.
    static IoResult<Buffer> allocate(std::size_t size) {
        Buffer buffer;
        buffer.block_.reset(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
        if (!buffer.block_) return failure(IoError::out_of_memory);
        buffer.size_ = size;
        return buffer;
    }

    std::uint8_t* data() { return block_.get(); }
    const std::uint8_t* data() const { return block_.get(); }
    std::size_t size() const { return size_; }
    std::span<std::uint8_t> bytes() { return {block_.get(), size_}; }
    std::span<const std::uint8_t> bytes() const { return {block_.get(), size_}; }

    // Forgets the bytes past `size`; the memory stays until the buffer goes.
    void shrink(std::size_t size) { size_ = size < size_ ? size : size_; }

private:
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t size_ = 0;
};

}  // namespace sys
