#pragma once

// Typed values in the binary formats' records, and the plan by which a reader moves them into
// point records: per chunk, one pass over the records, each value loaded by its type and stored
// into its column, with no call per value. Internal to the formats module.

#include "DataPoint.h"
#include "Fields.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace formats {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the binary formats are read in the machine's byte order");

enum class Scalar : std::uint8_t { Int8, Uint8, Int16, Uint16, Int32, Uint32, Float32, Float64 };

inline std::size_t scalarSize(Scalar s) {
    switch (s) {
    case Scalar::Int8:
    case Scalar::Uint8:
        return 1;
    case Scalar::Int16:
    case Scalar::Uint16:
        return 2;
    case Scalar::Int32:
    case Scalar::Uint32:
    case Scalar::Float32:
        return 4;
    case Scalar::Float64:
        return 8;
    }
    return 0;
}

template <class T> T loadAs(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A little-endian value as a double: exact for every type but 64-bit ones.
inline double loadScalar(const unsigned char* p, Scalar s) {
    switch (s) {
    case Scalar::Int8:
        return loadAs<std::int8_t>(p);
    case Scalar::Uint8:
        return loadAs<std::uint8_t>(p);
    case Scalar::Int16:
        return loadAs<std::int16_t>(p);
    case Scalar::Uint16:
        return loadAs<std::uint16_t>(p);
    case Scalar::Int32:
        return loadAs<std::int32_t>(p);
    case Scalar::Uint32:
        return loadAs<std::uint32_t>(p);
    case Scalar::Float32:
        return loadAs<float>(p);
    case Scalar::Float64:
        return loadAs<double>(p);
    }
    return 0.0;
}

// Where one column's values lie: the value of record i at offset + i * stride.
struct ColumnSource {
    std::size_t offset = 0;
    std::size_t stride = 0;
    Scalar type = Scalar::Float32;
    Field field = Field::X;
};

// Records first .. first + n - 1 of data into out[0 .. n - 1], which start as zero points.
inline void decodeColumns(const unsigned char* data, std::size_t first, std::size_t n,
                          const std::vector<ColumnSource>& plan, DataPoint* out) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t record = first + i;
        for (const ColumnSource& c : plan) {
            setFieldValue(out[i], c.field, loadScalar(data + c.offset + record * c.stride, c.type));
        }
    }
}

} // namespace formats
