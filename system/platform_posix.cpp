// The platform layer for POSIX systems: Linux, the BSDs and macOS.

// 64-bit offsets and sizes in 32-bit builds too; must precede every header.
#define _FILE_OFFSET_BITS 64

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <utility>

#include "fault_injection.hpp"
#include "platform.hpp"

#ifndef O_CLOEXEC
#define O_CLOEXEC 0  // only keeps descriptors from programs we never start
#endif

namespace pal::platform {
namespace {

// Following a chain of links stops here, as the kernel does.
constexpr int max_symlink_depth = 40;
// Larger transfers are split: some systems refuse counts above INT_MAX.
constexpr std::size_t max_transfer = std::size_t{1} << 30;

int descriptor_of(const FileHandle& file) { return static_cast<int>(file.native()); }

// A system call that can fail. A fault-injection build may fail it as the
// system would: `failure`, with errno EIO. Calls whose failure the programs
// ignore (fchown, fcntl) or cannot act on (unlink in cleaning up) are not
// made through here.
template <class Result, class Call>
Result system_call(Result failure, Call call) {
    if (injected_failure()) {
        errno = EIO;
        return failure;
    }
    return call();
}

// Whether a path names a descriptor the process already holds: /dev/stdout,
// /dev/fd/N, or anything under /proc (Linux links /dev/fd there).
bool names_a_descriptor(const std::string& path) {
    return path.starts_with("/proc/") || path.starts_with("/dev/fd/") || path == "/dev/stdin" ||
           path == "/dev/stdout" || path == "/dev/stderr";
}

// The file a path finally names, following symbolic links (even dangling
// ones) so that writing replaces the link's target, not the link. Empty for
// a path or link that names a descriptor: that is written where it points.
std::optional<std::filesystem::path> follow_symlinks(std::filesystem::path path) {
    if (names_a_descriptor(path.string())) return std::nullopt;
    std::error_code error;
    for (int depth = 0; depth < max_symlink_depth && std::filesystem::is_symlink(path, error); ++depth) {
        std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
        if (names_a_descriptor(path.string())) return std::nullopt;
    }
    return path;
}

mode_t creation_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool FileHandle::close() {
    if (!is_open()) return true;
    const int descriptor = static_cast<int>(std::exchange(native_, invalid));
    // An injected failure still closes, as a real one does on Linux.
    if (injected_failure()) {
        ::close(descriptor);
        return false;
    }
    return ::close(descriptor) == 0;
}

std::vector<std::string> utf8_arguments(int argc, char* argv[]) { return {argv, argv + argc}; }

void use_binary_standard_streams() {}  // POSIX streams never translate

FileHandle open_for_reading(const std::string& path) {
    return FileHandle(system_call(-1, [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
}

std::optional<std::uint64_t> regular_file_size(const FileHandle& file) {
    struct stat info {};
    if (system_call(-1, [&] { return ::fstat(descriptor_of(file), &info); }) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::int64_t read_some(const FileHandle& file, std::span<std::uint8_t> out) {
    for (;;) {
        const ssize_t count = system_call(ssize_t{-1}, [&] {
            return ::read(descriptor_of(file), out.data(), std::min(out.size(), max_transfer));
        });
        if (count >= 0 || errno != EINTR) return count;
    }
}

std::int64_t read_some_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return 0;  // past any file's end
    for (;;) {
        const ssize_t count = system_call(ssize_t{-1}, [&] {
            return ::pread(descriptor_of(file), out.data(), std::min(out.size(), max_transfer),
                           static_cast<off_t>(offset));
        });
        if (count >= 0 || errno != EINTR) return count;
    }
}

bool write_all(const FileHandle& file, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t count = system_call(ssize_t{-1}, [&] {
            return ::write(descriptor_of(file), bytes.data(), std::min(bytes.size(), max_transfer));
        });
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(count));
    }
    return true;
}

std::optional<PendingOutput> begin_output(const std::string& path) {
    struct stat existing {};
    // Any failure but "no such file" refuses the output: guessing that the
    // target is absent could replace what is there.
    const int stat_result = system_call(-1, [&] { return ::stat(path.c_str(), &existing); });
    if (stat_result != 0 && errno != ENOENT) return std::nullopt;
    const bool exists = stat_result == 0;
    if (exists && S_ISDIR(existing.st_mode)) return std::nullopt;

    const std::optional<std::filesystem::path> resolved = follow_symlinks(path);
    if (!resolved || (exists && !S_ISREG(existing.st_mode))) {
        // Devices, FIFOs and open descriptors cannot be replaced by renaming.
        FileHandle file(system_call(-1, [&] { return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC); }));
        if (!file.is_open()) return std::nullopt;
        return PendingOutput{std::move(file), {}, path};
    }
    const std::filesystem::path& target = *resolved;
    if (!target.has_filename()) return std::nullopt;  // "" or a name ending in '/' names no file
    // Renaming would replace even a file we may not write; refuse it as
    // opening it for writing would have.
    if (exists && system_call(-1, [&] { return ::access(target.c_str(), W_OK); }) != 0) return std::nullopt;

    const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
    std::string hidden_name = ".";
    hidden_name += target.filename().string();
    hidden_name += ".XXXXXX";
    // Every string is made before the temporary file, so that running out
    // of memory cannot leave the file behind with no one to remove it.
    std::string temporary = (directory / hidden_name).string();
    std::string target_path = target.string();
    FileHandle file(system_call(-1, [&] { return ::mkstemp(temporary.data()); }));
    if (!file.is_open()) return std::nullopt;
    ::fcntl(descriptor_of(file), F_SETFD, FD_CLOEXEC);
    PendingOutput output{std::move(file), std::move(temporary), std::move(target_path)};

    if (exists) {
        // Best effort: only the owner or root may hand a file to its old owner.
        [[maybe_unused]] const int ignored = ::fchown(descriptor_of(output.file), existing.st_uid, existing.st_gid);
    }
    const mode_t mode = exists ? (existing.st_mode & 07777) : creation_mode();
    if (system_call(-1, [&] { return ::fchmod(descriptor_of(output.file), mode); }) != 0) {
        remove_file(output.temporary_path);
        return std::nullopt;
    }
    return output;
}

bool commit_output(const PendingOutput& output) {
    return system_call(-1, [&] { return ::rename(output.temporary_path.c_str(), output.target_path.c_str()); }) == 0;
}

void remove_file(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace pal::platform
