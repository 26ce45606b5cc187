// Every format through our writer and reader, and PCL reading what we write where it reads the
// format. The command-line tests add Open3D and a LAS reader of another project.
#include "Formats.h"
#include "ObservationPoint.h"
#include "OutputFile.h"
#include "PointStream.h"
#include "ScratchFiles.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <pcl/point_types.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace formats;
using testing_support::readAll;
using testing_support::writeBytes;
namespace fs = std::filesystem;

namespace {

// Points as the LX30 delivers them, the largest timestamp among them.
std::deque<DataPoint> devicePoints(std::size_t n) {
    std::deque<DataPoint> points;
    for (std::size_t i = 0; i < n; ++i) {
        const double az = -180.0 + 0.37 * static_cast<double>(i % 973);
        const double el = -30.0 + 0.011 * static_cast<double>(i % 5000);
        const std::uint64_t stamp = i == 1 ? 4294967296ull : 1000 + 17 * i;
        points.push_back(makeDataPoint(az, el, 1000 + i % 40000, stamp, (i * 37) % 65536,
                                       static_cast<double>(i % 200) - 100,
                                       static_cast<double>(i % 77) - 30, LIDAR_LX30, false));
    }
    return points;
}

FieldSelection allFields() {
    FieldSelection s;
    s.az = s.el = s.range = true;
    return s;
}

class Formats : public ::testing::Test {
protected:
    // Nothing but the named files in the folder: no temporary file left behind.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testing_support::ScratchDir scratch{"formats_test"};
    const fs::path dir = scratch.path();
};

float f4(double v) {
    return static_cast<float>(v);
}

} // namespace

TEST(FormatNames, NamesAndExtensions) {
    EXPECT_EQ(allFormats().front().format, Format::PcdAscii);
    for (const FormatInfo& info : allFormats()) {
        EXPECT_EQ(formatFromName(info.name), info.format);
        EXPECT_EQ(&formatInfo(info.format), &info);
    }
    EXPECT_EQ(formatFromName("PCD"), std::nullopt);
    EXPECT_EQ(formatFromExtension("a/scan.PCD"), Format::PcdAscii);
    EXPECT_EQ(formatFromExtension("scan.ply"), Format::PlyBinary);
    EXPECT_EQ(formatFromExtension("scan.Las"), Format::Las);
    EXPECT_EQ(formatFromExtension("scan.csv"), Format::Csv);
    EXPECT_EQ(formatFromExtension("scan.laz"), std::nullopt);
    EXPECT_EQ(formatFromExtension("scan"), std::nullopt);
    EXPECT_EQ(formatFromExtension("pcd"), std::nullopt);
}

TEST(FieldTable, NamesSelectionAndModel) {
    EXPECT_STREQ(fieldName(Field::Intensity), "amplitude");
    EXPECT_EQ(fieldFromName("intensity"), Field::Intensity);
    EXPECT_EQ(fieldFromName("pulseShapeDeviation"), Field::PulseShapeDeviation);
    EXPECT_EQ(fieldFromName("X"), std::nullopt);
    const std::vector<Field> defaults = selectedFields(forModel(FieldSelection{}, LIDAR_LX20));
    EXPECT_EQ(defaults, (std::vector<Field>{Field::X, Field::Y, Field::Z, Field::Intensity,
                                            Field::Timestamp}));
    EXPECT_TRUE(selectedFields(noFields()).empty());
    EXPECT_EQ(timestampU4(4294967296u), 4294967295u);
    EXPECT_EQ(timestampU4(4294967295u), 4294967295u);
    EXPECT_EQ(timestampFromReal(4000000001.0), 4000000001u);
    EXPECT_EQ(timestampFromReal(12.5), 13u);
    EXPECT_EQ(timestampFromReal(12.49), 12u);
    EXPECT_EQ(timestampFromReal(-3.0), 0u);
    EXPECT_EQ(timestampFromReal(std::nan("")), 0u);
    EXPECT_EQ(timestampFromReal(1e30), UINT64_MAX);
}

// Every format keeps every column it holds, at the precision it stores them in, and reports
// which columns the file has.
TEST_F(Formats, EveryFormatRoundTrips) {
    const std::deque<DataPoint> points = devicePoints(3000);
    WriteOptions options;
    options.fields = allFields();
    for (const FormatInfo& info : allFormats()) {
        SCOPED_TRACE(info.name);
        const fs::path file = dir / (std::string("scan") + info.extension);
        const Outcome written = write(file.string(), info.format, points, options);
        ASSERT_TRUE(written.ok) << written.error;
        const ReadResult back = read(file.string());
        ASSERT_TRUE(back.ok) << back.error;
        EXPECT_EQ(back.format, info.format == Format::PlyAscii ? Format::PlyAscii : info.format);
        ASSERT_EQ(back.points.size(), points.size());
        const bool las = info.format == Format::Las;
        const bool text = info.format == Format::PcdAscii || info.format == Format::Csv;
        EXPECT_EQ(back.fields.az, !las);
        EXPECT_TRUE(back.fields.reflectance);
        EXPECT_TRUE(back.fields.timestamp);
        for (std::size_t i = 0; i < points.size(); i += 7) {
            const DataPoint& a = points[i];
            const DataPoint& b = back.points[i];
            if (las) {
                EXPECT_NEAR(b.x, a.x, 5e-6);
                EXPECT_NEAR(b.z, a.z, 5e-6);
                EXPECT_EQ(b.azimuth, 0.0);
            } else if (info.format == Format::Csv) {
                EXPECT_NEAR(b.x, a.x, 5e-7);
                EXPECT_NEAR(b.elevation, a.elevation, 5e-7);
            } else if (text) {
                // Six decimals, then read into the F4 columns the header declares.
                EXPECT_NEAR(b.x, a.x, 5e-7 + std::abs(a.x) * 1e-7);
                EXPECT_NEAR(b.elevation, a.elevation, 5e-7 + std::abs(a.elevation) * 1e-7);
            } else {
                EXPECT_EQ(b.x, f4(a.x));
                EXPECT_EQ(b.range, f4(a.range));
                EXPECT_EQ(b.azimuth, f4(a.azimuth));
            }
            EXPECT_EQ(b.intensity, a.intensity);
            EXPECT_EQ(b.reflectance, a.reflectance);
            EXPECT_EQ(b.pulseShapeDeviation, a.pulseShapeDeviation);
            // The U4 columns keep the largest timestamp as 4294967295; LAS and CSV keep it.
            const bool u4 = !las && info.format != Format::Csv;
            EXPECT_EQ(b.timestamp,
                      u4 ? static_cast<double>(timestampU4(a.timestamp)) : a.timestamp);
        }
        EXPECT_EQ(back.points[1].timestamp,
                  las || info.format == Format::Csv ? 4294967296.0 : 4294967295.0);
    }
    EXPECT_EQ(entries().size(), 4u); // .pcd, .ply, .las, .csv: each rewrite replaced the last
}

TEST_F(Formats, OnlySelectedColumnsAreWritten) {
    WriteOptions options;
    options.fields = forModel(FieldSelection{}, LIDAR_GENERIC);
    const std::deque<DataPoint> points = devicePoints(10);
    ASSERT_TRUE(write((dir / "s.csv").string(), Format::Csv, points, options).ok);
    const std::string csv = readAll(dir / "s.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "x,y,z,amplitude,timestamp");
    EXPECT_NE(csv.find(",4294967296\n"), std::string::npos);

    ASSERT_TRUE(write((dir / "s.ply").string(), Format::PlyAscii, points, options).ok);
    const ReadResult ply = read((dir / "s.ply").string());
    ASSERT_TRUE(ply.ok) << ply.error;
    EXPECT_FALSE(ply.fields.reflectance);
    EXPECT_EQ(ply.points[3].reflectance, 0.0);

    options.fields = noFields();
    options.fields.x = true;
    ASSERT_TRUE(write((dir / "x.las").string(), Format::Las, points, options).ok);
    const ReadResult las = read((dir / "x.las").string());
    ASSERT_TRUE(las.ok) << las.error;
    EXPECT_FALSE(las.fields.reflectance);
    EXPECT_NEAR(las.points[4].y, points[4].y, 1e-5); // LAS always holds x, y and z
}

TEST_F(Formats, EmptyPointSetsInEveryFormat) {
    for (const FormatInfo& info : allFormats()) {
        const fs::path file = dir / (std::string("empty") + info.extension);
        ASSERT_TRUE(write(file.string(), info.format, {}, {}).ok) << info.name;
        const ReadResult back = read(file.string(), info.format);
        EXPECT_TRUE(back.ok) << info.name << ": " << back.error;
        EXPECT_TRUE(back.points.empty());
    }
}

TEST_F(Formats, PclReadsOurPcdAndPlyFiles) {
    const std::deque<DataPoint> points = devicePoints(500);
    WriteOptions options;
    options.fields = allFields();
    for (Format f :
         {Format::PcdBinary, Format::PcdBinaryCompressed, Format::PlyBinary, Format::PlyAscii}) {
        const bool ply = f == Format::PlyBinary || f == Format::PlyAscii;
        const fs::path file = dir / (ply ? "p.ply" : "p.pcd");
        ASSERT_TRUE(write(file.string(), f, points, options).ok);
        pcl::PCLPointCloud2 cloud;
        ASSERT_EQ(ply ? pcl::io::loadPLYFile(file.string(), cloud)
                      : pcl::io::loadPCDFile(file.string(), cloud),
                  0)
            << formatInfo(f).name;
        ASSERT_EQ(cloud.width * cloud.height, 500u);
        ASSERT_EQ(cloud.fields.size(), 10u);
        EXPECT_EQ(cloud.fields[6].name, "amplitude");
        EXPECT_EQ(cloud.fields[9].datatype, pcl::PCLPointField::UINT32);
        std::uint32_t stamp = 0;
        std::memcpy(&stamp, cloud.data.data() + cloud.point_step + cloud.fields[9].offset, 4);
        EXPECT_EQ(stamp, 4294967295u);

        pcl::PointCloud<pcl::PointXYZ> xyz;
        ASSERT_EQ(ply ? pcl::io::loadPLYFile(file.string(), xyz)
                      : pcl::io::loadPCDFile(file.string(), xyz),
                  0);
        EXPECT_EQ(xyz[123].x, f4(points[123].x));
        EXPECT_EQ(xyz[499].z, f4(points[499].z));
    }
}

TEST_F(Formats, WeReadPclsPlyFiles) {
    pcl::PointCloud<pcl::PointXYZI> cloud;
    for (int i = 0; i < 40; ++i) {
        cloud.push_back(pcl::PointXYZI(i * 0.5f, -i, 2.0f * i, 100.0f + i));
    }
    for (bool binary : {true, false}) {
        const fs::path file = dir / "pcl.ply";
        ASSERT_EQ(pcl::io::savePLYFile(file.string(), cloud, binary), 0);
        const ReadResult back = read(file.string());
        ASSERT_TRUE(back.ok) << back.error;
        ASSERT_EQ(back.points.size(), 40u);
        EXPECT_EQ(back.points[9].x, 4.5);
        EXPECT_EQ(back.points[9].y, -9.0);
        EXPECT_EQ(back.points[9].intensity, 109.0);
        EXPECT_TRUE(back.fields.intensity);
    }
}

TEST_F(Formats, LasHeaderAndRecords) {
    std::deque<DataPoint> points = devicePoints(100);
    WriteOptions options; // reflectance and pulse shape deviation on by default
    ASSERT_TRUE(write((dir / "s.las").string(), Format::Las, points, options).ok);
    const std::string las = readAll(dir / "s.las");
    auto u16 = [&](std::size_t at) {
        std::uint16_t v;
        std::memcpy(&v, &las[at], 2);
        return v;
    };
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, &las[at], 4);
        return v;
    };
    auto f64 = [&](std::size_t at) {
        double v;
        std::memcpy(&v, &las[at], 8);
        return v;
    };
    EXPECT_EQ(las.substr(0, 4), "LASF");
    EXPECT_EQ(las[24], 1);
    EXPECT_EQ(las[25], 4);
    EXPECT_EQ(u16(94), 375);
    EXPECT_EQ(u32(96), 375u + 54 + 2 * 192);
    EXPECT_EQ(u32(100), 1u);
    EXPECT_EQ(las[104], 1);
    EXPECT_EQ(u16(105), 28 + 8);
    EXPECT_EQ(u32(107), 100u);
    EXPECT_EQ(las.size(), 375u + 54 + 2 * 192 + 100 * 36);
    EXPECT_EQ(las.substr(375 + 2, 9), "LASF_Spec");
    EXPECT_EQ(u16(375 + 18), 4);
    EXPECT_EQ(las.substr(375 + 54 + 4, 11), "reflectance");
    EXPECT_EQ(las[375 + 54 + 2], 9); // float
    // The bounds are the data's, and every coordinate is within half a step of its value.
    double maxX = points[0].x;
    for (const DataPoint& p : points) {
        maxX = std::max(maxX, p.x);
    }
    EXPECT_EQ(f64(179), maxX);
    const double scale = f64(131);
    EXPECT_GT(scale, 0.0);
    EXPECT_LE(scale, 1e-5);
    const std::size_t first = u32(96);
    std::int32_t x0;
    std::memcpy(&x0, &las[first], 4);
    EXPECT_NEAR(x0 * scale + f64(155), points[0].x, scale / 2 + 1e-9);
    EXPECT_EQ(static_cast<unsigned char>(las[first + 14]), 0x09); // return 1 of 1
    EXPECT_EQ(f64(first + 20), points[0].timestamp);

    // Far from the origin and widely spread: the scale grows, the coordinates still fit.
    points[5].x = 4.0e7;
    points[6].x = -3.0e7;
    ASSERT_TRUE(write((dir / "wide.las").string(), Format::Las, points, options).ok);
    const ReadResult wide = read((dir / "wide.las").string());
    ASSERT_TRUE(wide.ok) << wide.error;
    const std::string wideLas = readAll(dir / "wide.las");
    double wideScale;
    std::memcpy(&wideScale, &wideLas[131], 8);
    EXPECT_EQ(wideScale, 0.1);
    EXPECT_NEAR(wide.points[5].x, 4.0e7, 0.05);
    EXPECT_NEAR(wide.points[6].x, -3.0e7, 0.05);
    EXPECT_NEAR(wide.points[7].x, points[7].x, 0.05);

    points[8].z = std::nan("");
    const Outcome refused = write((dir / "nan.las").string(), Format::Las, points, options);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("point 9"), std::string::npos) << refused.error;
    EXPECT_FALSE(fs::exists(dir / "nan.las"));
}

TEST_F(Formats, CancelledWorkLeavesNothing) {
    const std::deque<DataPoint> points = devicePoints(100000);
    writeBytes(dir / "keep.las", "old contents");
    for (const FormatInfo& info : allFormats()) {
        SCOPED_TRACE(info.name);
        std::uint64_t calls = 0;
        const Outcome o = write((dir / "keep.las").string(), info.format, points, {},
                                [&](std::uint64_t done, std::uint64_t total) {
                                    EXPECT_LE(done, total);
                                    ++calls;
                                },
                                [&] { return calls >= 2; });
        EXPECT_FALSE(o.ok);
        EXPECT_TRUE(o.cancelled);
        EXPECT_EQ(o.error, "");
    }
    EXPECT_EQ(readAll(dir / "keep.las"), "old contents");
    EXPECT_EQ(entries(), std::vector<std::string>{"keep.las"});

    for (const FormatInfo& info : allFormats()) {
        SCOPED_TRACE(info.name);
        const fs::path file = dir / (std::string("big") + info.extension);
        ASSERT_TRUE(write(file.string(), info.format, points, {}).ok);
        std::uint64_t last = 0;
        std::uint64_t lastTotal = 1;
        const ReadResult all =
            read(file.string(), info.format, [&](std::uint64_t done, std::uint64_t total) {
                last = done;
                lastTotal = total;
            });
        ASSERT_TRUE(all.ok) << all.error;
        EXPECT_EQ(last, lastTotal); // the final report
        int polls = 0;
        const ReadResult stopped =
            read(file.string(), info.format, {}, [&] { return ++polls > 1; });
        EXPECT_TRUE(stopped.cancelled);
        EXPECT_FALSE(stopped.ok);
        EXPECT_TRUE(stopped.points.empty());
    }
}

TEST_F(Formats, WriteFailuresLeaveNoFile) {
    const std::deque<DataPoint> points = devicePoints(10);
    const Outcome missing = write((dir / "no" / "such.ply").string(), Format::PlyBinary, points);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error, "");
    const Outcome folder = write(dir.string(), Format::Csv, points);
    EXPECT_FALSE(folder.ok);
    if (fs::exists("/dev/full")) {
        const Outcome full = write("/dev/full", Format::PcdBinary, points);
        EXPECT_FALSE(full.ok);
        EXPECT_NE(full.error, "");
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
        // Blocks written straight through fail the same way, with the system's reason.
        PointArray many(100000);
        const Outcome large = write("/dev/full", Format::Las, many.data(), many.size());
        EXPECT_FALSE(large.ok);
        EXPECT_EQ(large.error, std::strerror(ENOSPC));
    }
    EXPECT_TRUE(entries().empty());

    // A link is followed: its target is replaced, the link stays.
    writeBytes(dir / "target.csv", "old");
    fs::create_symlink(dir / "target.csv", dir / "link.csv");
    ASSERT_TRUE(write((dir / "link.csv").string(), Format::Csv, points).ok);
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
    EXPECT_EQ(readAll(dir / "target.csv").substr(0, 2), "x,");
}

// The binary writers set the file's blocks aside from the declared count before the points: a
// file ends where its bytes end, and one given fewer points than declared is not left at all.
TEST_F(Formats, PreSizedFilesEndWhereTheirBytesEnd) {
    const std::deque<DataPoint> points = devicePoints(30000);
    const std::vector<DataPoint> chunk(points.begin(), points.end());
    for (const Format format : {Format::PcdBinary, Format::PlyBinary, Format::Las}) {
        SCOPED_TRACE(formatInfo(format).name);
        const fs::path file = dir / (std::string("short") + formatInfo(format).extension);
        Extent extent;
        extent.add(chunk.data(), chunk.size());
        extent.count = 2 * chunk.size();
        std::string error;
        std::unique_ptr<PointWriter> writer =
            createWriter(file.string(), format, {}, extent, error);
        ASSERT_TRUE(writer) << error;
        ASSERT_TRUE(writer->write(chunk.data(), chunk.size()));
        const Outcome cut = writer->finish();
        EXPECT_FALSE(cut.ok);
        EXPECT_EQ(cut.error, "the input gave 30000 points, not the 60000 its header declares");
        EXPECT_TRUE(entries().empty());

        ASSERT_TRUE(write(file.string(), format, points).ok);
        const std::string bytes = readAll(file);
        const std::size_t record = format == Format::Las ? 28 + 8 : 4 * 7;
        std::uint32_t lasOffset = 0;
        std::memcpy(&lasOffset, &bytes[96], 4);
        const std::size_t data = format == Format::Las         ? lasOffset
                                 : format == Format::PlyBinary ? bytes.find("end_header\n") + 11
                                                               : bytes.find("DATA binary\n") + 12;
        EXPECT_EQ(fs::file_size(file), data + points.size() * record);
        const ReadResult back = read(file.string(), format);
        ASSERT_TRUE(back.ok) << back.error;
        EXPECT_EQ(back.points.size(), points.size());
        fs::remove(file);
    }
}

TEST_F(Formats, FormatFromContentWhenTheExtensionSaysNothing) {
    const std::deque<DataPoint> points = devicePoints(20);
    for (Format f : {Format::Las, Format::PlyBinary, Format::PcdBinary}) {
        const fs::path file = dir / "scan.dat";
        ASSERT_TRUE(write(file.string(), f, points).ok);
        const ReadResult back = read(file.string());
        ASSERT_TRUE(back.ok) << formatInfo(f).name << ": " << back.error;
        EXPECT_EQ(back.format, f);
        EXPECT_EQ(back.points.size(), 20u);
    }
}
