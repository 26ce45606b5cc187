#pragma once

// The header of a PCD file: checked so that it can be read one way only and cannot make the
// reader ask for more memory than the file could fill, then read into the fields' types and
// places. Pure functions on the stream: internal to the formats module.

#include "Scalars.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace formats {

struct PcdField {
    std::string name;
    Scalar type = Scalar::Float32;
    std::size_t size = 4;
    std::size_t count = 1;
    std::size_t offset = 0; // in a binary point
};

struct PcdLayout {
    std::vector<PcdField> fields;
    std::uint64_t points = 0;
    std::size_t pointStep = 0;
    std::string data; // ascii, binary or binary_compressed
    std::uint64_t dataStart = 0;
};

// False with the reason when the header is not one that can be read one way only, or declares
// more points than the file holds.
bool declaredSizeFits(std::istream& in, std::string& error);

// After declaredSizeFits, from the start of the file: the fields, their types and places, the
// number of points and where the data begins. FIELDS, SIZE and TYPE must be there, with an
// entry for every field.
bool readLayout(std::istream& in, PcdLayout& layout, std::string& error);

} // namespace formats
