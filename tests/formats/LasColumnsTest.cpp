// LAS records column by column: files from elsewhere (point format 6, extra bytes of several
// types, scaled, one column described twice) read as the record's values say, and coordinates
// on the rounding boundary written as LAS's integers hold them.
#include "Formats.h"
#include "PointStream.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

using namespace formats;
using testing_support::readAll;
using testing_support::writeBytes;
namespace fs = std::filesystem;

namespace {

template <class T> void put(std::string& bytes, std::size_t at, T v) {
    std::memcpy(&bytes[at], &v, sizeof v);
}

template <class T> T get(const std::string& bytes, std::size_t at) {
    T v;
    std::memcpy(&v, &bytes[at], sizeof v);
    return v;
}

std::string descriptor(std::uint8_t type, std::uint8_t options, const char* name, double scale,
                       double offset) {
    std::string d(192, '\0');
    d[2] = static_cast<char>(type);
    d[3] = static_cast<char>(options);
    std::memcpy(&d[4], name, std::strlen(name));
    put(d, 112, scale);
    put(d, 136, offset);
    return d;
}

class LasColumns : public ::testing::Test {
protected:
    testing_support::ScratchDir scratch{"las_columns_test"};
    const fs::path dir = scratch.path();
};

} // namespace

// Point format 6 (its GPS time at byte 22), and after its 30 bytes: a plain byte of reflectance,
// a 64-bit deviation and a scaled and shifted 16-bit reflectance, which as the later of the two
// is the one read.
TEST_F(LasColumns, PointFormatSixWithExtraBytesOfEveryKind) {
    const std::string extras = descriptor(1, 0, "reflectance", 1, 0) +
                               descriptor(7, 0, "pulse shape deviation", 1, 0) +
                               descriptor(4, 0x18, "reflectance", 0.5, 10);
    const std::size_t record = 30 + 1 + 8 + 2;
    const std::size_t points = 9000; // past one chunk
    const std::size_t first = 375 + 54 + extras.size();
    std::string las(first + points * record, '\0');
    std::memcpy(&las[0], "LASF", 4);
    las[24] = 1;
    las[25] = 4;
    put<std::uint16_t>(las, 94, 375);
    put<std::uint32_t>(las, 96, static_cast<std::uint32_t>(first));
    put<std::uint32_t>(las, 100, 1);
    las[104] = 6;
    put<std::uint16_t>(las, 105, static_cast<std::uint16_t>(record));
    const double scale[3] = {0.01, 0.001, 0.1};
    const double offset[3] = {1000, -20, 0.5};
    for (int k = 0; k < 3; ++k) {
        put(las, 131 + 8 * k, scale[k]);
        put(las, 155 + 8 * k, offset[k]);
    }
    put<std::uint64_t>(las, 247, points);
    std::memcpy(&las[375 + 2], "LASF_Spec", 9);
    put<std::uint16_t>(las, 375 + 18, 4);
    put<std::uint16_t>(las, 375 + 20, static_cast<std::uint16_t>(extras.size()));
    las.replace(375 + 54, extras.size(), extras);
    for (std::size_t i = 0; i < points; ++i) {
        const std::size_t r = first + i * record;
        const std::int32_t v = static_cast<std::int32_t>(i) - 4000;
        put(las, r, v);
        put(las, r + 4, -v);
        put(las, r + 8, 3 * v);
        put<std::uint16_t>(las, r + 12, static_cast<std::uint16_t>(i * 7));
        put(las, r + 22, 1000.0 + static_cast<double>(i) + 0.5);
        las[r + 30] = 77;
        put<std::uint64_t>(las, r + 31, i * 3);
        put<std::int16_t>(las, r + 39, static_cast<std::int16_t>(-static_cast<int>(i % 500)));
    }
    const fs::path file = dir / "six.las";
    writeBytes(file, las);

    const ReadResult deque = read(file.string());
    const ArrayReadResult array = readArray(file.string());
    ASSERT_TRUE(deque.ok) << deque.error;
    ASSERT_TRUE(array.ok) << array.error;
    EXPECT_TRUE(array.fields.reflectance);
    EXPECT_TRUE(array.fields.pulseShapeDeviation);
    EXPECT_TRUE(array.fields.timestamp);
    ASSERT_EQ(array.points.size(), points);
    for (std::size_t i = 0; i < points; ++i) {
        const DataPoint& p = array.points[i];
        const double v = static_cast<double>(static_cast<std::int32_t>(i) - 4000);
        ASSERT_EQ(p.x, v * scale[0] + offset[0]) << i;
        ASSERT_EQ(p.y, -v * scale[1] + offset[1]) << i;
        ASSERT_EQ(p.z, 3 * v * scale[2] + offset[2]) << i;
        ASSERT_EQ(p.intensity, static_cast<float>(static_cast<std::uint16_t>(i * 7))) << i;
        ASSERT_EQ(p.timestamp, 1001 + i) << i; // halves round up
        ASSERT_EQ(p.reflectance, static_cast<float>(-static_cast<double>(i % 500) * 0.5 + 10)) << i;
        ASSERT_EQ(p.pulseShapeDeviation, static_cast<float>(i * 3)) << i;
        ASSERT_EQ(std::memcmp(&p, &deque.points[i], sizeof p), 0) << i;
    }

    // Only the columns asked for are filled: a conversion to x, y, z reads no others.
    FieldSelection xyz = noFields();
    xyz.x = xyz.y = xyz.z = true;
    std::string error;
    const auto reader = openReader(file.string(), std::nullopt, xyz, error);
    ASSERT_TRUE(reader) << error;
    std::vector<DataPoint> chunk;
    ASSERT_TRUE(reader->next(chunk));
    EXPECT_EQ(chunk[5].x, array.points[5].x);
    EXPECT_EQ(chunk[5].intensity, 0.0f);
    EXPECT_EQ(chunk[5].timestamp, 0u);
    EXPECT_EQ(chunk[5].reflectance, 0.0f);
}

// Coordinates half a step from two integers are rounded away from zero, and every coordinate
// comes back within half a step, whatever its sign.
TEST_F(LasColumns, CoordinatesOnTheRoundingBoundary) {
    PointArray points(4);
    // Bounds 0 to 2: offset 1, scale 1e-6; 1.0000005 lies half a step above the offset.
    points[0].x = 0.0;
    points[1].x = 2.0;
    points[2].x = 1.0 + 0.5e-6;
    points[3].x = 1.0 - 0.5e-6;
    const fs::path file = dir / "half.las";
    ASSERT_TRUE(write(file.string(), Format::Las, points.data(), points.size()).ok);
    const std::string las = readAll(file);
    ASSERT_EQ(get<double>(las, 131), 1e-6);
    ASSERT_EQ(get<double>(las, 155), 1.0);
    const std::size_t first = get<std::uint32_t>(las, 96);
    const std::size_t record = get<std::uint16_t>(las, 105);
    auto steps = [&](std::size_t i) {
        const double v = (points[i].x - 1.0) / 1e-6;
        return std::make_pair(get<std::int32_t>(las, first + i * record), v);
    };
    EXPECT_EQ(steps(0).first, -1000000);
    EXPECT_EQ(steps(1).first, 1000000);
    for (std::size_t i = 2; i < 4; ++i) {
        const auto [stored, exact] = steps(i);
        EXPECT_LE(std::abs(stored - exact), 0.5) << i;
        EXPECT_EQ(stored, static_cast<std::int32_t>(std::llround(exact))) << i;
    }
}

// The bounds of points in one block are found a block at a time: a coordinate that is not a
// number deep in a later block is still named by its point, and the bounds of the others are
// those the deque-based write finds.
TEST_F(LasColumns, BoundsOfBlocksOfPoints) {
    PointArray points(3000);
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].x = static_cast<double>(i) * 0.25 - 100.0;
        points[i].y = i == 1700 ? 1e6 : 1.0;
        points[i].z = -static_cast<double>(i % 77);
    }
    const fs::path array = dir / "array.las";
    const fs::path deque = dir / "deque.las";
    ASSERT_TRUE(write(array.string(), Format::Las, points.data(), points.size()).ok);
    ASSERT_TRUE(write(deque.string(), Format::Las, points.toDeque()).ok);
    const std::string a = readAll(array);
    const std::string d = readAll(deque);
    EXPECT_EQ(a.substr(131, 247 - 131), d.substr(131, 247 - 131)); // scales, offsets, bounds
    EXPECT_EQ(get<double>(a, 179), points[2999].x);
    EXPECT_EQ(get<double>(a, 195), 1e6);
    EXPECT_EQ(get<double>(a, 219), -76.0);

    points[2500].z = -std::numeric_limits<double>::infinity();
    const Outcome refused = write(array.string(), Format::Las, points.data(), points.size());
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("point 2501 "), std::string::npos) << refused.error;
    points[2500].z = 0.0;
    points[10].x = std::nan("");
    const Outcome notNumber = write(array.string(), Format::Las, points.data(), points.size());
    EXPECT_FALSE(notNumber.ok);
    EXPECT_NE(notNumber.error.find("point 11 "), std::string::npos) << notNumber.error;
}

// Records at the edges of what they hold, in pairs and alone (an odd count): coordinates at the
// scale's limits on every axis and of either sign, amplitudes past LAS's 16 bits, below zero and
// fractional, and the largest timestamps; each record as computed value by value here.
TEST_F(LasColumns, RecordsAtTheEdgesOfTheirRanges) {
    PointArray points(7);
    // Bounds -2000 to 2000 on every axis: offset 0, and 2e9 steps of a millionth reach them.
    const double xs[] = {-2000.0, 2000.0, -1999.9999995, 1999.9999995, -0.0000005, 0.0, 1e-7};
    const float amplitudes[] = {65535.0f, 70000.0f, -1.0f, 0.0f, 12.9f, 65534.99f, 1.0f};
    const std::uint64_t times[] = {0,
                                   1,
                                   std::numeric_limits<std::uint64_t>::max(),
                                   std::uint64_t{1} << 63,
                                   (std::uint64_t{1} << 53) + 1,
                                   123456789012345,
                                   7};
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].x = xs[i];
        points[i].y = -xs[(i + 3) % 7];
        points[i].z = xs[(i + 5) % 7];
        points[i].intensity = amplitudes[i];
        points[i].timestamp = times[i];
    }
    const fs::path file = dir / "edges.las";
    ASSERT_TRUE(write(file.string(), Format::Las, points.data(), points.size()).ok);
    const std::string las = readAll(file);
    const std::size_t first = get<std::uint32_t>(las, 96);
    const std::size_t record = get<std::uint16_t>(las, 105);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(get<double>(las, 131 + 8 * k), 1e-6) << k;
        ASSERT_EQ(get<double>(las, 155 + 8 * k), 0.0) << k;
    }
    ASSERT_EQ(las.size(), first + 7 * record);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::size_t at = first + i * record;
        const double v[3] = {points[i].x, points[i].y, points[i].z};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(get<std::int32_t>(las, at + 4 * k), std::llround(v[k] / 1e-6))
                << "point " << i << " axis " << k;
        }
        const float a = amplitudes[i];
        const std::uint16_t intensity = a <= 0.0f ? 0 : a >= 65535.0f ? 65535 : std::uint16_t(a);
        EXPECT_EQ(get<std::uint16_t>(las, at + 12), intensity) << i;
        EXPECT_EQ(las.substr(at + 14, 6), std::string("\x09\0\0\0\0\0", 6)) << i;
        EXPECT_EQ(get<double>(las, at + 20), static_cast<double>(times[i])) << i;
    }

    // A coordinate that is not a number is refused, in a pair or alone.
    for (std::size_t i : {std::size_t{1}, std::size_t{6}}) {
        PointArray bad = points.copy();
        bad[i].y = std::nan("");
        const Outcome refused = write(file.string(), Format::Las, bad.data(), bad.size());
        EXPECT_FALSE(refused.ok);
        EXPECT_NE(refused.error.find("point " + std::to_string(i + 1) + " "), std::string::npos)
            << refused.error;
    }
}
