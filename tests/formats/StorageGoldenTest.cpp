// Every format written from points as the listener makes them, byte for byte against files
// written before the point record stored its device values in single precision: the record's
// storage must not change a single byte of any saved file.
//
// SENTOVA_WRITE_GOLDEN=1 writes the reference files instead of comparing (only when the writers
// are meant to change).
#include "Formats.h"
#include "Lzf.h"
#include "ObservationPoint.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Device values that have passed through a float, as the listener once handed them over: the
// reference files were written from these, and the writers must go on writing them byte for byte.
struct Observation {
    double azimuth;
    double elevation;
    double range;
    std::uint64_t timestamp;
    double amplitude;
    double reflectance;
    double pulse_shape_deviation;
};

std::deque<DataPoint> streamedPoints(LIDAR_TYPE mode, bool highSpeed) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
    std::uniform_int_distribution<int> range(0, 65535);
    std::uniform_int_distribution<int> amplitude(0, 65535);
    std::uniform_int_distribution<int> signedValue(-32768, 32767);
    std::uniform_int_distribution<std::uint32_t> stamp(0, 0xFFFFFFFFu);
    std::deque<DataPoint> points;
    for (int i = 0; i < 300; ++i) {
        Observation o{angle(rng),
                      angle(rng) / 2.0f,
                      static_cast<float>(range(rng)) * (i % 7 == 0 ? 1.25f : 1.0f),
                      static_cast<std::uint64_t>(static_cast<float>(stamp(rng))),
                      static_cast<float>(amplitude(rng)),
                      static_cast<float>(signedValue(rng)),
                      static_cast<float>(signedValue(rng))};
        if (i == 0) {
            o = {-180.0, -90.0, 0.0, 0, 0.0, -32768.0, -32768.0};
        } else if (i == 1) {
            // The largest device values; the timestamp as a float rounds it to 2^32.
            o = {179.99998474121094,
                 90.0,
                 65535.0,
                 static_cast<std::uint64_t>(static_cast<float>(4294967295u)),
                 65535.0,
                 32767.0,
                 32767.0};
        } else if (i == 2) {
            o = {0.000011920928955078125, -0.5, 16777215.0, 16777215, 1.0, 0.0, 1.0};
        }
        points.push_back(formats::toDataPoint(o, mode, highSpeed));
    }
    return points;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A binary_compressed file with its body unpacked: the header, then the columns; empty when the
// body is damaged.
std::string unpacked(const std::string& file) {
    const std::string data = "DATA binary_compressed\n";
    const std::size_t header = file.find(data);
    if (header == std::string::npos || file.size() < header + data.size() + 8) {
        return {};
    }
    const std::size_t body = header + data.size();
    std::uint32_t packed = 0;
    std::uint32_t plain = 0;
    std::memcpy(&packed, &file[body], 4);
    std::memcpy(&plain, &file[body + 4], 4);
    if (file.size() != body + 8 + packed) {
        return {};
    }
    std::string columns(plain, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(file.data() + body + 8);
    auto* out = reinterpret_cast<unsigned char*>(columns.data());
    if (formats::lzf::decompress(in, packed, out, plain) != plain) {
        return {};
    }
    return file.substr(0, body) + columns;
}

formats::FieldSelection everyField() {
    formats::FieldSelection all;
    all.az = all.el = all.range = true;
    return all;
}

struct Case {
    const char* name;
    LIDAR_TYPE mode;
    bool highSpeed;
    formats::Format format;
    bool lx20;
};

class StorageGolden : public ::testing::TestWithParam<Case> {};

TEST_P(StorageGolden, SavedFileIsUnchanged) {
    const Case& c = GetParam();
    const std::deque<DataPoint> points = streamedPoints(c.mode, c.highSpeed);
    formats::WriteOptions options;
    options.fields = formats::forModel(everyField(), c.mode);
    if (c.lx20) {
        options.lx20 = formats::Lx20Formats{};
        options.lx20->x = 1;
        options.lx20->intensity = 2;
    }
    const fs::path scratch =
        fs::temp_directory_path() / ("sentova-golden-" + std::to_string(::getpid()) + "-" + c.name);
    const formats::Outcome written = formats::write(scratch.string(), c.format, points, options);
    ASSERT_TRUE(written.ok) << written.error;
    const std::string bytes = contents(scratch);
    fs::remove(scratch);

    const fs::path golden = fs::path(SENTOVA_GOLDEN_DIR) / c.name;
    if (std::getenv("SENTOVA_WRITE_GOLDEN")) {
        std::ofstream(golden, std::ios::binary) << bytes;
        GTEST_SKIP() << "wrote " << golden;
    }
    std::string expected = contents(golden);
    ASSERT_FALSE(expected.empty()) << golden;
    if (c.format == formats::Format::Las) {
        // The header's creation day and year (bytes 90 to 93) are the day the file is written.
        ASSERT_GE(bytes.size(), 94u);
        ASSERT_GE(expected.size(), 94u);
        expected.replace(90, 4, bytes, 90, 4);
    }
    if (c.format == formats::Format::PcdBinaryCompressed) {
        // The compressor may pack the same columns differently: the header and the columns
        // unpacked are what must stay.
        const std::string ours = unpacked(bytes);
        EXPECT_FALSE(ours.empty());
        EXPECT_TRUE(ours == unpacked(expected)) << c.name << " differs from " << golden;
        return;
    }
    EXPECT_EQ(bytes.size(), expected.size());
    EXPECT_TRUE(bytes == expected) << c.name << " differs from " << golden;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, StorageGolden,
    ::testing::Values(
        Case{"lx30.pcd", LIDAR_LX30, false, formats::Format::PcdAscii, false},
        Case{"lx20.pcd", LIDAR_LX20, false, formats::Format::PcdAscii, false},
        Case{"lx20-variant.pcd", LIDAR_LX20, false, formats::Format::PcdAscii, true},
        Case{"lx20-high-speed.pcd", LIDAR_LX20, true, formats::Format::PcdAscii, false},
        Case{"generic.pcd", LIDAR_GENERIC, false, formats::Format::PcdAscii, false},
        Case{"lx30-binary.pcd", LIDAR_LX30, false, formats::Format::PcdBinary, false},
        Case{"lx30-compressed.pcd", LIDAR_LX30, false, formats::Format::PcdBinaryCompressed, false},
        Case{"lx30-binary.ply", LIDAR_LX30, false, formats::Format::PlyBinary, false},
        Case{"lx30-ascii.ply", LIDAR_LX30, false, formats::Format::PlyAscii, false},
        Case{"lx30.las", LIDAR_LX30, false, formats::Format::Las, false},
        Case{"lx30.csv", LIDAR_LX30, false, formats::Format::Csv, false}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return name;
    });

} // namespace
