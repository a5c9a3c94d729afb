#pragma once
// Text helpers that both command-line front ends print with. Header-only
// and dependent on nothing but the standard library.

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

// Every name an enum of the library has, through its name function, from
// value 0 until it gives none: "a, b or c".
template <class Enum>
std::string library_names(const char* (*name_of)(Enum)) {
    std::string names;
    int count = 0;
    while (name_of(static_cast<Enum>(count)) != nullptr) ++count;
    for (int value = 0; value < count; ++value) {
        if (value > 0) names += value + 1 == count ? " or " : ", ";
        names += name_of(static_cast<Enum>(value));
    }
    return names;
}

// `text` broken at spaces into lines of at most `width` columns, each after
// the first indented by `indent` spaces.
inline std::string wrapped(std::string_view text, std::size_t indent, std::size_t width) {
    std::string lines;
    std::size_t column = indent;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        if (column > indent && column + 1 + word.size() > width) {
            lines += '\n';
            lines.append(indent, ' ');
            column = indent;
        } else if (column > indent) {
            lines += ' ';
            ++column;
        }
        lines += word;
        column += word.size();
        text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
    }
    return lines;
}

}  // namespace common
