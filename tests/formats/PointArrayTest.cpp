// Points in one block: the array's own growth and clearing, and whole files read into it and
// written from it, which must give what the deque-based read and write give.
#include "Formats.h"
#include "ObservationPoint.h"
#include "PointStream.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace formats;
using testing_support::readAll;
using testing_support::writeBytes;
namespace fs = std::filesystem;

namespace {

DataPoint numbered(std::size_t i) {
    return makeDataPoint(-170.0 + 0.013 * static_cast<double>(i % 20000),
                         -20.0 + 0.0007 * static_cast<double>(i % 50000), 500 + i % 9000, 7 + 3 * i,
                         (i * 31) % 65536, static_cast<double>(i % 90),
                         static_cast<double>(i % 13) - 6, LIDAR_LX30, false);
}

bool isZero(const DataPoint& p) {
    const DataPoint zero{};
    return std::memcmp(&p, &zero, sizeof p) == 0;
}

const Format kBinary[] = {Format::PcdBinary, Format::PcdBinaryCompressed, Format::PlyBinary,
                          Format::Las};

class PointArrays : public ::testing::Test {
protected:
    testing_support::ScratchDir scratch{"point_array_test"};
    const fs::path dir = scratch.path();
};

} // namespace

TEST(PointArray, GrowsWithZeroPointsAndKeepsWhatItHolds) {
    PointArray a;
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.data(), nullptr);
    for (std::size_t i = 0; i < 3000; ++i) {
        a.push_back(numbered(i));
    }
    // Past its room: the points move to a new block and stay as they were.
    a.resize(100000);
    ASSERT_EQ(a.size(), 100000u);
    EXPECT_GE(a.capacity(), 100000u);
    for (std::size_t i = 0; i < 3000; ++i) {
        ASSERT_EQ(a[i].timestamp, numbered(i).timestamp) << i;
    }
    for (std::size_t i = 3000; i < a.size(); ++i) {
        ASSERT_TRUE(isZero(a[i])) << i;
    }
    // Points dropped by a shrink come back as zero points, not as they were.
    a[50000] = numbered(1);
    a.resize(10);
    a.resize(60000);
    EXPECT_TRUE(isZero(a[50000]));
    EXPECT_EQ(a[9].timestamp, numbered(9).timestamp);

    PointArray moved = std::move(a);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(moved.size(), 60000u);
    const PointArray copied = moved.copy();
    EXPECT_EQ(std::memcmp(copied.data(), moved.data(), 60000 * sizeof(DataPoint)), 0);
    const std::deque<DataPoint> asDeque = copied.toDeque();
    ASSERT_EQ(asDeque.size(), 60000u);
    EXPECT_EQ(asDeque[5].timestamp, numbered(5).timestamp);

    // Grown a few points at a time, as a reader grows it, each step's pages faulted in from the
    // one holding the points before: those stay as they were written.
    PointArray steps;
    steps.reserve(5000);
    for (std::size_t at = 0; at < 5000; at += 7) {
        steps.resize(std::min<std::size_t>(at + 7, 5000));
        for (std::size_t i = at; i < steps.size(); ++i) {
            ASSERT_TRUE(isZero(steps[i])) << i;
            steps[i] = numbered(i);
        }
    }
    for (std::size_t i = 0; i < 5000; ++i) {
        const DataPoint expected = numbered(i);
        ASSERT_EQ(std::memcmp(&steps[i], &expected, sizeof(DataPoint)), 0) << i;
    }

    moved.clear();
    EXPECT_EQ(moved.capacity(), 0u);
    moved.append(copied.data() + 1, 2);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[1].timestamp, numbered(2).timestamp);
}

// Grown for a caller that writes the points whole: fresh memory is told apart from memory
// that held points before, and a later plain growth still gives zero points, not those left.
TEST(PointArray, GrownForOverwriteTellsFreshMemoryAndLeavesLaterGrowthZero) {
    PointArray a;
    EXPECT_TRUE(a.resizeForOverwrite(20000));
    ASSERT_EQ(a.size(), 20000u);
    EXPECT_TRUE(isZero(a[19999]));
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = numbered(i);
    }
    a.resize(100);
    EXPECT_FALSE(a.resizeForOverwrite(20000)); // the earlier points' memory
    EXPECT_EQ(a[15000].timestamp, numbered(15000).timestamp);
    EXPECT_TRUE(a.resizeForOverwrite(20001));
    EXPECT_TRUE(isZero(a[20000]));
    a.resize(100);
    a.resize(20001);
    for (std::size_t i = 100; i < a.size(); ++i) {
        ASSERT_TRUE(isZero(a[i])) << i;
    }
    EXPECT_EQ(a[99].timestamp, numbered(99).timestamp);
}

// Around the chunk size, where the reader hands over its blocks, every format reads the same
// points into an array as into a deque (CSV, which declares no count, growing the array as it
// goes), and the same file is written from either.
TEST_F(PointArrays, WholeFilesReadAndWrittenAsTheDequeBasedPathDoes) {
    const std::size_t sizes[] = {0, 1, kChunkPoints, kChunkPoints + 1, 3 * kChunkPoints + 5};
    PointArray all;
    for (std::size_t i = 0; i < 3 * kChunkPoints + 5; ++i) {
        all.push_back(numbered(i));
    }
    WriteOptions options;
    options.fields = everyField();
    for (const FormatInfo& info : allFormats()) {
        const Format format = info.format;
        for (const std::size_t n : sizes) {
            SCOPED_TRACE(std::string(info.name) + ", " + std::to_string(n));
            const std::deque<DataPoint> points(all.begin(), all.begin() + n);
            const fs::path fromDeque = dir / "deque";
            const fs::path fromArray = dir / "array";
            ASSERT_TRUE(write(fromDeque.string(), format, points, options).ok);
            const Outcome written = write(fromArray.string(), format, all.data(), n, options);
            ASSERT_TRUE(written.ok) << written.error;
            const std::string bytes = readAll(fromArray);
            if (format == Format::Las) {
                // The header's creation day aside (bytes 90 to 93), which may change between the
                // two writes.
                std::string expected = readAll(fromDeque);
                ASSERT_EQ(bytes.size(), expected.size());
                EXPECT_EQ(bytes.substr(94), expected.substr(94));
                EXPECT_EQ(bytes.substr(0, 90), expected.substr(0, 90));
            } else {
                EXPECT_TRUE(bytes == readAll(fromDeque));
            }

            const ReadResult deque = read(fromArray.string(), format);
            const ArrayReadResult array = readArray(fromArray.string(), format);
            ASSERT_TRUE(array.ok) << array.error;
            EXPECT_EQ(array.format, deque.format);
            EXPECT_EQ(selectedFields(array.fields), selectedFields(deque.fields));
            ASSERT_EQ(array.points.size(), n);
            ASSERT_EQ(deque.points.size(), n);
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(std::memcmp(&array.points[i], &deque.points[i], sizeof(DataPoint)), 0)
                    << i;
                ASSERT_EQ(array.points[i].timestamp, all[i].timestamp) << i;
            }
        }
    }
}

// Time stamps past 32 bits of microseconds' worth of a day, still held exactly by every binary
// format (a U4 column holds them up to 4294967295, LAS's GPS time beyond).
TEST_F(PointArrays, LargeTimestampsComeBackExactly) {
    PointArray points(3);
    points[0].timestamp = 4000000001u;
    points[1].timestamp = 4294967295u;
    points[2].timestamp = 1;
    for (DataPoint& p : points) {
        p.x = 1.5;
    }
    WriteOptions options;
    options.fields = everyField();
    for (const Format format : kBinary) {
        SCOPED_TRACE(formatInfo(format).name);
        const fs::path file = dir / "times";
        ASSERT_TRUE(write(file.string(), format, points.data(), points.size(), options).ok);
        const ArrayReadResult back = readArray(file.string(), format);
        ASSERT_TRUE(back.ok) << back.error;
        ASSERT_EQ(back.points.size(), 3u);
        EXPECT_EQ(back.points[0].timestamp, 4000000001u);
        EXPECT_EQ(back.points[1].timestamp, 4294967295u);
        EXPECT_EQ(back.points[2].timestamp, 1u);
    }
    // LAS's double holds whole microseconds far beyond 32 bits.
    points[0].timestamp = 4000000000001u;
    ASSERT_TRUE(write((dir / "far.las").string(), Format::Las, points.data(), 3, options).ok);
    EXPECT_EQ(readArray((dir / "far.las").string()).points[0].timestamp, 4000000000001u);
}

// A file cut inside its points is refused before a point is read, with the message the
// deque-based read gives, and no points; a cancelled read gives none either.
TEST_F(PointArrays, CutFilesAndCancelledReadsGiveNoPoints) {
    PointArray points;
    for (std::size_t i = 0; i < 2 * kChunkPoints + 7; ++i) {
        points.push_back(numbered(i));
    }
    for (std::size_t k = 0; k < 4; ++k) {
        const Format format = kBinary[k];
        SCOPED_TRACE(formatInfo(format).name);
        const fs::path file = dir / "cut";
        ASSERT_TRUE(write(file.string(), format, points.data(), points.size()).ok);
        const std::string whole = readAll(file);
        writeBytes(file, whole.substr(0, whole.size() - 3));
        const ArrayReadResult cut = readArray(file.string(), format);
        EXPECT_FALSE(cut.ok);
        EXPECT_TRUE(cut.points.empty());
        EXPECT_EQ(cut.error, format == Format::PlyBinary
                                 ? "the file holds fewer vertex items than its header declares"
                                 : "the file holds fewer points than its header declares");
        EXPECT_EQ(cut.error, read(file.string(), format).error);

        writeBytes(file, whole);
        std::uint64_t calls = 0;
        const ArrayReadResult cancelled =
            readArray(file.string(), format, {}, [&calls] { return ++calls == 2; });
        EXPECT_TRUE(cancelled.cancelled);
        EXPECT_FALSE(cancelled.ok);
        EXPECT_TRUE(cancelled.points.empty());
    }
}

// A read into the block of an earlier one fills it in place: the points are those a read into a
// fresh block gives, fields the earlier file had and this one lacks zero again; a larger file
// moves to a block of its own, and a damaged one leaves no points but the block for the next.
TEST_F(PointArrays, ReadsIntoAnEarlierBlockGiveWhatAFreshOneGives) {
    PointArray many;
    for (std::size_t i = 0; i < 3 * kChunkPoints + 5; ++i) {
        many.push_back(numbered(i));
    }
    WriteOptions every;
    every.fields = everyField();
    WriteOptions xyz;
    xyz.fields = noFields();
    xyz.fields.x = xyz.fields.y = xyz.fields.z = true;
    for (const Format format : kBinary) {
        SCOPED_TRACE(formatInfo(format).name);
        const fs::path full = dir / "full";
        const fs::path fewer = dir / "fewer";
        const fs::path damaged = dir / "damaged";
        ASSERT_TRUE(write(full.string(), format, many.data(), many.size(), every).ok);
        ASSERT_TRUE(write(fewer.string(), format, many.data() + 9, kChunkPoints + 1, xyz).ok);
        const std::string bytes = readAll(full);
        writeBytes(damaged, bytes.substr(0, bytes.size() - 5));

        ArrayReadResult first = readArray(full.string(), format);
        ASSERT_TRUE(first.ok) << first.error;
        const DataPoint* block = first.points.data();
        const ArrayReadResult fresh = readArray(fewer.string(), format);
        ArrayReadResult reused = readArray(fewer.string(), format, std::move(first.points));
        ASSERT_TRUE(reused.ok) << reused.error;
        EXPECT_EQ(reused.points.data(), block);
        EXPECT_EQ(selectedFields(reused.fields), selectedFields(fresh.fields));
        ASSERT_EQ(reused.points.size(), fresh.points.size());
        EXPECT_EQ(std::memcmp(reused.points.data(), fresh.points.data(),
                              fresh.points.size() * sizeof(DataPoint)),
                  0);

        const ArrayReadResult refused =
            readArray(damaged.string(), format, std::move(reused.points));
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.error, readArray(damaged.string(), format).error);
        EXPECT_TRUE(refused.points.empty());
        EXPECT_EQ(refused.points.data(), block);

        ArrayReadResult small = readArray(fewer.string(), format);
        const ArrayReadResult grown = readArray(full.string(), format, std::move(small.points));
        ASSERT_TRUE(grown.ok) << grown.error;
        ASSERT_EQ(grown.points.size(), many.size());
        const ArrayReadResult wholeFresh = readArray(full.string(), format);
        EXPECT_EQ(std::memcmp(grown.points.data(), wholeFresh.points.data(),
                              many.size() * sizeof(DataPoint)),
                  0);
    }
}

// A block of many megabytes, filled chunk by chunk: the points are those the deque-based read
// gives, and a cancelled read gives none.
TEST_F(PointArrays, LargeReadsIntoFreshBlocksGiveEveryPoint) {
    const std::size_t n = 400000; // 22 MB of points
    PointArray points;
    points.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        points.push_back(numbered(i));
    }
    const fs::path file = dir / "large.pcd";
    ASSERT_TRUE(write(file.string(), Format::PcdBinary, points.data(), n).ok);
    const ArrayReadResult array = readArray(file.string(), Format::PcdBinary);
    const ReadResult deque = read(file.string(), Format::PcdBinary);
    ASSERT_TRUE(array.ok) << array.error;
    ASSERT_EQ(array.points.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(std::memcmp(&array.points[i], &deque.points[i], sizeof(DataPoint)), 0) << i;
    }
    std::uint64_t calls = 0;
    const ArrayReadResult cancelled =
        readArray(file.string(), Format::PcdBinary, {}, [&calls] { return ++calls == 3; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.points.empty());
}
