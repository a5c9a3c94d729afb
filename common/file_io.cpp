#include "file_io.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace pal {
namespace {

constexpr std::size_t huge_page_size = std::size_t{2} << 20;
// Following a chain of links stops here, as the kernel does.
constexpr int max_symlink_depth = 40;
// Growth step for inputs whose size the file system cannot tell (pipes).
constexpr std::size_t stream_chunk_size = std::size_t{1} << 20;

// Reads until `buffer` is full or the input ends; returns the count or -1.
std::ptrdiff_t read_fully(int descriptor, std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(descriptor, buffer + done, size - done);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<std::size_t>(count);
    }
    return static_cast<std::ptrdiff_t>(done);
}

bool write_fully(int descriptor, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t count = ::write(descriptor, bytes, size);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

// The file a path finally names, following symbolic links (even dangling
// ones) so that writing replaces the link's target, not the link. Empty for a
// link into /proc, such as /dev/stdout or /dev/fd/3: it names a descriptor the
// caller already holds, which is written where it points.
std::optional<std::filesystem::path> follow_symlinks(std::filesystem::path path) {
    std::error_code error;
    for (int depth = 0; depth < max_symlink_depth && std::filesystem::is_symlink(path, error); ++depth) {
        std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
        if (path.string().starts_with("/proc/")) return std::nullopt;
    }
    return path;
}

mode_t creation_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

void ByteBuffer::Free::operator()(std::uint8_t* block) const { std::free(block); }

std::optional<ByteBuffer> ByteBuffer::adopt(void* block, std::size_t block_size, std::size_t size) {
    if (block == nullptr) return std::nullopt;
    ByteBuffer buffer;
    buffer.block_.reset(static_cast<std::uint8_t*>(block));
    buffer.size_ = size;
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    if (size < huge_page_size) {
        buffer.data_ = buffer.block_.get();
        return buffer;
    }
    const std::uintptr_t aligned = (address + huge_page_size - 1) / huge_page_size * huge_page_size;
    buffer.data_ = buffer.block_.get() + (aligned - address);
#ifdef MADV_HUGEPAGE
    // Advice only: refusing it costs speed, not bytes.
    ::madvise(reinterpret_cast<void*>(aligned), block_size - (aligned - address), MADV_HUGEPAGE);
#else
    (void)block_size;
#endif
    return buffer;
}

std::optional<ByteBuffer> ByteBuffer::allocate(std::size_t size) {
    if (size < huge_page_size) return adopt(std::malloc(size == 0 ? 1 : size), size, size);
    if (size > SIZE_MAX - huge_page_size) return std::nullopt;
    const std::size_t rounded = (size + huge_page_size - 1) / huge_page_size * huge_page_size;
    return adopt(std::aligned_alloc(huge_page_size, rounded), rounded, size);
}

std::optional<ByteBuffer> ByteBuffer::allocate_zeroed(std::size_t size) {
    // calloc maps fresh zero pages for large blocks instead of clearing them;
    // the extra huge page leaves room to align the start.
    const std::size_t slack = size < huge_page_size ? 0 : huge_page_size;
    if (size > SIZE_MAX - slack) return std::nullopt;
    return adopt(std::calloc(size + slack + (size == 0), 1), size + slack, size);
}

std::optional<InputFile> InputFile::open(const char* path) {
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    return InputFile(descriptor);
}

InputFile::InputFile(InputFile&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

InputFile::~InputFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

std::optional<std::uint64_t> InputFile::regular_size() const {
    struct stat info {};
    if (::fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

bool InputFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t count =
            ::pread(descriptor_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (count == 0) return false;
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

ReadResult InputFile::read_all() {
    if (const std::optional<std::uint64_t> size = regular_size()) {
        // One read straight into the final buffer; a file that shrinks
        // meanwhile just gives fewer bytes.
        return read_up_to(static_cast<std::size_t>(*size));
    }
    std::optional<ByteBuffer> buffer = ByteBuffer::allocate(stream_chunk_size);
    std::size_t filled = 0;
    while (buffer) {
        const std::ptrdiff_t count = read_fully(descriptor_, buffer->data() + filled, buffer->size() - filled);
        if (count < 0) return {ReadStatus::read_failed, {}};
        filled += static_cast<std::size_t>(count);
        if (filled < buffer->size()) {
            buffer->shrink(filled);
            return {ReadStatus::ok, std::move(*buffer)};
        }
        std::optional<ByteBuffer> larger = ByteBuffer::allocate(buffer->size() * 2);
        if (larger) std::memcpy(larger->data(), buffer->data(), filled);
        buffer = std::move(larger);
    }
    return {ReadStatus::out_of_memory, {}};
}

ReadResult InputFile::read_up_to(std::size_t limit) {
    std::optional<ByteBuffer> buffer = ByteBuffer::allocate(limit);
    if (!buffer) return {ReadStatus::out_of_memory, {}};
    const std::ptrdiff_t count = read_fully(descriptor_, buffer->data(), limit);
    if (count < 0) return {ReadStatus::read_failed, {}};
    buffer->shrink(static_cast<std::size_t>(count));
    return {ReadStatus::ok, std::move(*buffer)};
}

std::optional<OutputFile> OutputFile::open(const std::string& path) {
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return std::nullopt;

    const std::optional<std::filesystem::path> resolved = follow_symlinks(path);
    if (!resolved || (exists && !S_ISREG(existing.st_mode))) {
        // Devices, FIFOs and open descriptors cannot be replaced by renaming;
        // write them in place.
        const int descriptor = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (descriptor < 0) return std::nullopt;
        return OutputFile(descriptor, {}, path);
    }
    const std::filesystem::path& target = *resolved;
    if (!target.has_filename()) return std::nullopt;  // "" or a name ending in '/' names no file
    // Renaming would replace even a file we may not write; refuse it as
    // opening it for writing would have.
    if (exists && ::access(target.c_str(), W_OK) != 0) return std::nullopt;

    const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
    std::string hidden_name = ".";
    hidden_name += target.filename().string();
    hidden_name += ".XXXXXX";
    std::string temporary = (directory / hidden_name).string();
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;

    OutputFile output(descriptor, temporary, target.string());
    if (exists) {
        // Best effort: only the owner or root may hand a file to its old owner.
        [[maybe_unused]] const int ignored = ::fchown(descriptor, existing.st_uid, existing.st_gid);
    }
    if (::fchmod(descriptor, exists ? (existing.st_mode & 07777) : creation_mode()) != 0) return std::nullopt;
    return output;
}

OutputFile::OutputFile(int descriptor, std::string temporary_path, std::string target_path)
    : descriptor_(descriptor), temporary_path_(std::move(temporary_path)), target_path_(std::move(target_path)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      temporary_path_(std::exchange(other.temporary_path_, {})),
      target_path_(std::move(other.target_path_)),
      failed_(other.failed_) {}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
    if (descriptor_ >= 0) ::close(std::exchange(descriptor_, -1));
    if (!temporary_path_.empty()) ::unlink(std::exchange(temporary_path_, {}).c_str());
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (!failed_ && !write_fully(descriptor_, bytes.data(), bytes.size())) failed_ = true;
    return !failed_;
}

bool OutputFile::commit() {
    // close() reports errors of delayed writes on some file systems.
    const bool closed = ::close(std::exchange(descriptor_, -1)) == 0;
    if (failed_ || !closed) {
        discard();
        return false;
    }
    if (temporary_path_.empty()) return true;
    if (::rename(temporary_path_.c_str(), target_path_.c_str()) != 0) {
        discard();
        return false;
    }
    temporary_path_.clear();
    return true;
}

}  // namespace pal
