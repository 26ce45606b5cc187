// Files read and written chunk by chunk: point counts on either side of a chunk's size in every
// format, conversions that must give the bytes the whole-file path gives, and readers that fill
// only the columns asked for.
#include "Formats.h"
#include "ObservationPoint.h"
#include "PointStream.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

using namespace formats;
using testing_support::readAll;
using testing_support::writeBytes;
namespace fs = std::filesystem;

namespace {

// Every point told apart by its timestamp, which every format keeps exactly.
std::deque<DataPoint> numberedPoints(std::size_t n) {
    std::deque<DataPoint> points;
    for (std::size_t i = 0; i < n; ++i) {
        points.push_back(makeDataPoint(-170.0 + 0.013 * static_cast<double>(i % 20000),
                                       -20.0 + 0.0007 * static_cast<double>(i), 500 + i % 9000,
                                       7 + 3 * i, (i * 31) % 65536, static_cast<double>(i % 90),
                                       static_cast<double>(i % 13) - 6, LIDAR_LX30, false));
    }
    return points;
}

class ChunkedFiles : public ::testing::Test {
protected:
    testing_support::ScratchDir scratch{"chunked_files_test"};
    const fs::path dir = scratch.path();
};

} // namespace

TEST_F(ChunkedFiles, PointCountsAroundTheChunkSizeRoundTripInEveryFormat) {
    const std::size_t sizes[] = {0, 1, kChunkPoints, kChunkPoints + 1, 3 * kChunkPoints + 5};
    const std::deque<DataPoint> all = numberedPoints(3 * kChunkPoints + 5);
    WriteOptions options;
    options.fields = everyField();
    for (const FormatInfo& info : allFormats()) {
        for (std::size_t n : sizes) {
            SCOPED_TRACE(std::string(info.name) + ", " + std::to_string(n) + " points");
            const std::deque<DataPoint> points(all.begin(), all.begin() + n);
            const fs::path file = dir / (std::string("n") + info.extension);
            const Outcome written = write(file.string(), info.format, points, options);
            ASSERT_TRUE(written.ok) << written.error;
            const ReadResult back = read(file.string(), info.format);
            ASSERT_TRUE(back.ok) << back.error;
            ASSERT_EQ(back.points.size(), n);
            for (std::size_t i = 0; i < n; ++i) {
                const DataPoint& a = points[i];
                const DataPoint& b = back.points[i];
                ASSERT_EQ(b.timestamp, a.timestamp) << i; // none lost, doubled or moved
                ASSERT_NEAR(b.x, a.x, 1e-5 + std::abs(a.x) * 1e-7) << i;
                ASSERT_EQ(b.intensity, a.intensity) << i;
                ASSERT_EQ(b.reflectance, a.reflectance) << i;
            }
        }
    }
}

// The whole-file path of every input format into every output format, and the streamed one, give
// the same bytes; with CSV input (no count in its header) and LAS output (bounds before the
// points) the input is read twice.
TEST_F(ChunkedFiles, StreamedConversionIsByteForByteTheWholeFileOne) {
    const std::deque<DataPoint> points = numberedPoints(2 * kChunkPoints + 3);
    WriteOptions options;
    options.fields = everyField();
    for (const FormatInfo& from : allFormats()) {
        const fs::path input = dir / (std::string("in.") + from.name);
        ASSERT_TRUE(write(input.string(), from.format, points, options).ok);
        const ReadResult whole = read(input.string(), from.format);
        ASSERT_TRUE(whole.ok) << whole.error;
        for (const FormatInfo& to : allFormats()) {
            for (const bool chosen : {false, true}) {
                SCOPED_TRACE(std::string(from.name) + " to " + to.name +
                             (chosen ? ", chosen fields" : ""));
                FieldSelection fields = whole.fields;
                if (chosen) {
                    fields = noFields();
                    fields.x = fields.z = fields.reflectance = fields.timestamp = true;
                }
                const fs::path expected = dir / (std::string("whole.") + to.name);
                WriteOptions out;
                out.fields = fields;
                ASSERT_TRUE(write(expected.string(), to.format, whole.points, out).ok);
                const fs::path streamed = dir / (std::string("streamed.") + to.name);
                const ConvertResult r =
                    convert(input.string(), from.format, streamed.string(), to.format,
                            chosen ? std::optional(fields) : std::nullopt);
                ASSERT_TRUE(r.ok) << r.readError << r.writeError;
                EXPECT_EQ(r.inputFormat,
                          from.format == Format::PlyAscii ? Format::PlyAscii : from.format);
                EXPECT_TRUE(readAll(streamed) == readAll(expected));
            }
        }
    }
}

TEST_F(ChunkedFiles, ReadersFillOnlyTheColumnsAsked) {
    const std::deque<DataPoint> points = numberedPoints(kChunkPoints + 1);
    WriteOptions options;
    options.fields = everyField();
    FieldSelection wanted = noFields();
    wanted.x = wanted.timestamp = true;
    for (const FormatInfo& info : allFormats()) {
        SCOPED_TRACE(info.name);
        const fs::path file = dir / (std::string("cols") + info.extension);
        ASSERT_TRUE(write(file.string(), info.format, points, options).ok);
        std::string error;
        const std::unique_ptr<PointReader> reader =
            openReader(file.string(), info.format, wanted, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_TRUE(reader->fields().intensity); // the file's columns, all of them
        EXPECT_EQ(reader->count().has_value(), info.format != Format::Csv);
        std::vector<DataPoint> chunk;
        std::size_t n = 0;
        while (reader->next(chunk)) {
            EXPECT_LE(chunk.size(), kChunkPoints);
            for (const DataPoint& p : chunk) {
                ASSERT_EQ(p.timestamp, points[n].timestamp);
                ASSERT_EQ(p.y, 0.0);
                ASSERT_EQ(p.intensity, 0.0f);
                ASSERT_EQ(p.reflectance, 0.0f);
                ++n;
            }
        }
        EXPECT_EQ(reader->error(), "");
        EXPECT_EQ(n, points.size());
    }
}

TEST_F(ChunkedFiles, FailedConversionsLeaveNoFileAndSayWhy) {
    const std::deque<DataPoint> points = numberedPoints(kChunkPoints + 10);
    WriteOptions options;
    ASSERT_TRUE(write((dir / "cut.ply").string(), Format::PlyBinary, points, options).ok);
    std::string bytes = readAll(dir / "cut.ply");
    bytes.resize(bytes.size() - 100);
    writeBytes(dir / "cut.ply", bytes);
    // The header promises more than the file holds: refused before a point is read.
    ConvertResult r = convert((dir / "cut.ply").string(), std::nullopt, (dir / "out.pcd").string(),
                              Format::PcdBinary, std::nullopt);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.readError, "the file holds fewer vertex items than its header declares");
    EXPECT_FALSE(fs::exists(dir / "out.pcd"));

    // A bad row after the first chunk of a CSV file: found by the first of the two readings.
    ASSERT_TRUE(write((dir / "late.csv").string(), Format::Csv, points, options).ok);
    std::string csv = readAll(dir / "late.csv");
    csv += "1,2,x,4,5,6,7\n";
    writeBytes(dir / "late.csv", csv);
    for (const Format to : {Format::Las, Format::PlyBinary, Format::Csv}) {
        SCOPED_TRACE(formatInfo(to).name);
        const fs::path out = dir / "late.out";
        r = convert((dir / "late.csv").string(), std::nullopt, out.string(), to, std::nullopt);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.readError,
                  "line " + std::to_string(points.size() + 2) + ": 'x' is not a number");
        EXPECT_FALSE(fs::exists(out));
    }

    // LAS cannot hold a coordinate that is not a number: the same message either way.
    std::deque<DataPoint> odd = numberedPoints(kChunkPoints + 2);
    odd[kChunkPoints + 1].y = std::nan("");
    options.fields = everyField();
    ASSERT_TRUE(write((dir / "odd.pcd").string(), Format::PcdBinary, odd, options).ok);
    const Outcome whole = write((dir / "odd.las").string(), Format::Las, odd, options);
    r = convert((dir / "odd.pcd").string(), std::nullopt, (dir / "odd.las").string(), Format::Las,
                std::nullopt);
    EXPECT_FALSE(whole.ok);
    EXPECT_EQ(r.writeError, whole.error);
    EXPECT_EQ(whole.error, "point " + std::to_string(kChunkPoints + 2) +
                               " has a coordinate that is not a number, which LAS cannot hold");
    EXPECT_FALSE(fs::exists(dir / "odd.las"));
}

// The bounds a writer takes from a block of points are those of the points added one by one:
// the first of equal values kept (-0 and 0 give a LAS offset of different bytes), and the first
// coordinate that is not finite named, wherever the blocks the scan works in begin and end.
TEST(ExtentOfBlocks, MatchTheBoundsTakenPointByPoint) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto point = [](double x, double y, double z) {
        DataPoint p;
        p.x = x;
        p.y = y;
        p.z = z;
        return p;
    };
    for (const std::size_t n : {1u, 2u, 1023u, 1024u, 1025u, 3000u}) {
        for (const std::size_t odd : {std::size_t{0}, n / 2, n - 1}) {
            for (const double value : {-0.0, inf, -inf, nan}) {
                std::vector<DataPoint> points;
                for (std::size_t i = 0; i < n; ++i) {
                    // Zeros of both signs everywhere, and one point of the value under test.
                    const double zero = i % 3 == 0 ? -0.0 : 0.0;
                    points.push_back(point(zero, i % 2 == 0 ? 0.0 : -0.0, zero));
                }
                points[odd] = point(1.5, value, -2.0);
                Extent block;
                block.add(points.data(), points.size());
                Extent single;
                for (const DataPoint& p : points) {
                    single.add(p);
                }
                SCOPED_TRACE(testing::Message() << n << " points, " << value << " at " << odd);
                EXPECT_EQ(block.count, n);
                EXPECT_EQ(block.firstNotFinite, single.firstNotFinite);
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ(std::signbit(block.lo[k]), std::signbit(single.lo[k])) << k;
                    EXPECT_EQ(std::signbit(block.hi[k]), std::signbit(single.hi[k])) << k;
                    EXPECT_EQ(block.lo[k], single.lo[k]) << k;
                    EXPECT_EQ(block.hi[k], single.hi[k]) << k;
                }
            }
        }
    }
}
