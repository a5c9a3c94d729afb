#include "file_io.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace pal {
namespace {

// Growth step for inputs whose size the file system cannot tell (pipes).
constexpr std::size_t stream_chunk_size = std::size_t{1} << 20;

// Reads until `out` is full or the input ends; returns the count or -1.
std::int64_t read_fully(const platform::FileHandle& file, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::int64_t count = platform::read_some(file, out.subspan(done));
        if (count < 0) return -1;
        if (count == 0) break;
        done += static_cast<std::size_t>(count);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace

std::optional<InputFile> InputFile::open(const std::string& path) {
    platform::FileHandle file = platform::open_for_reading(path);
    if (!file.is_open()) return std::nullopt;
    return InputFile(std::move(file));
}

std::optional<std::uint64_t> InputFile::regular_size() const { return platform::regular_file_size(file_); }

bool InputFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::int64_t count = platform::read_some_at(file_, offset + done, out.subspan(done));
        if (count <= 0) return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

ReadResult InputFile::read_all() {
    // A regular file: one read straight into a buffer of its size (which
    // read_up_to takes from the file system); one that shrinks meanwhile
    // just gives fewer bytes.
    if (regular_size()) return read_up_to(SIZE_MAX);
    std::optional<ByteBuffer> buffer = ByteBuffer::allocate(stream_chunk_size);
    std::size_t filled = 0;
    while (buffer) {
        const std::int64_t count = read_fully(file_, buffer->bytes().subspan(filled));
        if (count < 0) return {ReadStatus::read_failed, {}};
        filled += static_cast<std::size_t>(count);
        if (filled < buffer->size()) {
            buffer->shrink(filled);
            return {ReadStatus::ok, std::move(*buffer)};
        }
        std::optional<ByteBuffer> larger;
        if (buffer->size() <= SIZE_MAX / 2) larger = ByteBuffer::allocate(buffer->size() * 2);
        if (larger) std::memcpy(larger->data(), buffer->data(), filled);
        buffer = std::move(larger);
    }
    return {ReadStatus::out_of_memory, {}};
}

ReadResult InputFile::read_up_to(std::size_t limit) {
    // A regular file gives no more than it holds: a limit from the command
    // line (palexpand --size) allocates nothing beyond the file.
    if (const std::optional<std::uint64_t> size = regular_size(); size && *size < limit) {
        limit = static_cast<std::size_t>(*size);
    }
    std::optional<ByteBuffer> buffer = ByteBuffer::allocate(limit);
    if (!buffer) return {ReadStatus::out_of_memory, {}};
    const std::int64_t count = read_fully(file_, buffer->bytes());
    if (count < 0) return {ReadStatus::read_failed, {}};
    buffer->shrink(static_cast<std::size_t>(count));
    return {ReadStatus::ok, std::move(*buffer)};
}

std::optional<OutputFile> OutputFile::open(const std::string& path) {
    std::optional<platform::PendingOutput> pending = platform::begin_output(path);
    if (!pending) return std::nullopt;
    return OutputFile(std::move(*pending));
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : pending_{std::move(other.pending_.file), std::exchange(other.pending_.temporary_path, {}),
               std::move(other.pending_.target_path)},
      failed_(other.failed_) {}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
    pending_.file.close();
    if (!pending_.temporary_path.empty()) platform::remove_file(std::exchange(pending_.temporary_path, {}));
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (!failed_ && !platform::write_all(pending_.file, bytes)) failed_ = true;
    return !failed_;
}

bool OutputFile::commit() {
    const bool closed = pending_.file.close();
    if (failed_ || !closed) {
        discard();
        return false;
    }
    if (pending_.temporary_path.empty()) return true;
    if (!platform::commit_output(pending_)) {
        discard();
        return false;
    }
    pending_.temporary_path.clear();
    return true;
}

}  // namespace pal
