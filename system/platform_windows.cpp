// The platform layer for Windows, on the wide-character API so that every
// file name reaches the file system as it is.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cwctype>
#include <string_view>
#include <utility>

#include "platform.hpp"

namespace sys::platform {
namespace {

// ReadFile and WriteFile count in 32 bits.
constexpr std::size_t max_transfer = std::size_t{1} << 30;
// Tries at a fresh temporary name before giving up.
constexpr int temporary_name_attempts = 100;

HANDLE handle_of(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }
FileHandle adopt(HANDLE handle) { return FileHandle(reinterpret_cast<FileHandle::Native>(handle)); }

// UTF-8 to UTF-16 and back. Windows names may hold unpaired surrogates,
// which pass through as their three-byte forms (as WTF-8 does) instead of
// being replaced, so a name read from the command line still opens its file.
std::wstring to_wide(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        if (byte >= 0x80 && (byte < 0xC0 || i + length > text.size())) {
            wide.push_back(0xFFFD);  // not UTF-8: no name we produced
            ++i;
            continue;
        }
        char32_t code = length == 1 ? byte : byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            wide.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            wide.push_back(static_cast<wchar_t>(code));
        }
        i += length;
    }
    return wide;
}

std::string to_utf8(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t code = wide[i];
        const bool pair =
            code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000;
        if (pair) code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00);
        if (code < 0x80) {
            text.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            text.push_back(static_cast<char>(0xC0 | code >> 6));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | code >> 12));
            text.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | code >> 18));
            text.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return text;
}

// Where the last component of a path starts: after its last separator, or
// after the drive of a drive-relative name such as "C:name".
std::size_t file_name_start(std::wstring_view path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator != std::wstring_view::npos) return separator + 1;
    return path.size() >= 2 && path[1] == L':' ? 2 : 0;
}

// The reserved names that open a device in any directory and with any
// extension (NUL, nul.qlx, C:\dir\CON), and paths in the device namespace.
bool names_a_device(std::wstring_view path) {
    if (path.starts_with(L"\\\\.\\") || path.starts_with(L"//./")) return true;
    std::wstring_view name = path.substr(file_name_start(path));
    name = name.substr(0, std::min(name.find(L'.'), name.find(L':')));
    while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
    std::wstring upper(name);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    constexpr std::array<std::wstring_view, 6> fixed = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::find(fixed.begin(), fixed.end(), upper) != fixed.end()) return true;
    const bool numbered = upper.size() == 4 && (upper.starts_with(L"COM") || upper.starts_with(L"LPT"));
    return numbered && upper[3] >= L'1' && upper[3] <= L'9';
}

// The file an existing path finally names, through symbolic links and
// junctions, so that a link survives its target being replaced.
std::wstring final_path_of(const std::wstring& path) {
    const HANDLE handle =
        ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return path;  // a dangling link is replaced itself
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
    if (length >= final.size()) {
        final.resize(length);
        length = ::GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
    }
    ::CloseHandle(handle);
    if (length == 0 || length >= final.size()) return path;
    final.resize(length);
    return final;
}

// A new, empty file beside `target`, named after it, that nothing else has.
FileHandle create_temporary(const std::wstring& target, std::wstring& temporary) {
    const std::size_t name_start = file_name_start(target);
    static unsigned attempt_counter = 0;
    for (int attempt = 0; attempt < temporary_name_attempts; ++attempt) {
        const unsigned long long unique =
            static_cast<unsigned long long>(::GetCurrentProcessId()) << 32 ^ ::GetTickCount64() ^ ++attempt_counter;
        temporary = target.substr(0, name_start) + L"." + target.substr(name_start) + L"." + std::to_wstring(unique);
        const HANDLE handle =
            ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return adopt(handle);
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return {};
}

}  // namespace

IoResult<> FileHandle::close() {
    if (!is_open()) return {};
    if (::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(native_, invalid))) == 0) return failure(IoError::failed);
    return {};
}

std::vector<std::string> utf8_arguments(int argc, char* argv[]) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(to_utf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void use_binary_standard_streams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

FileHandle open_for_reading(const std::string& path) {
    // Backup semantics let a directory open too, so that it is refused as
    // unreadable, the same message as on POSIX.
    return adopt(::CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

namespace {
FileHandle duplicate_standard(DWORD which) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, ::GetStdHandle(which), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return FileHandle();
    }
    return adopt(copy);
}
}  // namespace

FileHandle duplicate_standard_input() { return duplicate_standard(STD_INPUT_HANDLE); }

FileHandle duplicate_standard_output() { return duplicate_standard(STD_OUTPUT_HANDLE); }

bool standard_error_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

std::optional<std::uint64_t> regular_file_size(const FileHandle& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle_of(file)) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle_of(file), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
}

IoResult<std::size_t> read_some(const FileHandle& file, std::span<std::uint8_t> out) {
    DWORD count = 0;
    if (::ReadFile(handle_of(file), out.data(), static_cast<DWORD>(std::min(out.size(), max_transfer)), &count,
                   nullptr)) {
        return std::size_t{count};
    }
    if (::GetLastError() == ERROR_BROKEN_PIPE) return std::size_t{0};  // a pipe's writer has finished
    return failure(IoError::failed);
}

IoResult<std::size_t> read_some_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> out) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    if (::ReadFile(handle_of(file), out.data(), static_cast<DWORD>(std::min(out.size(), max_transfer)), &count, &at)) {
        return std::size_t{count};
    }
    if (::GetLastError() == ERROR_HANDLE_EOF) return std::size_t{0};
    return failure(IoError::failed);
}

IoResult<> write_all(const FileHandle& file, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        DWORD count = 0;
        if (!::WriteFile(handle_of(file), bytes.data(), static_cast<DWORD>(std::min(bytes.size(), max_transfer)),
                         &count, nullptr) ||
            count == 0) {
            return failure(IoError::failed);
        }
        bytes = bytes.subspan(count);
    }
    return {};
}

IoResult<PendingOutput> begin_output(const std::string& path) {
    const std::wstring wide = to_wide(path);
    if (names_a_device(wide)) {
        FileHandle device = adopt(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        // Newer Windows may take "nul.qlx" as a plain file name: only what
        // opens as a device is written in place, the rest as any other file.
        if (device.is_open() && ::GetFileType(handle_of(device)) != FILE_TYPE_DISK) {
            return PendingOutput{std::move(device), {}, path};
        }
    }
    if (file_name_start(wide) == wide.size())
        return failure(IoError::failed);  // "" or a name ending in '\' names no file

    const bool exists = ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::wstring target = exists ? final_path_of(wide) : wide;
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    // A read-only file is refused as opening it for writing would have been.
    if (exists && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return failure(IoError::failed);
    }
    std::wstring temporary;
    FileHandle file = create_temporary(target, temporary);
    if (!file.is_open()) return failure(IoError::failed);
    return PendingOutput{std::move(file), to_utf8(temporary), to_utf8(target)};
}

IoResult<> commit_output(const PendingOutput& output) {
    const std::wstring temporary = to_wide(output.temporary_path);
    const std::wstring target = to_wide(output.target_path);
    // ReplaceFileW keeps the replaced file's access control list, attributes
    // and creation time, as rename keeps owner and mode on POSIX. It needs an
    // existing target; otherwise, or where the volume cannot do it, a plain
    // replacing move.
    constexpr DWORD keep_going = REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS;
    if (::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, keep_going, nullptr, nullptr)) return {};
    if (::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return {};
    return failure(IoError::failed);
}

void remove_file(const std::string& path) { ::DeleteFileW(to_wide(path).c_str()); }

}  // namespace sys::platform
