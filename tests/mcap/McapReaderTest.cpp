// Points read back out of MCAP files: ours, others' field layouts, and damaged files.
#include "ScratchFiles.h"
#include "SentovaMcap/Reader.h"
#include "SentovaMcap/ScanFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

using namespace sentova::mcap;
using testing_support::readAll;
using testing_support::ScratchDir;
using testing_support::writeBytes;

namespace {

std::deque<DataPoint> somePoints(std::size_t n) {
    std::deque<DataPoint> points(n);
    for (std::size_t i = 0; i < n; ++i) {
        DataPoint& p = points[i];
        p.x = 0.1 * static_cast<double>(i);
        p.y = -1.0 / (1.0 + static_cast<double>(i));
        p.z = 1e-7 * static_cast<double>(i);
        p.intensity = static_cast<float>(i % 65536);
        p.range = 0.5f * static_cast<float>(i);
        p.azimuth = -180.0f + 0.01f * static_cast<float>(i);
        p.elevation = 35.0f;
        p.reflectance = -32768.0f;
        p.pulseShapeDeviation = static_cast<float>(i % 7);
        p.timestamp = 4294967295u - i;
    }
    return points;
}

void expectSame(const std::deque<DataPoint>& a, const std::deque<DataPoint>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].x, b[i].x) << i;
        EXPECT_EQ(a[i].y, b[i].y) << i;
        EXPECT_EQ(a[i].z, b[i].z) << i;
        EXPECT_EQ(a[i].intensity, b[i].intensity) << i;
        EXPECT_EQ(a[i].range, b[i].range) << i;
        EXPECT_EQ(a[i].azimuth, b[i].azimuth) << i;
        EXPECT_EQ(a[i].elevation, b[i].elevation) << i;
        EXPECT_EQ(a[i].reflectance, b[i].reflectance) << i;
        EXPECT_EQ(a[i].pulseShapeDeviation, b[i].pulseShapeDeviation) << i;
        EXPECT_EQ(a[i].timestamp, b[i].timestamp) << i;
    }
}

std::string writeFile(const ScratchDir& dir, const std::deque<DataPoint>& points,
                      Compression compression, std::size_t chunkSize = 20000) {
    const std::string path = (dir / "p.mcap").string();
    WriterOptions options;
    options.compression = compression;
    options.chunkSize = chunkSize; // several chunks by default
    ScanFile file(path, options);
    file.addLog(1, LogLevel::Info, "command SVSFFS");
    for (std::size_t begin = 0; begin < points.size(); begin += 300)
        file.addPoints(points, begin, std::min(points.size(), begin + 300), 10 + begin);
    file.close();
    return path;
}

} // namespace

TEST(McapReader, OurFilesGiveTheirPointsBackExactly) {
    const std::deque<DataPoint> points = somePoints(2000);
    for (const Compression c : {Compression::Zstd, Compression::None}) {
        ScratchDir dir("mcap_read");
        const PointCloudRead r = readPointClouds(writeFile(dir, points, c));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.messages, 7u);
        expectSame(r.points, points);
    }
}

TEST(McapReader, FieldsAreFoundByNameWhateverTheirTypeAndOffset) {
    // Another writer's layout: float32 z, x, an int16 time, and a field of its own.
    std::string data;
    const auto put = [&](const void* v, std::size_t n) {
        data.append(static_cast<const char*>(v), n);
    };
    for (int i = 0; i < 3; ++i) {
        const float z = 1.5f * i, x = -2.0f * i;
        const std::int16_t time = static_cast<std::int16_t>(-5 + 10 * i);
        const std::uint8_t other = 9;
        put(&z, 4);
        put(&x, 4);
        put(&time, 2);
        put(&other, 1);
    }
    const std::string cloud =
        "{\"point_stride\":11,\"fields\":[{\"name\":\"z\",\"offset\":0,\"type\":7},"
        "{\"name\":\"x\",\"offset\":4,\"type\":7},{\"name\":\"time\",\"offset\":8,\"type\":4},"
        "{\"name\":\"flags\",\"offset\":10,\"type\":1}],\"data\":\"" +
        base64(data) + "\"}";
    ScratchDir dir("mcap_read");
    const std::string path = (dir / "other.mcap").string();
    Writer w(path);
    const std::uint16_t schema = w.addSchema("foxglove.PointCloud", "jsonschema", "{}");
    const std::uint16_t other = w.addSchema("foxglove.Log", "jsonschema", "{}");
    const std::uint16_t points = w.addChannel(schema, "/lidar", "json");
    const std::uint16_t log = w.addChannel(other, "/log", "json");
    w.write(log, 0, 0, "not a point cloud");
    w.write(points, 1, 1, cloud);
    w.close();
    const PointCloudRead r = readPointClouds(path);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.points.size(), 3u);
    EXPECT_EQ(r.points[2].z, 3.0);
    EXPECT_EQ(r.points[2].x, -4.0);
    EXPECT_EQ(r.points[2].y, 0.0);
    EXPECT_EQ(r.points[0].timestamp, 0u); // a negative time counts as 0
    EXPECT_EQ(r.points[2].timestamp, 15u);
}

TEST(McapReader, DamagedOrForeignInputIsAnErrorNotAReadOutOfBounds) {
    ScratchDir dir("mcap_read");
    const std::string good = readAll(writeFile(dir, somePoints(1000), Compression::None));
    EXPECT_EQ(readPointCloudBytes("").error, "not an MCAP file");
    EXPECT_FALSE(readPointCloudBytes(good.substr(0, 8)).ok);
    // Cut everywhere through the first records and the first chunk.
    for (std::size_t n = 9; n < 30000 && n < good.size(); n += 97)
        EXPECT_FALSE(readPointCloudBytes(good.substr(0, n)).ok) << n;
    // One byte changed inside a chunk fails its CRC.
    std::string flipped = good;
    flipped[good.size() / 3] ^= 0x20;
    EXPECT_FALSE(readPointCloudBytes(flipped).ok);
    // A record claiming more than the file holds.
    std::string huge = good;
    for (int i = 0; i < 8; ++i)
        huge[kMagic.size() + 1 + i] = '\xff';
    EXPECT_EQ(readPointCloudBytes(huge).error, "a record runs past the end of the file");
    EXPECT_FALSE(readPointClouds((dir / "missing.mcap").string()).ok);
}

TEST(McapReader, AFileReadRecordByRecordFailsAsItsBytesDo) {
    ScratchDir dir("mcap_read");
    const std::string good = readAll(writeFile(dir, somePoints(1000), Compression::Zstd));
    const std::string path = (dir / "bad.mcap").string();
    const auto same = [&](const std::string& bytes) {
        writeBytes(path, bytes);
        const PointCloudRead fromFile = readPointClouds(path);
        const PointCloudRead fromBytes = readPointCloudBytes(bytes);
        EXPECT_EQ(fromFile.ok, fromBytes.ok);
        EXPECT_EQ(fromFile.error, fromBytes.error);
        EXPECT_EQ(fromFile.points.size(), fromBytes.points.size());
    };
    for (std::size_t n : {std::size_t(0), std::size_t(5), std::size_t(8), std::size_t(9),
                          std::size_t(12), good.size() / 2, good.size() - 1}) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        same(good.substr(0, n));
    }
    // A length no file holds is refused before anything is allocated for it.
    std::string huge = good;
    for (int i = 0; i < 8; ++i)
        huge[kMagic.size() + 1 + i] = '\xff';
    same(huge);
    writeBytes(path, huge);
    EXPECT_EQ(readPointClouds(path).error, "a record runs past the end of the file");
}

TEST(McapReader, ProgressCountsTheFilesBytesUpToItsSize) {
    ScratchDir dir("mcap_read");
    const std::deque<DataPoint> points = somePoints(20000);
    const std::string path = writeFile(dir, points, Compression::None);
    const std::uint64_t size = readAll(path).size();
    std::vector<std::uint64_t> done;
    const PointCloudRead r = readPointClouds(path, [&](std::uint64_t d, std::uint64_t total) {
        EXPECT_EQ(total, size);
        done.push_back(d);
    });
    ASSERT_TRUE(r.ok) << r.error;
    expectSame(r.points, points);
    ASSERT_GE(done.size(), 3u);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_LT(done.front(), size / 2);
    EXPECT_EQ(done.back(), size);
}

TEST(McapReader, ACancelStopsTheReadWithNeitherPointsNorAnError) {
    ScratchDir dir("mcap_read");
    const std::deque<DataPoint> points = somePoints(20000);
    for (const std::size_t chunkSize : {std::size_t(20000), std::size_t(64) << 20}) {
        // With one chunk for the whole file, the cancel is seen between its clouds.
        SCOPED_TRACE("chunks of " + std::to_string(chunkSize));
        const std::string path = writeFile(dir, points, Compression::Zstd, chunkSize);
        int polls = 0;
        bool finished = false;
        const PointCloudRead r = readPointClouds(
            path, [&](std::uint64_t d, std::uint64_t total) { finished = finished || d == total; },
            [&] { return ++polls == 3; });
        EXPECT_TRUE(r.cancelled);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.empty()) << r.error;
        EXPECT_TRUE(r.points.empty());
        // It stopped at the poll that said so.
        EXPECT_EQ(polls, 3);
        EXPECT_FALSE(finished);
    }
}

TEST(McapReader, RandomDamageGivesPointsOrAnErrorAndNothingElse) {
    ScratchDir dir("mcap_read");
    const std::string good = readAll(writeFile(dir, somePoints(400), Compression::Zstd));
    std::mt19937 random(29);
    std::uniform_int_distribution<std::size_t> at(0, good.size() - 1);
    for (int round = 0; round < 300; ++round) {
        std::string bad = good;
        for (int k = 0; k < 1 + round % 4; ++k)
            bad[at(random)] = static_cast<char>(random());
        const PointCloudRead r = readPointCloudBytes(bad);
        EXPECT_TRUE(r.ok || (!r.error.empty() && r.points.empty())) << round;
    }
}

TEST(McapReader, Base64IsCheckedAsItIsDecoded) {
    std::string out;
    ASSERT_TRUE(decodeBase64("Zm9vYmE=", out));
    EXPECT_EQ(out, "fooba");
    ASSERT_TRUE(decodeBase64("Zg==", out));
    EXPECT_EQ(out, "f");
    ASSERT_TRUE(decodeBase64("", out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(decodeBase64("Zg=", out));
    EXPECT_FALSE(decodeBase64("Z!==", out));
    EXPECT_FALSE(decodeBase64("=AAA", out));
}

TEST(McapReader, RealTimesOfAnyValueAreRoundedAndClampedAsFilesAre) {
    std::string data;
    for (const double t : {2.5, -1.0, std::numeric_limits<double>::infinity(), 1e300,
                           std::numeric_limits<double>::quiet_NaN()}) {
        const float x = 1.0f;
        data.append(reinterpret_cast<const char*>(&x), 4);
        data.append(reinterpret_cast<const char*>(&t), 8);
    }
    const std::string cloud = "{\"point_stride\":12,\"fields\":[{\"name\":\"x\",\"offset\":0,"
                              "\"type\":7},{\"name\":\"time\",\"offset\":4,\"type\":8}],"
                              "\"data\":\"" +
                              base64(data) + "\"}";
    ScratchDir dir("mcap_read");
    const std::string path = (dir / "times.mcap").string();
    Writer w(path);
    const std::uint16_t points =
        w.addChannel(w.addSchema("foxglove.PointCloud", "jsonschema", "{}"), "/lidar", "json");
    w.write(points, 1, 1, cloud);
    w.close();
    const PointCloudRead r = readPointClouds(path);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.points.size(), 5u);
    EXPECT_EQ(r.points[0].timestamp, 3u);
    EXPECT_EQ(r.points[1].timestamp, 0u);
    EXPECT_EQ(r.points[2].timestamp, UINT64_MAX);
    EXPECT_EQ(r.points[3].timestamp, UINT64_MAX);
    EXPECT_EQ(r.points[4].timestamp, 0u);

    // Written again, a time beyond the device's 32 bits is the largest it holds, not wrapped.
    std::deque<DataPoint> late(1);
    late[0].timestamp = (std::uint64_t(1) << 32) + 5;
    const std::string again = (dir / "late.mcap").string();
    ScanFile file(again, WriterOptions{});
    file.addPoints(late, 0, 1, 1);
    file.close();
    const PointCloudRead back = readPointClouds(again);
    ASSERT_TRUE(back.ok) << back.error;
    ASSERT_EQ(back.points.size(), 1u);
    EXPECT_EQ(back.points[0].timestamp, 4294967295u);
}
