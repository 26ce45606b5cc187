// Damaged and hostile files: every reader says what is wrong, and none crashes or reads out of
// bounds, whatever the bytes (the sanitizer builds run these too).
#include "Formats.h"
#include "ObservationPoint.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>
#include <vector>

using namespace formats;
using testing_support::readAll;
using testing_support::writeBytes;
namespace fs = std::filesystem;

namespace {

class DamagedFiles : public ::testing::Test {
protected:
    // Read both ways, into a deque and into one block, which must agree.
    ReadResult readBytes(const std::string& bytes, Format format) {
        const fs::path file = dir / "damaged";
        writeBytes(file, bytes);
        ReadResult r = read(file.string(), format);
        const ArrayReadResult a = readArray(file.string(), format);
        EXPECT_EQ(a.ok, r.ok);
        EXPECT_EQ(a.error, r.error);
        EXPECT_EQ(a.points.size(), r.points.size());
        return r;
    }

    std::string errorOf(const std::string& bytes, Format format) {
        const ReadResult r = readBytes(bytes, format);
        EXPECT_FALSE(r.ok) << bytes.substr(0, 200);
        EXPECT_TRUE(r.points.empty());
        return r.error;
    }

    testing_support::ScratchDir scratch{"formats_damaged"};
    const fs::path dir = scratch.path();
};

std::deque<DataPoint> somePoints() {
    std::deque<DataPoint> points;
    for (int i = 0; i < 12; ++i) {
        points.push_back(
            makeDataPoint(i * 7.0, i - 20.0, 500 + i, 90 + i, i * 3, -i, i, LIDAR_LX30, false));
    }
    return points;
}

} // namespace

// Cut short anywhere, or with bytes changed at random, a file gives points or an error.
TEST_F(DamagedFiles, TruncatedAndScrambledFilesNeverCrash) {
    std::mt19937 random(7);
    for (const FormatInfo& info : allFormats()) {
        SCOPED_TRACE(info.name);
        const fs::path file = dir / (std::string("good") + info.extension);
        ASSERT_TRUE(write(file.string(), info.format, somePoints()).ok);
        const std::string good = readAll(file);
        for (std::size_t cut = 0; cut < good.size(); cut += 1 + cut / 8) {
            const ReadResult r = readBytes(good.substr(0, cut), info.format);
            if (!r.ok) {
                EXPECT_NE(r.error, "") << cut;
            }
        }
        for (int trial = 0; trial < 120; ++trial) {
            std::string bad = good;
            for (int k = 0; k < 1 + trial % 4; ++k) {
                bad[random() % bad.size()] = static_cast<char>(random());
            }
            const ReadResult r = readBytes(bad, info.format);
            if (!r.ok) {
                EXPECT_NE(r.error, "");
            }
        }
    }
}

TEST_F(DamagedFiles, CsvErrorsNameTheLine) {
    EXPECT_EQ(errorOf("", Format::Csv), "the file is empty");
    EXPECT_EQ(errorOf("a,b,c\n1,2,3\n", Format::Csv), "the header row names no x, y or z column");
    EXPECT_EQ(errorOf("x,y,z\n1,2,3\n1,2\n", Format::Csv),
              "line 3: fewer values than the header row has names");
    EXPECT_EQ(errorOf("x,y,z\n1,2,3,4\n", Format::Csv),
              "line 2: more values than the header row has names");
    EXPECT_EQ(errorOf("x,y,z\n1,zwei,3\n", Format::Csv), "line 2: 'zwei' is not a number");
    EXPECT_EQ(errorOf("x,y,z\n1,,3\n", Format::Csv), "line 2: '' is not a number");
    EXPECT_EQ(errorOf("x,y,z\n1,2,3\n" + std::string(100000, '1') + "\n", Format::Csv),
              "line 3: the row is too long");

    // What spreadsheets write still reads: a byte order mark, quoted names, CRLF, semicolons,
    // blank lines, unknown columns.
    const ReadResult ok =
        readBytes("\xEF\xBB\xBF\"x\";y;note;z;amplitude\r\n1.5;-2;7;3e2;10\r\n\r\n"
                  "0;0;8;0;nan\r\n",
                  Format::Csv);
    ASSERT_TRUE(ok.ok) << ok.error;
    ASSERT_EQ(ok.points.size(), 2u);
    EXPECT_EQ(ok.points[0].x, 1.5);
    EXPECT_EQ(ok.points[0].z, 300.0);
    EXPECT_EQ(ok.points[0].intensity, 10.0);
    EXPECT_TRUE(std::isnan(ok.points[1].intensity));
    EXPECT_TRUE(ok.fields.intensity);
    EXPECT_FALSE(ok.fields.timestamp);
}

TEST_F(DamagedFiles, PlyHeadersThatDoNotAddUp) {
    const std::string start = "ply\nformat binary_little_endian 1.0\n";
    EXPECT_EQ(errorOf("plx\n", Format::PlyBinary), "not a PLY file");
    EXPECT_EQ(errorOf(start + "element vertex 1\nproperty float x\n", Format::PlyBinary),
              "the header has no end_header line");
    EXPECT_EQ(errorOf("ply\nelement vertex 0\nend_header\n", Format::PlyBinary),
              "the header has no format line");
    EXPECT_EQ(errorOf("ply\nformat binary_middle_endian 1.0\nend_header\n", Format::PlyBinary),
              "unknown PLY format 'binary_middle_endian'");
    EXPECT_EQ(errorOf(start + "property float x\nend_header\n", Format::PlyBinary),
              "a property before any element");
    EXPECT_EQ(errorOf(start + "element vertex 1\nproperty half x\nend_header\n", Format::PlyBinary),
              "a property of unknown type 'half'");
    // A list's length must be a whole number of a known type.
    for (const char* types : {"float int", "half int", "uchar half"}) {
        EXPECT_EQ(errorOf(start + "element vertex 1\nproperty list " + types +
                              " v\nproperty float x\nend_header\n",
                          Format::PlyBinary),
                  "a list property of unknown types")
            << types;
    }
    EXPECT_EQ(errorOf(start + "element face 1\nend_header\n", Format::PlyBinary),
              "the file has no vertex element");
    EXPECT_EQ(
        errorOf(start + "element vertex 1\nproperty float q\nend_header\n1234", Format::PlyBinary),
        "the vertices have no x, y or z property");
    // Billions of vertices declared, a few bytes given: refused before anything is read.
    EXPECT_EQ(errorOf(start + "element vertex 4000000000\nproperty float x\nend_header\n1234",
                      Format::PlyBinary),
              "the file holds fewer vertex items than its header declares");
    EXPECT_EQ(errorOf("ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nend_header\n"
                      "1 \n2 \n",
                      Format::PlyAscii),
              "the file ends before its last vertex");
    // Big-endian files and elements with lists before the vertices read as well.
    std::string big =
        "ply\nformat binary_big_endian 1.0\nelement meta 1\nproperty list uchar int v\n"
        "element vertex 1\nproperty double x\nproperty short y\nend_header\n";
    big += std::string("\x02\0\0\0\x01\0\0\0\x02", 9);
    big += std::string("\x3f\xf8\0\0\0\0\0\0\xff\xfe", 10); // 1.5, -2
    const ReadResult ok = readBytes(big, Format::PlyBinary);
    ASSERT_TRUE(ok.ok) << ok.error;
    ASSERT_EQ(ok.points.size(), 1u);
    EXPECT_EQ(ok.points[0].x, 1.5);
    EXPECT_EQ(ok.points[0].y, -2.0);
    EXPECT_EQ(ok.format, Format::PlyBinary);
}

TEST_F(DamagedFiles, LasFilesThatDoNotAddUp) {
    const fs::path file = dir / "good.las";
    ASSERT_TRUE(write(file.string(), Format::Las, somePoints()).ok);
    const std::string good = readAll(file);
    auto edited = [&](std::size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    EXPECT_EQ(errorOf("LASX" + good.substr(4), Format::Las), "not a LAS file");
    EXPECT_EQ(errorOf(good.substr(0, 100), Format::Las), "not a LAS file");
    EXPECT_EQ(errorOf(edited(24, "\x02"), Format::Las), "LAS version 2.4 is not supported");
    EXPECT_EQ(errorOf(edited(104, "\x81"), Format::Las),
              "compressed (LAZ) point data is not supported");
    EXPECT_EQ(errorOf(edited(104, "\x0b"), Format::Las), "point data format 11 is not supported");
    EXPECT_EQ(errorOf(edited(105, std::string("\x10\0", 2)), Format::Las),
              "the header's sizes do not add up");
    EXPECT_EQ(errorOf(edited(131, std::string(8, '\0')), Format::Las),
              "the header holds an invalid scale or offset");
    EXPECT_EQ(errorOf(edited(247, std::string("\0\0\0\0\0\0\0\x10", 8)), Format::Las),
              "the file holds fewer points than its header declares");
    EXPECT_EQ(errorOf(edited(375 + 20, std::string("\xff\xff", 2)), Format::Las),
              "the variable length records run past the point data");
    // An extra bytes record that describes more bytes than the records hold.
    EXPECT_EQ(errorOf(edited(375 + 54 + 2, "\x0a"), Format::Las),
              "the extra bytes record does not fit the point records");
}

TEST_F(DamagedFiles, PcdAsciiRowsAreChecked) {
    const std::string header = "FIELDS x y z timestamp\nSIZE 4 4 4 4\nTYPE F F F U\n"
                               "COUNT 1 1 1 1\nWIDTH 2\nHEIGHT 1\nPOINTS 2\nDATA ascii\n";
    EXPECT_EQ(errorOf(header + "1.0 2.0 3.0 4\n1.0 2.0 3.0\n", Format::PcdAscii),
              "row 2 has 3 values, not 4");
    EXPECT_EQ(errorOf(header + "1 2 3 4\n1 2 3 4 5\n", Format::PcdAscii),
              "row 2 has 5 values, not 4");
    EXPECT_EQ(errorOf(header + "1 2 x3 4\n1 2 3 4\n", Format::PcdAscii),
              "row 1: 'x3' is not a number");
    EXPECT_EQ(errorOf(header + "1 2 3 4\n", Format::PcdAscii),
              "the file holds fewer points than its header declares");
    // Blank lines between rows, tabs, CRLF; floats as floats, the U column truncated.
    const ReadResult ok =
        readBytes(header + "0.1\t2 3 4000000.9\r\n\n-1 nan 3e2 7\n", Format::PcdAscii);
    ASSERT_TRUE(ok.ok) << ok.error;
    ASSERT_EQ(ok.points.size(), 2u);
    EXPECT_EQ(ok.points[0].x, static_cast<double>(0.1f));
    EXPECT_EQ(ok.points[0].timestamp, 4000000.0);
    EXPECT_TRUE(std::isnan(ok.points[1].y));
    EXPECT_EQ(ok.points[1].z, 300.0);
    EXPECT_EQ(ok.format, Format::PcdAscii);
}

TEST_F(DamagedFiles, PcdAsciiValuesReadAsTheNearestDouble) {
    const std::string header = "FIELDS x y z\nSIZE 8 8 8\nTYPE F F F\n"
                               "COUNT 1 1 1\nWIDTH 4\nHEIGHT 1\nPOINTS 4\nDATA ascii\n";
    // Short decimals, and those too long for an exact integer of digits (16 digits and more).
    const std::vector<std::string> values = {"0.1",
                                             "-0.000000",
                                             "123456789012345",
                                             "-410.395185",
                                             ".5",
                                             "5.",
                                             "-.25",
                                             "9007199254740993",
                                             "0.300000",
                                             "0.30000000000000004",
                                             "1234567890123456.5",
                                             "4294967295.999999"};
    std::string rows;
    for (std::size_t i = 0; i < values.size(); ++i) {
        rows += values[i] + (i % 3 == 2 ? "\n" : " ");
    }
    const ReadResult ok = readBytes(header + rows, Format::PcdAscii);
    ASSERT_TRUE(ok.ok) << ok.error;
    ASSERT_EQ(ok.points.size(), 4u);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const DataPoint& p = ok.points[i / 3];
        const double read[] = {p.x, p.y, p.z};
        const double expected = std::strtod(values[i].c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&read[i % 3], &expected, sizeof expected), 0)
            << values[i] << " read as " << read[i % 3];
    }
    for (const char* bad : {"1.5.2", "--1", "-", "."}) {
        EXPECT_EQ(errorOf(header + "1 2 3\n1 2 " + bad + "\n1 2 3\n1 2 3\n", Format::PcdAscii),
                  std::string("row 2: '") + bad + "' is not a number");
    }
}
