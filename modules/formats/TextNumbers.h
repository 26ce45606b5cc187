#pragma once

// Numbers in the text formats' rows: splitting a row into values and reading each exactly.
// Internal to the formats module.

#include <charconv>
#include <cstddef>
#include <string_view>

namespace formats {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

inline std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// A whole value as a number: decimal or scientific notation, "nan" and "inf" included, with
// nothing else but blanks around it.
inline bool parseNumber(std::string_view text, double& value) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// The next blank-separated word of a row, or an empty view at its end.
inline std::string_view nextWord(std::string_view& row) {
    std::size_t i = 0;
    while (i < row.size() && isBlank(row[i])) {
        ++i;
    }
    std::size_t j = i;
    while (j < row.size() && !isBlank(row[j])) {
        ++j;
    }
    const std::string_view word = row.substr(i, j - i);
    row.remove_prefix(j);
    return word;
}

} // namespace formats
