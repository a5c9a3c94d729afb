#pragma once
// A command line from a fuzzer's bytes: the program's name, then the input
// split at its zero bytes (none at all for an empty input).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> split_arguments(const char* program, const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments{program};
    const char* text = reinterpret_cast<const char*>(data);
    for (std::size_t start = 0; start <= size;) {
        const std::size_t end = static_cast<std::size_t>(std::find(text + start, text + size, '\0') - text);
        arguments.emplace_back(text + start, end - start);
        start = end + 1;
    }
    if (size == 0) arguments.pop_back();
    return arguments;
}
