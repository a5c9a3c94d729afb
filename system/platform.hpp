#pragma once
// Everything that touches the operating system, behind one small interface.
// platform_posix.cpp implements it for Linux, the BSDs and macOS,
// platform_windows.cpp for Windows; CMake builds the one for the target.
// Nothing else in the project calls the system.
//
// File names are UTF-8 strings everywhere in the programs. The Windows side
// turns them into UTF-16 at each call, so any name the file system holds
// reaches it unchanged.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "io_result.hpp"

namespace sys::platform {

// An open file of the operating system, closed when it goes.
class FileHandle {
public:
    // A descriptor on POSIX, the bits of a HANDLE on Windows.
    using Native = std::intptr_t;
    static constexpr Native invalid = -1;  // also INVALID_HANDLE_VALUE's bits

    FileHandle() = default;
    explicit FileHandle(Native native) : native_(native) {}
    FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, invalid)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            static_cast<void>(close());  // as in the destructor
            native_ = std::exchange(other.native_, invalid);
        }
        return *this;
    }
    // A failure to close here has no one left to hear of it; outputs are
    // closed and checked before they are committed.
    ~FileHandle() { static_cast<void>(close()); }

    bool is_open() const { return native_ != invalid; }
    Native native() const { return native_; }
    // False when closing reports an error; some file systems report failed
    // delayed writes only here.
    IoResult<> close();

private:
    Native native_ = invalid;
};

// The program's arguments as UTF-8, the program name first. On Windows they
// come from the wide command line, since `argv` holds them in a code page
// that cannot spell every name.
std::vector<std::string> utf8_arguments(int argc, char* argv[]);

// Messages are the same bytes everywhere: no line-end translation.
void use_binary_standard_streams();

// Opens a file for reading its bytes as they are. On Windows it is shared for
// writing and deletion, so that an output may replace it while it is open.
FileHandle open_for_reading(const std::string& path);
// The 64-bit size of a regular file; empty for a pipe, a terminal, a device
// or a directory.
std::optional<std::uint64_t> regular_file_size(const FileHandle& file);
// A handle of its own on standard input or output, for the name "-".
FileHandle duplicate_standard_input();
FileHandle duplicate_standard_output();

// Whether standard error is a terminal, where a progress line may be redrawn.
bool standard_error_is_terminal();

// Reads at the current position (or at `offset`); gives the count, 0 at
// the end of the file. Interrupted calls are retried.
IoResult<std::size_t> read_some(const FileHandle& file, std::span<std::uint8_t> out);
IoResult<std::size_t> read_some_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> out);
// Writes every byte or fails.
IoResult<> write_all(const FileHandle& file, std::span<const std::uint8_t> bytes);

// An output under way. Normally a new temporary file beside the target,
// which commit_output() later puts in the target's place. A device or stream
// (/dev/null, /dev/stdout, a FIFO; NUL or CON on Windows) cannot be replaced
// and is written in place: then `temporary_path` is empty.
struct PendingOutput {
    FileHandle file;
    std::string temporary_path;
    std::string target_path;  // symbolic links resolved, so they survive
};
// Fails when the output cannot be created: a missing directory, a directory
// or a read-only file in its place, or no right to write beside it. An
// existing target's permissions (owner and mode on POSIX) go to the
// temporary, so that the replaced file keeps them.
IoResult<PendingOutput> begin_output(const std::string& path);
// Puts the closed temporary in place of the target, replacing an existing
// file in one step.
IoResult<> commit_output(const PendingOutput& output);
void remove_file(const std::string& path);

}  // namespace sys::platform
