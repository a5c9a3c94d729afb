#include "file_io.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace sys {
namespace {

// Growth step for inputs whose size the file system cannot tell (pipes).
constexpr std::size_t stream_chunk_size = std::size_t{1} << 20;

// Reads until `out` is full or the input ends, from `offset` on or, with
// none, from where the file stands; gives the count.
IoResult<std::size_t> fill(const platform::FileHandle& file, std::optional<std::uint64_t> offset,
                           std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const IoResult<std::size_t> count = offset ? platform::read_some_at(file, *offset + done, out.subspan(done))
                                                   : platform::read_some(file, out.subspan(done));
        if (!count) return failure(count.error());
        if (*count == 0) break;
        done += *count;
    }
    return done;
}

}  // namespace

IoResult<InputFile> InputFile::open(const std::string& path) {
    platform::FileHandle file = platform::open_for_reading(path);
    if (!file.is_open()) return failure(IoError::failed);
    return InputFile(std::move(file));
}

IoResult<InputFile> InputFile::standard_input() {
    platform::FileHandle file = platform::duplicate_standard_input();
    if (!file.is_open()) return failure(IoError::failed);
    return InputFile(std::move(file));
}

std::optional<std::uint64_t> InputFile::regular_size() const { return platform::regular_file_size(file_); }

IoResult<> InputFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) {
    const IoResult<std::size_t> count = fill(file_, offset, out);
    if (!count || *count < out.size()) return failure(IoError::failed);
    return {};
}

IoResult<Buffer> InputFile::read_all() {
    // A regular file: one read straight into a buffer of its size (which
    // read_up_to takes from the file system); one that shrinks meanwhile
    // just gives fewer bytes.
    if (regular_size()) return read_up_to(SIZE_MAX);
    IoResult<Buffer> buffer = Buffer::allocate(stream_chunk_size);
    std::size_t filled = 0;
    while (buffer) {
        const IoResult<std::size_t> count = fill(file_, std::nullopt, buffer->bytes().subspan(filled));
        if (!count) return failure(count.error());
        filled += *count;
        if (filled < buffer->size()) {
            buffer->shrink(filled);
            return buffer;
        }
        if (buffer->size() > SIZE_MAX / 2) return failure(IoError::out_of_memory);
        IoResult<Buffer> larger = Buffer::allocate(buffer->size() * 2);
        if (larger) std::memcpy(larger->data(), buffer->data(), filled);
        buffer = std::move(larger);
    }
    return buffer;
}

IoResult<Buffer> InputFile::read_up_to(std::size_t limit) {
    // A regular file gives no more than it holds: a limit from the command
    // line (palexpand --size) allocates nothing beyond the file.
    if (const std::optional<std::uint64_t> size = regular_size(); size && *size < limit) {
        limit = static_cast<std::size_t>(*size);
    }
    IoResult<Buffer> buffer = Buffer::allocate(limit);
    if (!buffer) return buffer;
    const IoResult<std::size_t> count = fill(file_, std::nullopt, buffer->bytes());
    if (!count) return failure(count.error());
    buffer->shrink(*count);
    return buffer;
}

IoResult<OutputFile> OutputFile::open(const std::string& path) {
    IoResult<platform::PendingOutput> pending = platform::begin_output(path);
    if (!pending) return failure(pending.error());
    return OutputFile(std::move(*pending));
}

IoResult<OutputFile> OutputFile::standard_output() {
    platform::FileHandle file = platform::duplicate_standard_output();
    if (!file.is_open()) return failure(IoError::failed);
    return OutputFile(platform::PendingOutput{std::move(file), {}, "-"});
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : pending_{std::move(other.pending_.file), std::exchange(other.pending_.temporary_path, {}),
               std::move(other.pending_.target_path)},
      failed_(other.failed_) {}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
    static_cast<void>(pending_.file.close());  // a discarded output's close has nothing to report
    if (!pending_.temporary_path.empty()) platform::remove_file(std::exchange(pending_.temporary_path, {}));
}

IoResult<> OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (!failed_ && !platform::write_all(pending_.file, bytes)) failed_ = true;
    if (failed_) return failure(IoError::failed);
    return {};
}

IoResult<> OutputFile::commit() {
    const IoResult<> closed = pending_.file.close();
    if (failed_ || !closed) {
        discard();
        return failure(IoError::failed);
    }
    if (pending_.temporary_path.empty()) return {};
    if (const IoResult<> committed = platform::commit_output(pending_); !committed) {
        discard();
        return committed;
    }
    pending_.temporary_path.clear();
    return {};
}

namespace {
// Names are UTF-8 everywhere in the programs, also where the system's
// narrow strings are in another code page.
std::filesystem::path path_of(const std::string& name) { return std::u8string(name.begin(), name.end()); }
}  // namespace

bool same_file(const std::string& first, const std::string& second) {
    std::error_code error;
    return std::filesystem::equivalent(path_of(first), path_of(second), error) && !error;
}

IoResult<> make_directories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path_of(path), error);
    if (!std::filesystem::is_directory(path_of(path), error)) return failure(IoError::failed);
    return {};
}

}  // namespace sys
