#pragma once

// Numbers in the text formats' rows: splitting a row into values and reading each exactly.
// Internal to the formats module.

#include <charconv>
#include <cstddef>
#include <cstdint>
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

// The values our writers make (fixed notation, six decimals) and most others: an optional minus,
// at most 15 digits and at most one decimal point. Then the digits as an integer and the power of
// ten are both exact doubles, and their one division rounds once: the correctly rounded value,
// the same as from_chars gives, several times sooner. False for anything else.
inline bool parseShortDecimal(std::string_view text, double& value) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::size_t i = 0;
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        ++i;
    }
    std::uint64_t digits = 0;
    int count = 0;
    int decimals = -1; // digits after the point; -1 before it
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            ++count;
            if (decimals >= 0) {
                ++decimals;
            }
        } else if (c == '.' && decimals < 0) {
            decimals = 0;
        } else {
            return false;
        }
        if (count > 15) {
            return false;
        }
    }
    if (count == 0) {
        return false;
    }
    const double magnitude = static_cast<double>(digits) / kPowers[decimals < 0 ? 0 : decimals];
    value = negative ? -magnitude : magnitude;
    return true;
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
    if (parseShortDecimal(text, value)) {
        return true;
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
