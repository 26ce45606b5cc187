#pragma once

// Typed values in the binary formats' records, and the plans by which readers move them into
// point records and writers out of them: per chunk and column, one loop over the records, with
// no call or branch per value. Internal to the formats module.

#include "DataPoint.h"
#include "Fields.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace formats {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the binary formats are read in the machine's byte order");

enum class Scalar : std::uint8_t { Int8, Uint8, Int16, Uint16, Int32, Uint32, Float32, Float64 };

constexpr std::size_t scalarSize(Scalar s) {
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

// Where one column's values lie: the value of record i at offset + i * stride.
struct ColumnSource {
    std::size_t offset = 0;
    std::size_t stride = 0;
    Scalar type = Scalar::Float32;
    Field field = Field::X;
    // A coordinate stored as a 32-bit integer count of steps: value * scale + shift, in the
    // column's own loop rather than a pass of its own over the points.
    bool scaled = false;
    double scale = 1.0;
    double shift = 0.0;
};

namespace detail {

// One column of n records into one member of the points, the value's type and the member's
// known to the compiler: a tight loop per column and chunk.
template <class T, class Member>
void decodeInto(const unsigned char* at, std::size_t stride, std::size_t n, Member DataPoint::*m,
                DataPoint* out) {
    for (std::size_t i = 0; i < n; ++i, at += stride) {
        out[i].*m = static_cast<Member>(loadAs<T>(at));
    }
}

// The timestamp: whole values as they are (negative ones 0), real ones rounded as
// timestampFromReal does.
template <class T>
void decodeTime(const unsigned char* at, std::size_t stride, std::size_t n, DataPoint* out) {
    for (std::size_t i = 0; i < n; ++i, at += stride) {
        const T v = loadAs<T>(at);
        if constexpr (std::is_floating_point_v<T>) {
            out[i].timestamp = timestampFromReal(static_cast<double>(v));
        } else {
            out[i].timestamp = v > 0 ? static_cast<std::uint64_t>(v) : 0;
        }
    }
}

template <class T>
void decodeColumn(const unsigned char* at, std::size_t stride, std::size_t n, Field field,
                  DataPoint* out) {
    switch (field) {
    case Field::X:
        return decodeInto<T>(at, stride, n, &DataPoint::x, out);
    case Field::Y:
        return decodeInto<T>(at, stride, n, &DataPoint::y, out);
    case Field::Z:
        return decodeInto<T>(at, stride, n, &DataPoint::z, out);
    case Field::Azimuth:
        return decodeInto<T>(at, stride, n, &DataPoint::azimuth, out);
    case Field::Elevation:
        return decodeInto<T>(at, stride, n, &DataPoint::elevation, out);
    case Field::Range:
        return decodeInto<T>(at, stride, n, &DataPoint::range, out);
    case Field::Intensity:
        return decodeInto<T>(at, stride, n, &DataPoint::intensity, out);
    case Field::Reflectance:
        return decodeInto<T>(at, stride, n, &DataPoint::reflectance, out);
    case Field::PulseShapeDeviation:
        return decodeInto<T>(at, stride, n, &DataPoint::pulseShapeDeviation, out);
    case Field::Timestamp:
        return decodeTime<T>(at, stride, n, out);
    }
}

inline void decodeScaled(const unsigned char* at, std::size_t stride, std::size_t n,
                         const ColumnSource& c, DataPoint* out) {
    double DataPoint::*axis = c.field == Field::X   ? &DataPoint::x
                              : c.field == Field::Y ? &DataPoint::y
                                                    : &DataPoint::z;
    for (std::size_t i = 0; i < n; ++i, at += stride) {
        out[i].*axis = static_cast<double>(loadAs<std::int32_t>(at)) * c.scale + c.shift;
    }
}

// Whole points from a block in the nearest cache to their place. Past the caches when asked:
// stores of whole lines that do not read the lines first, for an array far larger than the
// caches, whose lines would otherwise be read from memory only to be overwritten.
inline void storePoints(DataPoint* to, const DataPoint* from, std::size_t n, bool pastCaches) {
    static_assert(std::is_trivially_copyable_v<DataPoint>);
    std::size_t bytes = n * sizeof(DataPoint);
#if defined(__SSE2__)
    if (pastCaches && reinterpret_cast<std::uintptr_t>(to) % 16 == 0) {
        const __m128i* s = reinterpret_cast<const __m128i*>(from);
        __m128i* d = reinterpret_cast<__m128i*>(to);
        for (std::size_t i = 0; i < bytes / 16; ++i) {
            _mm_stream_si128(d + i, _mm_load_si128(s + i));
        }
        std::memcpy(d + bytes / 16, s + bytes / 16, bytes % 16);
        return;
    }
#endif
    (void)pastCaches;
    std::memcpy(static_cast<void*>(to), from, bytes);
}

} // namespace detail

// Records first .. first + n - 1 of data into out[0 .. n - 1], every byte of those points
// written: the values are those setFieldValue stores, the fields without a column zero. The
// columns are moved a block of records at a time into points in the nearest cache, so that
// every column after the first finds them there, and the block is then stored whole: the
// points need no clearing first. pastCaches: out is a large array the caller does not read at
// once (see storePoints).
inline void decodeColumns(const unsigned char* data, std::size_t first, std::size_t n,
                          const std::vector<ColumnSource>& plan, DataPoint* out,
                          bool pastCaches = false) {
    // 3.5 kB of points: of 16 to 1024 the fastest for PCD and PLY files of seven columns into a
    // reused block (64 about 8% faster than 256, 1024 30% slower), as fast as 256 for LAS.
    constexpr std::size_t kBlock = 64;
    // The same fields are filled in every block: the others stay zero from here.
    alignas(64) DataPoint block[kBlock];
    for (std::size_t from = 0; from < n; from += kBlock) {
        const std::size_t count = n - from < kBlock ? n - from : kBlock;
        DataPoint* const to = block;
        for (const ColumnSource& c : plan) {
            const unsigned char* at = data + c.offset + (first + from) * c.stride;
            if (c.scaled) {
                detail::decodeScaled(at, c.stride, count, c, to);
                continue;
            }
            switch (c.type) {
            case Scalar::Int8:
                detail::decodeColumn<std::int8_t>(at, c.stride, count, c.field, to);
                break;
            case Scalar::Uint8:
                detail::decodeColumn<std::uint8_t>(at, c.stride, count, c.field, to);
                break;
            case Scalar::Int16:
                detail::decodeColumn<std::int16_t>(at, c.stride, count, c.field, to);
                break;
            case Scalar::Uint16:
                detail::decodeColumn<std::uint16_t>(at, c.stride, count, c.field, to);
                break;
            case Scalar::Int32:
                detail::decodeColumn<std::int32_t>(at, c.stride, count, c.field, to);
                break;
            case Scalar::Uint32:
                detail::decodeColumn<std::uint32_t>(at, c.stride, count, c.field, to);
                break;
            case Scalar::Float32:
                detail::decodeColumn<float>(at, c.stride, count, c.field, to);
                break;
            case Scalar::Float64:
                detail::decodeColumn<double>(at, c.stride, count, c.field, to);
                break;
            }
        }
        detail::storePoints(out + from, block, count, pastCaches);
    }
#if defined(__SSE2__)
    if (pastCaches) {
        _mm_sfence(); // the streamed stores ordered before whatever hands the points on
    }
#endif
}

namespace detail {

#if defined(__SSE2__)
// The cache lines of the points two blocks of kBlock ahead of those at points: the processor's
// own prefetch, on records of 56 bytes read column by column, left the encoder waiting on
// memory. An address past the points is only a hint, never read.
inline void prefetchAhead(const DataPoint* points, std::size_t count) {
    constexpr std::uintptr_t kAheadBytes = 128 * sizeof(DataPoint);
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(points) + kAheadBytes;
    for (std::uintptr_t at = from; at < from + count * sizeof(DataPoint); at += 64) {
        _mm_prefetch(reinterpret_cast<const char*>(at), _MM_HINT_T0);
    }
}
#endif

template <class Member>
void encodeFloats(const DataPoint* points, std::size_t n, Member DataPoint::*m, char* to,
                  std::size_t stride) {
    for (std::size_t i = 0; i < n; ++i, to += stride) {
        const float v = static_cast<float>(points[i].*m);
        std::memcpy(to, &v, 4);
    }
}

} // namespace detail

// One column of the points as the binary PCD and PLY files store it: an F4 float, the timestamp
// as a U4 kept within its range; the value of point i at to + i * stride.
inline void encodeColumn(const DataPoint* points, std::size_t n, Field field, char* to,
                         std::size_t stride) {
    switch (field) {
    case Field::X:
        return detail::encodeFloats(points, n, &DataPoint::x, to, stride);
    case Field::Y:
        return detail::encodeFloats(points, n, &DataPoint::y, to, stride);
    case Field::Z:
        return detail::encodeFloats(points, n, &DataPoint::z, to, stride);
    case Field::Azimuth:
        return detail::encodeFloats(points, n, &DataPoint::azimuth, to, stride);
    case Field::Elevation:
        return detail::encodeFloats(points, n, &DataPoint::elevation, to, stride);
    case Field::Range:
        return detail::encodeFloats(points, n, &DataPoint::range, to, stride);
    case Field::Intensity:
        return detail::encodeFloats(points, n, &DataPoint::intensity, to, stride);
    case Field::Reflectance:
        return detail::encodeFloats(points, n, &DataPoint::reflectance, to, stride);
    case Field::PulseShapeDeviation:
        return detail::encodeFloats(points, n, &DataPoint::pulseShapeDeviation, to, stride);
    case Field::Timestamp:
        for (std::size_t i = 0; i < n; ++i, to += stride) {
            const std::uint32_t v = timestampU4(points[i].timestamp);
            std::memcpy(to, &v, 4);
        }
        return;
    }
}

// Records of F4 and U4 values, one per field in order, for points[0 .. n - 1] at to, a block of
// points at a time as decodeColumns reads them.
inline void encodeRecords(const DataPoint* points, std::size_t n, const std::vector<Field>& fields,
                          char* to) {
    constexpr std::size_t kBlock = 64; // as decodeColumns: measured about 8% faster than 256
    const std::size_t record = 4 * fields.size();
    for (std::size_t from = 0; from < n; from += kBlock) {
        const std::size_t count = n - from < kBlock ? n - from : kBlock;
#if defined(__SSE2__)
        detail::prefetchAhead(points + from, count);
#endif
        for (std::size_t c = 0; c < fields.size(); ++c) {
            encodeColumn(points + from, count, fields[c], to + from * record + 4 * c, record);
        }
    }
}

} // namespace formats
