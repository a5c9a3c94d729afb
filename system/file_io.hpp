#pragma once
// File input and output for the programs: reads at any offset or up to a
// limit, and outputs that replace their target only once every byte is written.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "buffer.hpp"
#include "io_result.hpp"
#include "platform.hpp"

namespace sys {

class InputFile {
public:
    static IoResult<InputFile> open(const std::string& path);
    static IoResult<InputFile> standard_input();

    // The size of a regular file; none for a pipe, a terminal or a device,
    // which are read as streams.
    std::optional<std::uint64_t> regular_size() const;
    // Fills `out` from `offset` on; fails on an error or at the end of the file.
    IoResult<> read_at(std::uint64_t offset, std::span<std::uint8_t> out);
    // The whole file, sized once from the file system where it can tell.
    IoResult<Buffer> read_all();
    // The first `limit` bytes, or all there are if the file is shorter.
    IoResult<Buffer> read_up_to(std::size_t limit);

private:
    explicit InputFile(platform::FileHandle file) : file_(std::move(file)) {}
    platform::FileHandle file_;
};

// Replaces a file atomically: the bytes go to a temporary file beside the
// target, which is renamed over it only after every byte was written. If the
// output is dropped before commit(), the temporary goes and the target stays
// as it was. The target keeps its permission bits and owner, a symbolic link
// is written through, and a target that is not a regular file (a FIFO, a
// terminal, /dev/null, NUL on Windows) is written directly.
class OutputFile {
public:
    // Fails when the output cannot be created: a missing directory, a
    // directory in its place, or no permission to write it or its directory.
    static IoResult<OutputFile> open(const std::string& path);
    // Standard output, written as it is: it cannot be replaced.
    static IoResult<OutputFile> standard_output();

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    ~OutputFile();

    // Fails once any write has failed; later writes are skipped.
    IoResult<> write(std::span<const std::uint8_t> bytes);
    // Closes the output and puts it in place.
    IoResult<> commit();

private:
    explicit OutputFile(platform::PendingOutput pending) : pending_(std::move(pending)) {}
    void discard();

    platform::PendingOutput pending_;  // its temporary path is cleared once committed
    bool failed_ = false;
};

// Whether two names reach one file, through links or other spellings; false
// when either is missing.
bool same_file(const std::string& first, const std::string& second);

// Makes a directory and those above it that are missing; fails when the
// name is taken by something that is not a directory.
IoResult<> make_directories(const std::string& path);

}  // namespace sys
