#pragma once
// Helpers shared by the tests: building BMP files byte by byte, scratch
// directories, and running the built programs as a user would.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qlx::test {

using Bytes = std::vector<std::uint8_t>;

// A 24-bit BMP with every field under the test's control. Pixels are given
// top row first as blue-green-red triples; the builder stores them in the
// order the header says, with row padding, a gap before the pixels and a
// longer information header as asked.
struct BmpRecipe {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool top_down = false;
    std::uint32_t info_size = 40;  // 12 writes the core header of old files
    std::uint32_t gap = 0;  // bytes between the headers and the pixels
    bool pad_rows = true;
    std::uint16_t bit_count = 24;
    std::uint32_t compression = 0;
    Bytes pixels{};  // width * height * 3, top row first; zeros if empty
};

Bytes make_bmp(const BmpRecipe& recipe);
// A picture whose pixels vary smoothly and repeat no pattern across rows.
Bytes gradient_pixels(int width, int height);

void put_le32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void put_le16(Bytes& bytes, std::size_t offset, std::uint16_t value);

Bytes read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const Bytes& bytes);

// The project's own test files, copied in so that a clone tests on its own.
std::filesystem::path data_path(const std::string& name);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct RunResult {
    int status = -1;  // exit status, or -1 if the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with the given arguments (UTF-8) and captures both streams.
RunResult run_program(const std::string& program, const std::vector<std::string>& arguments);

// A path as the UTF-8 the programs take on every system.
std::string utf8(const std::filesystem::path& path);

}  // namespace qlx::test
