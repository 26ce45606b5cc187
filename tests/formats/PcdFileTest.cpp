#include "PcdFile.h"
#include "ScratchFiles.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl/point_types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <utility>

using namespace formats;
using testing_support::readAll;
namespace fs = std::filesystem;

namespace {

DataPoint point(double x, double y, double z, double intensity) {
    DataPoint p;
    p.x = x;
    p.y = y;
    p.z = z;
    p.intensity = intensity;
    return p;
}

std::deque<DataPoint> twoPoints() {
    DataPoint a = point(1.5, -0.25, 1024, 87.75);
    a.azimuth = 10;
    a.elevation = -5.5;
    a.range = 300;
    a.reflectance = -3;
    a.pulseShapeDeviation = 4;
    a.timestamp = 4000000;
    DataPoint b = point(0, 0, 0, 0);
    b.timestamp = 1;
    return {a, b};
}

const char* kHeaderStart = "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\n";
const char* kHeaderEnd2 = "WIDTH 2\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS 2\nDATA ascii\n";

std::string written(const std::deque<DataPoint>& points, const FieldSelection& s, LIDAR_TYPE mode) {
    std::ostringstream out;
    writePcd(out, points, s, mode);
    return out.str();
}

class PcdFiles : public ::testing::Test {
protected:
    testing_support::ScratchDir scratch{"formats_pcd"};
    const fs::path dir = scratch.path();
};

} // namespace

TEST(PcdWriter, DefaultLx30Selection) {
    EXPECT_EQ(written(twoPoints(), FieldSelection{}, LIDAR_LX30),
              std::string(kHeaderStart) +
                  "FIELDS x y z amplitude reflectance pulseShapeDeviation timestamp \n"
                  "SIZE 4 4 4 4 4 4 4 \n"
                  "TYPE F F F F F F U \n"
                  "COUNT 1 1 1 1 1 1 1 \n" +
                  kHeaderEnd2 +
                  "1.500000 -0.250000 1024.000000 87.750000 -3.000000 4.000000 4000000.000000 \n"
                  "0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 1.000000 \n");
}

// The device's largest timestamp arrives rounded up to 2^32, one more than a U4 field holds:
// it is written as the largest U4 value, and every other value as before.
TEST(PcdWriter, TimestampAboveTheU4RangeIsWrittenAsItsLargestValue) {
    std::deque<DataPoint> points = twoPoints();
    points[0].timestamp = 4294967296.0;
    points[1].timestamp = 4294967295.0;
    FieldSelection s;
    s.reflectance = s.pulseShapeDeviation = false;
    EXPECT_EQ(written(points, s, LIDAR_LX30),
              std::string(kHeaderStart) +
                  "FIELDS x y z amplitude timestamp \n"
                  "SIZE 4 4 4 4 4 \n"
                  "TYPE F F F F U \n"
                  "COUNT 1 1 1 1 1 \n" +
                  kHeaderEnd2 +
                  "1.500000 -0.250000 1024.000000 87.750000 4294967295.000000 \n"
                  "0.000000 0.000000 0.000000 0.000000 4294967295.000000 \n");
}

TEST(PcdWriter, OtherModelsLeaveOutLx30Fields) {
    FieldSelection s;
    s.az = s.el = s.range = true;
    const std::string expected = std::string(kHeaderStart) +
                                 "FIELDS x y z az el range amplitude timestamp \n"
                                 "SIZE 4 4 4 4 4 4 4 4 \n"
                                 "TYPE F F F F F F F U \n"
                                 "COUNT 1 1 1 1 1 1 1 1 \n" +
                                 kHeaderEnd2 +
                                 "1.500000 -0.250000 1024.000000 10.000000 -5.500000 300.000000 "
                                 "87.750000 4000000.000000 \n"
                                 "0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
                                 "0.000000 1.000000 \n";
    EXPECT_EQ(written(twoPoints(), s, LIDAR_LX20), expected);
    EXPECT_EQ(written(twoPoints(), s, LIDAR_GENERIC), expected);
}

TEST(PcdWriter, AllFieldsOffAndEmptyBuffer) {
    FieldSelection none;
    none.x = none.y = none.z = none.intensity = none.reflectance = false;
    none.pulseShapeDeviation = none.timestamp = false;
    EXPECT_EQ(written(twoPoints(), none, LIDAR_LX30),
              std::string(kHeaderStart) + "FIELDS \nSIZE \nTYPE \nCOUNT \n" + kHeaderEnd2 + "\n\n");

    FieldSelection xyz;
    xyz.intensity = xyz.reflectance = xyz.pulseShapeDeviation = xyz.timestamp = false;
    EXPECT_EQ(written({}, xyz, LIDAR_LX30),
              std::string(kHeaderStart) +
                  "FIELDS x y z \nSIZE 4 4 4 \nTYPE F F F \nCOUNT 1 1 1 \n"
                  "WIDTH 0\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS 0\nDATA ascii\n");
}

TEST(PcdWriter, Lx20FormatsChangeOnlyTheHeader) {
    FieldSelection s;
    s.range = true;
    Lx20Formats f;
    f.x = 1;
    f.y = 2;
    f.intensity = 2;
    f.range = 9; // unknown format: written as the default
    std::ostringstream out;
    writeLx20Pcd(out, twoPoints(), s, f);
    EXPECT_EQ(out.str(), std::string(kHeaderStart) +
                             "FIELDS x y z range intensity \n"
                             "SIZE 2 1 4 4 1 \n"
                             "TYPE I U F F U \n"
                             "COUNT 1 1 1 1 1 \n" +
                             kHeaderEnd2 +
                             "1.500000 -0.250000 1024.000000 300.000000 87 \n"
                             "0.000000 0.000000 0.000000 0.000000 0 \n");
}

TEST(PcdWriter, FileNameRule) {
    EXPECT_EQ(withPcdExtension("scan.PCD"), "scan.PCD");
    EXPECT_EQ(withPcdExtension("scan"), "scan.pcd");
    EXPECT_EQ(withPcdExtension("scan.pcd.txt"), "scan.pcd.txt.pcd");
    EXPECT_EQ(withPcdExtension("/tmp/Scän.Pcd"), "/tmp/Scän.Pcd");
    EXPECT_EQ(withPcdExtension("pcd"), "pcd.pcd");
    EXPECT_EQ(withPcdExtension(""), ".pcd");
}

TEST_F(PcdFiles, SaveThenLoadKeepsCoordinatesAndIntensity) {
    std::deque<DataPoint> points;
    for (int i = 0; i < 300; ++i) {
        points.push_back(point(i * 0.125, -i * 2.5, 1000 + i, (i * 37) % 65536));
    }
    const fs::path file = dir / "Überblick scan.pcd"; // not an 8-bit name
    ASSERT_EQ(savePcdFile(file.string(), points, FieldSelection{}, LIDAR_LX30), "");

    const PcdLoadResult loaded = readPcdFile(file.string());
    ASSERT_TRUE(loaded.ok) << loaded.error;
    ASSERT_EQ(loaded.points.size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_FLOAT_EQ(loaded.points[i].x, points[i].x);
        EXPECT_FLOAT_EQ(loaded.points[i].y, points[i].y);
        EXPECT_FLOAT_EQ(loaded.points[i].z, points[i].z);
        EXPECT_EQ(loaded.points[i].intensity, points[i].intensity);
        EXPECT_EQ(loaded.points[i].timestamp, 0.0);
    }
}

TEST_F(PcdFiles, EmptyBufferSavesAndLoadsAsNoPoints) {
    const fs::path file = dir / "empty.pcd";
    ASSERT_EQ(savePcdFile(file.string(), {}, FieldSelection{}, LIDAR_LX30), "");
    const PcdLoadResult loaded = readPcdFile(file.string());
    EXPECT_TRUE(loaded.ok) << loaded.error;
    EXPECT_TRUE(loaded.points.empty());
}

TEST_F(PcdFiles, PclReadsWhatWeWrite) {
    const fs::path file = dir / "scan.pcd";
    ASSERT_EQ(savePcdFile(file.string(), twoPoints(), FieldSelection{}, LIDAR_LX30), "");
    pcl::PCLPointCloud2 cloud;
    ASSERT_EQ(pcl::io::loadPCDFile(file.string(), cloud), 0);
    EXPECT_EQ(cloud.width * cloud.height, 2u);
    ASSERT_EQ(cloud.fields.size(), 7u);
    EXPECT_EQ(cloud.fields[3].name, "amplitude");
    EXPECT_EQ(cloud.fields[6].datatype, pcl::PCLPointField::UINT32);
    std::uint32_t stamp = 0;
    std::memcpy(&stamp, cloud.data.data() + cloud.fields[6].offset, 4);
    EXPECT_EQ(stamp, 4000000u);

    pcl::PointCloud<pcl::PointXYZ> xyz;
    ASSERT_EQ(pcl::io::loadPCDFile(file.string(), xyz), 0);
    EXPECT_FLOAT_EQ(xyz[0].z, 1024.0f);

#ifdef PCL_CONVERT_TOOL
    const fs::path binary = dir / "scan_binary.pcd";
    const std::string command = std::string(PCL_CONVERT_TOOL) + " '" + file.string() + "' '" +
                                binary.string() + "' 1 > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const PcdLoadResult converted = readPcdFile(binary.string());
    ASSERT_TRUE(converted.ok) << converted.error;
    ASSERT_EQ(converted.points.size(), 2u);
    EXPECT_FLOAT_EQ(converted.points[0].x, 1.5f);
    EXPECT_FLOAT_EQ(converted.points[0].intensity, 87.75f);
#endif
}

TEST_F(PcdFiles, PclReadsTheLargestTimestamp) {
    std::deque<DataPoint> points = twoPoints();
    points[0].timestamp = 4294967296.0;
    const fs::path file = dir / "late.pcd";
    ASSERT_EQ(savePcdFile(file.string(), points, FieldSelection{}, LIDAR_LX30), "");
    pcl::PCLPointCloud2 cloud;
    ASSERT_EQ(pcl::io::loadPCDFile(file.string(), cloud), 0);
    std::uint32_t stamp = 0;
    std::memcpy(&stamp, cloud.data.data() + cloud.fields[6].offset, 4);
    EXPECT_EQ(stamp, 4294967295u);
}

TEST_F(PcdFiles, LoadsBinaryFilesFromPcl) {
    pcl::PointCloud<pcl::PointXYZI> cloud;
    for (int i = 0; i < 50; ++i) {
        pcl::PointXYZI p;
        p.x = i;
        p.y = -i;
        p.z = 0.5f * i;
        p.intensity = 100.0f + i;
        cloud.push_back(p);
    }
    for (bool compressed : {false, true}) {
        const fs::path file = dir / (compressed ? "c.pcd" : "b.pcd");
        ASSERT_EQ(compressed ? pcl::io::savePCDFileBinaryCompressed(file.string(), cloud)
                             : pcl::io::savePCDFileBinary(file.string(), cloud),
                  0);
        const PcdLoadResult loaded = readPcdFile(file.string());
        ASSERT_TRUE(loaded.ok) << loaded.error;
        ASSERT_EQ(loaded.points.size(), 50u);
        EXPECT_EQ(loaded.points[7].x, 7.0);
        EXPECT_EQ(loaded.points[7].y, -7.0);
        EXPECT_EQ(loaded.points[7].z, 3.5);
        EXPECT_EQ(loaded.points[7].intensity, 107.0);
    }

    // The sizes stored before compressed data must agree with the header: too small a size
    // would have the reader unpack past its buffer, too large one allocate for nothing.
    std::string original = readAll(dir / "c.pcd");
    const std::size_t sizesAt = original.find("DATA binary_compressed\n") + 23;
    for (const std::uint32_t stored : {1u, 0u, 0x7fffffffu, 0xffffffffu}) {
        std::string tampered = original;
        std::memcpy(&tampered[sizesAt + 4], &stored, 4);
        std::ofstream(dir / "t.pcd", std::ios::binary) << tampered;
        EXPECT_FALSE(readPcdFile((dir / "t.pcd").string()).ok) << stored;
    }
    std::string lying = original;
    const std::uint32_t beyond = static_cast<std::uint32_t>(original.size());
    std::memcpy(&lying[sizesAt], &beyond, 4);
    std::ofstream(dir / "t.pcd", std::ios::binary) << lying;
    EXPECT_FALSE(readPcdFile((dir / "t.pcd").string()).ok);

    // A well-formed stream (one literal run of four bytes) that holds less than the header's
    // two points.
    std::ofstream(dir / "t.pcd", std::ios::binary)
        << "FIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\nWIDTH 2\nHEIGHT 1\nPOINTS 2\n"
           "DATA binary_compressed\n"
        << std::string("\x05\0\0\0\x04\0\0\0\x03\x01\x02\x03\x04", 13);
    EXPECT_FALSE(readPcdFile((dir / "t.pcd").string()).ok);
}

TEST_F(PcdFiles, FourthValueIsTheIntensityWithoutANamedField) {
    FieldSelection s;
    s.az = true;
    std::deque<DataPoint> points = twoPoints();
    ASSERT_EQ(savePcdFile((dir / "az.pcd").string(), points, s, LIDAR_GENERIC), "");
    const PcdLoadResult withAmplitude = readPcdFile((dir / "az.pcd").string());
    ASSERT_TRUE(withAmplitude.ok);
    EXPECT_FLOAT_EQ(withAmplitude.points[0].intensity, 87.75f); // named field wins

    s.intensity = false;
    ASSERT_EQ(savePcdFile((dir / "az2.pcd").string(), points, s, LIDAR_GENERIC), "");
    const PcdLoadResult azimuth = readPcdFile((dir / "az2.pcd").string());
    ASSERT_TRUE(azimuth.ok);
    EXPECT_EQ(azimuth.points[0].intensity, 10.0);

    FieldSelection xyzOnly;
    xyzOnly.intensity = xyzOnly.reflectance = xyzOnly.pulseShapeDeviation = false;
    xyzOnly.timestamp = false;
    ASSERT_EQ(savePcdFile((dir / "xyz.pcd").string(), points, xyzOnly, LIDAR_LX30), "");
    const PcdLoadResult none = readPcdFile((dir / "xyz.pcd").string());
    ASSERT_TRUE(none.ok);
    EXPECT_EQ(none.points[0].intensity, 0.0);
}

TEST_F(PcdFiles, UnreadableFilesReportWhy) {
    const PcdLoadResult missing = readPcdFile((dir / "absent.pcd").string());
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error, "");
    EXPECT_TRUE(missing.points.empty());

    std::ofstream(dir / "junk.pcd") << "this is not a point cloud\n1 2 3\n";
    const PcdLoadResult junk = readPcdFile((dir / "junk.pcd").string());
    EXPECT_FALSE(junk.ok);
    EXPECT_NE(junk.error, "");

    std::ofstream(dir / "short.pcd") << "# .PCD v0.7 - Point Cloud Data file format\n"
                                        "VERSION 0.7\nFIELDS x y z \nSIZE 4 4 4 \n"
                                        "TYPE F F F \nCOUNT 1 1 1 \nWIDTH 5\nHEIGHT 1\n"
                                        "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 5\nDATA ascii\n"
                                        "1 2 3 \n";
    EXPECT_FALSE(readPcdFile((dir / "short.pcd").string()).ok);

    std::ofstream(dir / "noxyz.pcd") << "# .PCD v0.7 - Point Cloud Data file format\n"
                                        "VERSION 0.7\nFIELDS az el \nSIZE 4 4 \n"
                                        "TYPE F F \nCOUNT 1 1 \nWIDTH 1\nHEIGHT 1\n"
                                        "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 1\nDATA ascii\n"
                                        "1 2 \n";
    EXPECT_FALSE(readPcdFile((dir / "noxyz.pcd").string()).ok);

    // Headers that declare billions of points must not make the reader allocate for them.
    for (const char* data : {"ascii\n1 2 3 \n", "binary\nabcdefghijkl"}) {
        std::ofstream(dir / "huge.pcd") << "# .PCD v0.7 - Point Cloud Data file format\n"
                                           "VERSION 0.7\nFIELDS x y z \nSIZE 4 4 4 \n"
                                           "TYPE F F F \nCOUNT 1 1 1 \nWIDTH 4000000000\n"
                                           "HEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\n"
                                           "POINTS 4000000000\nDATA "
                                        << data;
        const PcdLoadResult huge = readPcdFile((dir / "huge.pcd").string());
        EXPECT_FALSE(huge.ok) << data;
        EXPECT_TRUE(huge.points.empty());
    }
}

// Found by fuzzing: a header without SIZE and TYPE lines leaves fields whose
// bytes reach past the end of their point; they must not be read.
TEST_F(PcdFiles, FieldsOutsideTheirPointAreNotRead) {
    const std::string body("\x00\x00\x80\x3f\x00\x00\x00\x40\x00\x00\x40\x40\x00\x00\x80\x40"
                           "\x00\x00\xa0\x40\x00\x00\xc0\x40\x00\x00\xe0\x40\x00\x00\x00\x41",
                           32);
    std::ofstream(dir / "nosize.pcd", std::ios::binary)
        << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\n"
           "FIELDS x y z intensity \nSIZEUNT 1 1 1 1 \nWIDTH 2\nHEIGHT 1\n"
           "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 2\nDATA binary\n"
        << body;
    const PcdLoadResult result = readPcdFile((dir / "nosize.pcd").string());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error, "");
    EXPECT_TRUE(result.points.empty());
}

// Found by fuzzing: a header with no DATA line that declares a billion points
// must be refused before the reader sizes its buffers from it.
TEST_F(PcdFiles, HeaderWithoutDataLineIsRefused) {
    std::ofstream(dir / "nodata.pcd", std::ios::binary)
        << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x 0 z amp \n"
           "POINTS 1333333333"
        << std::string(200, '\xd0');
    const PcdLoadResult result = readPcdFile((dir / "nodata.pcd").string());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error, "");

    // Nor may a later POINTS line hide an earlier, larger one.
    std::ofstream(dir / "twice.pcd", std::ios::binary)
        << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z \n"
           "SIZE 4 4 4 \nTYPE F F F \nCOUNT 1 1 1 \nPOINTS 244444444\nWIDTH 1\nHEIGHT 1\n"
           "POINTS 1\nDATA ascii\n1.0 2.0 3.0 \n";
    EXPECT_FALSE(readPcdFile((dir / "twice.pcd").string()).ok);

    // Nor one on a line whose keyword runs on into other bytes.
    std::ofstream(dir / "runon.pcd", std::ios::binary)
        << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z \n"
           "SIZE 4 4 4 \nTYPE F F F \nCOUNT 1 1 1 \nPOINTS"
        << std::string(8, '\0') << " 33333333333333333\nWIDTH 1\nHEIGHT 1\n"
        << "POINTS 1\nDATA ascii\n1.0 2.0 3.0 \n";
    EXPECT_FALSE(readPcdFile((dir / "runon.pcd").string()).ok);

    // Nor one whose count runs on into other bytes, in a header without SIZE lines, where the
    // reader takes four bytes per field.
    std::ofstream(dir / "trailing.pcd", std::ios::binary)
        << "# .PCD v0.7 - Point Cloud Data file format\nVERSION .7\nFIELDS x y z\n"
           "POINTS 244444444\x06\x06\xff ncestamp \x0eSIZE 4 4 4\nDATA binary\n"
        << std::string(24, '\0');
    EXPECT_FALSE(readPcdFile((dir / "trailing.pcd").string()).ok);
}

// A header that could be read more than one way is refused; a plain one, with comments, blank
// lines and CRLF line ends, still loads.
TEST_F(PcdFiles, HeaderIsReadOneWayOnly) {
    const std::string good = "FIELDS x y z\r\nSIZE 4 4 4\r\nTYPE F F F\r\nCOUNT 1 1 1\r\n"
                             "WIDTH 1\r\nHEIGHT 1\r\nPOINTS 1\r\nDATA ascii\r\n1 2 3\r\n";
    std::ofstream(dir / "crlf.pcd", std::ios::binary)
        << "# .PCD v0.7 \xe2\x80\x94 comment\r\n\nVERSION 0.7\r\n  # indented\n"
        << good;
    const PcdLoadResult crlf = readPcdFile((dir / "crlf.pcd").string());
    ASSERT_TRUE(crlf.ok) << crlf.error;
    ASSERT_EQ(crlf.points.size(), 1u);
    EXPECT_EQ(crlf.points[0].z, 3.0);

    const std::pair<const char*, const char*> edits[] = {
        {"FIELDS x y z\r", "FIELDS x y z\r\nFIELDS x y z a b\r"},
        {"DATA", "D\nDATA"},
        {"DATA", "   \nDATA"},
        {"FIELDS x y z", "FIELDS x y z\x0b"},
        {"POINTS 1", "POINTS 1x"},
        {"WIDTH 1", "WIDTH -1"},
        {"DATA ascii", "DATA asciix"},
        {"SIZE 4 4 4", "SIZE 4 4 3"},
        {"COUNT 1 1 1", "COUNT 1 1 2147483647"},
        {"POINTS 1", "POINTS 2147483648"},
        // The reader goes on reading header lines after DATA for as long as they look like them.
        {"1 2 3", "\n# note\nPOINTS 444444444\n1 2 3"},
        {"1 2 3", "COLUMNS\x80@ x\n1 2 3"},
    };
    for (const auto& [from, to] : edits) {
        std::string header = good;
        header.replace(header.find(from), std::strlen(from), to);
        std::ofstream(dir / "odd.pcd", std::ios::binary) << header;
        EXPECT_FALSE(readPcdFile((dir / "odd.pcd").string()).ok) << header;
    }
}

TEST_F(PcdFiles, WriteFailuresAreReported) {
    EXPECT_NE(savePcdFile((dir / "no" / "such" / "dir.pcd").string(), twoPoints(), FieldSelection{},
                          LIDAR_LX30),
              "");
    EXPECT_NE(savePcdFile(dir.string(), twoPoints(), FieldSelection{}, LIDAR_LX30), "");
    if (fs::exists("/dev/full")) {
        EXPECT_NE(saveLx20PcdFile("/dev/full", twoPoints(), FieldSelection{}, Lx20Formats{}), "");
    }
    const fs::path ok = dir / "lx20.pcd";
    ASSERT_EQ(saveLx20PcdFile(ok.string(), twoPoints(), FieldSelection{}, Lx20Formats{}), "");
    EXPECT_NE(readAll(ok).find("FIELDS x y z intensity \n"), std::string::npos);
}
