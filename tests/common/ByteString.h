// Byte strings written out byte by byte in tests, e.g. Bytes({0x40, 0, 0, 0}).
#pragma once

#include <initializer_list>
#include <string>

namespace testing_support {

inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

} // namespace testing_support
