#include "test_support.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace qlx::test {

void put_le32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put_le16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

Bytes make_bmp(const BmpRecipe& recipe) {
    const std::size_t width = static_cast<std::size_t>(recipe.width < 0 ? 0 : recipe.width);
    const std::size_t height = static_cast<std::size_t>(recipe.height);
    const std::size_t row_size = width * 3;
    const std::size_t stride = recipe.pad_rows ? (row_size + 3) / 4 * 4 : row_size;
    const std::size_t offset = 14 + recipe.info_size + recipe.gap;

    Bytes file(offset + stride * height, 0);
    file[0] = 'B';
    file[1] = 'M';
    put_le32(file, 2, static_cast<std::uint32_t>(file.size()));
    put_le32(file, 10, static_cast<std::uint32_t>(offset));
    put_le32(file, 14, recipe.info_size);
    if (recipe.info_size == 12) {  // the core header: unsigned 16-bit sizes, always bottom-up
        put_le16(file, 18, static_cast<std::uint16_t>(recipe.width));
        put_le16(file, 20, static_cast<std::uint16_t>(recipe.height));
        put_le16(file, 22, 1);
        put_le16(file, 24, recipe.bit_count);
    } else {
        put_le32(file, 18, static_cast<std::uint32_t>(recipe.width));
        put_le32(file, 22, static_cast<std::uint32_t>(recipe.top_down ? -recipe.height : recipe.height));
        put_le16(file, 26, 1);
        put_le16(file, 28, recipe.bit_count);
        put_le32(file, 30, recipe.compression);
    }
    for (std::size_t row = 0; row < height && !recipe.pixels.empty(); ++row) {
        const std::size_t stored_row = recipe.top_down ? row : height - 1 - row;
        std::copy_n(recipe.pixels.begin() + static_cast<std::ptrdiff_t>(row * row_size), row_size,
                    file.begin() + static_cast<std::ptrdiff_t>(offset + stored_row * stride));
    }
    return file;
}

Bytes gradient_pixels(int width, int height) {
    Bytes pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(static_cast<std::uint8_t>(x * 7 + y));
            pixels.push_back(static_cast<std::uint8_t>(y * 13));
            pixels.push_back(static_cast<std::uint8_t>(x * 3 + y * 5));
        }
    }
    return pixels;
}

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::filesystem::path data_path(const std::string& name) { return std::filesystem::path(PAL_TEST_DATA_DIR) / name; }

TempDir::TempDir() {
    // A random name, created only if new: no other run can share it.
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() / ("paltest." + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

#ifdef _WIN32

namespace {

std::wstring wide(const std::string& utf8) { return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring(); }

// Quotes one argument so that the program's runtime splits it back out
// unchanged: backslashes double only before a quote.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

HANDLE inheritable(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& arguments) {
    TempDir streams;
    std::wstring command_line = quoted(wide(program));
    for (const std::string& argument : arguments) command_line += L" " + quoted(wide(argument));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = inheritable(streams / "out", GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = inheritable(streams / "err", GENERIC_WRITE, CREATE_ALWAYS);
    PROCESS_INFORMATION process{};
    // Wine, under load, now and then fails to start a process at the first try.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) ::Sleep(100);
        started = ::CreateProcessW(wide(program).c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &process);
        error = started ? 0 : ::GetLastError();
    }
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) ::CloseHandle(handle);
    if (!started) throw std::runtime_error("cannot start " + program + ": error " + std::to_string(error));

    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    RunResult result;
    if (::GetExitCodeProcess(process.hProcess, &exit_code)) result.status = static_cast<int>(exit_code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    result.out = slurp(streams / "out");
    result.err = slurp(streams / "err");
    return result;
}

#else

RunResult run_program(const std::string& program, const std::vector<std::string>& arguments) {
    TempDir streams;
    const std::string out_path = (streams / "out").string();
    const std::string err_path = (streams / "err").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + program);

    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    RunResult result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

#endif

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace qlx::test
