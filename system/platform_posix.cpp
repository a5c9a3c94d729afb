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

namespace sys::platform {
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

// The umask can only be read by setting it. Done once as the program
// loads, before any thread: two threads reading it at once could leave it
// 0, and every file created after that writable by anyone.
const mode_t process_umask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

mode_t creation_mode() { return static_cast<mode_t>(0666 & ~process_umask); }

}  // namespace

IoResult<> FileHandle::close() {
    if (!is_open()) return {};
    const int descriptor = static_cast<int>(std::exchange(native_, invalid));
    // An injected failure still closes, as a real one does on Linux.
    if (injected_failure()) {
        ::close(descriptor);
        return failure(IoError::failed);
    }
    if (::close(descriptor) != 0) return failure(IoError::failed);
    return {};
}

std::vector<std::string> utf8_arguments(int argc, char* argv[]) { return {argv, argv + argc}; }

void use_binary_standard_streams() {}  // POSIX streams never translate

FileHandle open_for_reading(const std::string& path) {
    return FileHandle(system_call(-1, [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
}

FileHandle duplicate_standard_input() { return FileHandle(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)); }

FileHandle duplicate_standard_output() { return FileHandle(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)); }

bool standard_error_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<std::uint64_t> regular_file_size(const FileHandle& file) {
    struct stat info {};
    if (system_call(-1, [&] { return ::fstat(descriptor_of(file), &info); }) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

IoResult<std::size_t> read_some(const FileHandle& file, std::span<std::uint8_t> out) {
    for (;;) {
        const ssize_t count = system_call(
            ssize_t{-1}, [&] { return ::read(descriptor_of(file), out.data(), std::min(out.size(), max_transfer)); });
        if (count >= 0) return static_cast<std::size_t>(count);
        if (errno != EINTR) return failure(IoError::failed);
    }
}

IoResult<std::size_t> read_some_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return std::size_t{0};  // past any file's end
    for (;;) {
        const ssize_t count = system_call(ssize_t{-1}, [&] {
            return ::pread(descriptor_of(file), out.data(), std::min(out.size(), max_transfer),
                           static_cast<off_t>(offset));
        });
        if (count >= 0) return static_cast<std::size_t>(count);
        if (errno != EINTR) return failure(IoError::failed);
    }
}

IoResult<> write_all(const FileHandle& file, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t count = system_call(ssize_t{-1}, [&] {
            return ::write(descriptor_of(file), bytes.data(), std::min(bytes.size(), max_transfer));
        });
        if (count < 0) {
            if (errno == EINTR) continue;
            return failure(IoError::failed);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(count));
    }
    return {};
}

namespace {

// What an output path names, found before anything is created.
struct OutputTarget {
    bool exists = false;
    struct stat existing {};
    bool in_place = false;         // a device, FIFO or open descriptor: written where it is
    std::filesystem::path target;  // otherwise the regular file to replace, links followed
};

IoResult<OutputTarget> resolve_output(const std::string& path) {
    OutputTarget output;
    // Any failure but "no such file" refuses the output: guessing that the
    // target is absent could replace what is there.
    const int stat_result = system_call(-1, [&] { return ::stat(path.c_str(), &output.existing); });
    if (stat_result != 0 && errno != ENOENT) return failure(IoError::failed);
    output.exists = stat_result == 0;
    if (output.exists && S_ISDIR(output.existing.st_mode)) return failure(IoError::failed);

    std::optional<std::filesystem::path> resolved = follow_symlinks(path);
    output.in_place = !resolved || (output.exists && !S_ISREG(output.existing.st_mode));
    if (output.in_place) return output;
    output.target = std::move(*resolved);
    if (!output.target.has_filename()) return failure(IoError::failed);  // "" or a name ending in '/' names no file
    // Renaming would replace even a file we may not write; refuse it as
    // opening it for writing would have.
    if (output.exists && system_call(-1, [&] { return ::access(output.target.c_str(), W_OK); }) != 0) {
        return failure(IoError::failed);
    }
    return output;
}

// Devices, FIFOs and open descriptors cannot be replaced by renaming.
IoResult<PendingOutput> open_in_place(const std::string& path) {
    FileHandle file(system_call(-1, [&] { return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC); }));
    if (!file.is_open()) return failure(IoError::failed);
    return PendingOutput{std::move(file), {}, path};
}

// A hidden temporary beside the target, with the target's owner and mode,
// or the mode a new file would get.
IoResult<PendingOutput> create_temporary(const OutputTarget& output) {
    const std::filesystem::path& target = output.target;
    const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
    std::string hidden_name = ".";
    hidden_name += target.filename().string();
    hidden_name += ".XXXXXX";
    // Every string is made before the temporary file, so that running out
    // of memory cannot leave the file behind with no one to remove it.
    std::string temporary = (directory / hidden_name).string();
    std::string target_path = target.string();
    FileHandle file(system_call(-1, [&] { return ::mkstemp(temporary.data()); }));
    if (!file.is_open()) return failure(IoError::failed);
    ::fcntl(descriptor_of(file), F_SETFD, FD_CLOEXEC);
    PendingOutput pending{std::move(file), std::move(temporary), std::move(target_path)};

    if (output.exists) {
        // Best effort: only the owner or root may hand a file to its old owner.
        [[maybe_unused]] const int ignored =
            ::fchown(descriptor_of(pending.file), output.existing.st_uid, output.existing.st_gid);
    }
    const mode_t mode = output.exists ? (output.existing.st_mode & 07777) : creation_mode();
    if (system_call(-1, [&] { return ::fchmod(descriptor_of(pending.file), mode); }) != 0) {
        remove_file(pending.temporary_path);
        return failure(IoError::failed);
    }
    return pending;
}

}  // namespace

IoResult<PendingOutput> begin_output(const std::string& path) {
    const IoResult<OutputTarget> output = resolve_output(path);
    if (!output) return failure(output.error());
    return output->in_place ? open_in_place(path) : create_temporary(*output);
}

IoResult<> commit_output(const PendingOutput& output) {
    if (system_call(-1, [&] { return ::rename(output.temporary_path.c_str(), output.target_path.c_str()); }) != 0) {
        return failure(IoError::failed);
    }
    return {};
}

void remove_file(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace sys::platform
