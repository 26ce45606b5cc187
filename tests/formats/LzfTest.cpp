// The LZF decompressor and compressor of compressed PCD bodies against PCL's: the same bytes
// back from what PCL packs, the same verdict on damaged data, and what we pack unpacked by PCL as
// by us, within the bound, in files PCL reads.
#include "Lzf.h"
#include "Formats.h"
#include "ObservationPoint.h"
#include "PointStream.h"
#include "ScratchFiles.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/io/lzf.h>
#include <pcl/io/pcd_io.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes packed(const Bytes& plain) {
    Bytes out(plain.size() + plain.size() / 2 + 16);
    const unsigned n = pcl::lzfCompress(plain.data(), static_cast<unsigned>(plain.size()),
                                        out.data(), static_cast<unsigned>(out.size()));
    out.resize(n);
    return out;
}

// Columns of floats as a point file holds them: runs, repeats near and far, noise.
Bytes columns(std::size_t n, std::mt19937& random) {
    Bytes plain;
    std::uniform_real_distribution<float> noise(-100.0f, 100.0f);
    for (std::size_t i = 0; i < n; ++i) {
        float v = 0.0f;
        switch (i / 997 % 4) {
        case 0:
            v = static_cast<float>(i % 37); // short repeats
            break;
        case 1:
            v = noise(random); // nothing to find
            break;
        case 2:
            v = 5.0f; // one long run
            break;
        default:
            v = static_cast<float>(i % 1500); // repeats 6 kB back
            break;
        }
        unsigned char b[4];
        std::memcpy(b, &v, 4);
        plain.insert(plain.end(), b, b + 4);
    }
    return plain;
}

Bytes ourPacking(const Bytes& plain) {
    Bytes out(formats::lzf::compressBound(plain.size()));
    out.resize(formats::lzf::compress(plain.data(), plain.size(), out.data(), out.size()));
    return out;
}

// Data of every kind a compressor finds hard: noise, one byte repeated (copies overlapping
// themselves, of the longest length), repeats just within and just beyond the 8 kB reach.
std::vector<std::pair<const char*, Bytes>> hardData(std::size_t n, std::mt19937& random) {
    Bytes noise(n);
    for (unsigned char& b : noise) {
        b = static_cast<unsigned char>(random());
    }
    Bytes within(n);
    Bytes beyond(n);
    for (std::size_t i = 0; i < n; ++i) {
        within[i] = i < 8192 ? noise[i] : within[i - 8192];
        beyond[i] = i < 8193 ? noise[i] : beyond[i - 8193];
    }
    return {{"columns", columns(n / 4, random)},
            {"noise", noise},
            {"one byte", Bytes(n, 0x5A)},
            {"8192 back", within},
            {"8193 back", beyond}};
}

} // namespace

// Round trips at sizes about the literal runs' 32 bytes, the longest copy and beyond: PCL's
// decompressor and ours give back the data, and the packing stays within the bound.
TEST(Lzf, WhatWePackBothUnpack) {
    std::mt19937 random(5);
    EXPECT_EQ(formats::lzf::compress(nullptr, 0, nullptr, 0), 0u);
    for (const std::size_t n : {1, 2, 3, 4, 5, 31, 32, 33, 64, 265, 1000, 20000, 300000}) {
        for (const auto& [kind, plain] : hardData(n, random)) {
            SCOPED_TRACE(std::string(kind) + ", " + std::to_string(n));
            if (plain.empty()) {
                continue;
            }
            const Bytes in = ourPacking(plain);
            ASSERT_GT(in.size(), 0u);
            EXPECT_LE(in.size(), formats::lzf::compressBound(plain.size()));
            Bytes ours(plain.size());
            ASSERT_EQ(formats::lzf::decompress(in.data(), in.size(), ours.data(), ours.size()),
                      plain.size());
            EXPECT_TRUE(ours == plain);
            Bytes theirs(plain.size());
            ASSERT_EQ(pcl::lzfDecompress(in.data(), static_cast<unsigned>(in.size()), theirs.data(),
                                         static_cast<unsigned>(theirs.size())),
                      plain.size());
            EXPECT_TRUE(theirs == plain);
        }
    }
}

// Repeats shrink (a run of one byte to a few percent, copies from the edge of the reach to a
// fifth), noise and copies from beyond the reach grow by no more than its control
// bytes, and output that would not fit is refused without a byte written past the room.
TEST(Lzf, PacksRepeatsAndKeepsWithinItsRoom) {
    std::mt19937 random(9);
    const auto data = hardData(100000, random);
    EXPECT_LT(ourPacking(data[2].second).size(), 100000u / 50);
    EXPECT_LT(ourPacking(data[3].second).size(), 100000u / 5);
    EXPECT_GT(ourPacking(data[4].second).size(), 100000u); // nothing within reach
    for (const auto& [kind, plain] : data) {
        SCOPED_TRACE(kind);
        const std::size_t size = ourPacking(plain).size();
        Bytes out(size + 64, 0xAB);
        EXPECT_EQ(formats::lzf::compress(plain.data(), plain.size(), out.data(), size - 1), 0u);
        for (std::size_t i = size - 1; i < out.size(); ++i) {
            ASSERT_EQ(out[i], 0xAB) << i;
        }
        EXPECT_EQ(formats::lzf::compress(plain.data(), plain.size(), out.data(), size), size);
    }
}

// Compressed PCD files of sizes about the chunk's, empty ones too, packed by us: PCL reads the
// points it reads from the same points in a binary file, and so do we.
TEST(Lzf, PclReadsOurCompressedFiles) {
    testing_support::ScratchDir scratch{"lzf_test"};
    formats::PointArray points;
    for (std::size_t i = 0; i < 3 * formats::kChunkPoints + 3; ++i) {
        points.push_back(formats::makeDataPoint(0.01 * static_cast<double>(i % 3000), -10.0,
                                                500 + i % 7000, 40 * i, i % 65536, 3.0, -1.0,
                                                LIDAR_LX30, false));
    }
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, formats::kChunkPoints + 1,
                                3 * formats::kChunkPoints + 3}) {
        SCOPED_TRACE(n);
        const std::string packed = (scratch.path() / "packed.pcd").string();
        const std::string binary = (scratch.path() / "binary.pcd").string();
        ASSERT_TRUE(
            formats::write(packed, formats::Format::PcdBinaryCompressed, points.data(), n).ok);
        ASSERT_TRUE(formats::write(binary, formats::Format::PcdBinary, points.data(), n).ok);
        pcl::PCLPointCloud2 fromPacked;
        pcl::PCLPointCloud2 fromBinary;
        ASSERT_EQ(pcl::io::loadPCDFile(packed, fromPacked), 0);
        ASSERT_EQ(pcl::io::loadPCDFile(binary, fromBinary), 0);
        ASSERT_EQ(fromPacked.width, n);
        EXPECT_TRUE(fromPacked.data == fromBinary.data);
        const formats::ArrayReadResult ours = formats::readArray(packed);
        ASSERT_TRUE(ours.ok) << ours.error;
        ASSERT_EQ(ours.points.size(), n);
        const formats::ArrayReadResult plain = formats::readArray(binary);
        ASSERT_EQ(plain.points.size(), n);
        if (n > 0) {
            EXPECT_EQ(std::memcmp(ours.points.data(), plain.points.data(), n * sizeof(DataPoint)),
                      0);
        }
    }
}

TEST(Lzf, GivesBackWhatPclPacked) {
    std::mt19937 random(3);
    for (const std::size_t n : {1, 2, 9, 100, 4096, 250000}) {
        SCOPED_TRACE(n);
        const Bytes plain = columns(n, random);
        const Bytes in = packed(plain);
        ASSERT_GT(in.size(), 0u);
        Bytes out(plain.size());
        ASSERT_EQ(formats::lzf::decompress(in.data(), in.size(), out.data(), out.size()),
                  plain.size());
        EXPECT_TRUE(out == plain);
        // One byte less room than the data needs: refused, not written past.
        Bytes small(plain.size() + 64, 0xAB);
        EXPECT_EQ(formats::lzf::decompress(in.data(), in.size(), small.data(), plain.size() - 1),
                  0u);
        for (std::size_t i = plain.size() - 1; i < small.size(); ++i) {
            ASSERT_EQ(small[i], 0xAB) << i;
        }
    }
}

TEST(Lzf, DamagedDataAsPclJudgesIt) {
    // A reference before the start, a literal run past the end, a reference cut short.
    const Bytes before = {0x01, 'a', 'b', 0x20, 0x05};
    const Bytes longRun = {0x05, 'a', 'b'};
    const Bytes cut = {0x00, 'a', 0xE0};
    for (const Bytes* in : {&before, &longRun, &cut}) {
        Bytes out(64);
        EXPECT_EQ(formats::lzf::decompress(in->data(), in->size(), out.data(), out.size()), 0u);
    }
    // Packed data with bytes changed at random: the same size back, or the same refusal, and
    // the same bytes whenever both give them.
    std::mt19937 random(11);
    const Bytes plain = columns(20000, random);
    const Bytes good = packed(plain);
    for (int trial = 0; trial < 400; ++trial) {
        Bytes bad = good;
        for (int k = 0; k < 1 + trial % 3; ++k) {
            bad[random() % bad.size()] = static_cast<unsigned char>(random());
        }
        if (trial % 5 == 0) {
            bad.resize(random() % bad.size());
        }
        Bytes ours(plain.size());
        Bytes theirs(plain.size());
        const std::size_t a =
            formats::lzf::decompress(bad.data(), bad.size(), ours.data(), ours.size());
        const unsigned b = pcl::lzfDecompress(bad.data(), static_cast<unsigned>(bad.size()),
                                              theirs.data(), static_cast<unsigned>(theirs.size()));
        ASSERT_EQ(a, b) << trial;
        if (a > 0) {
            ASSERT_EQ(std::memcmp(ours.data(), theirs.data(), a), 0) << trial;
        }
    }
}

// Packed data fed a piece at a time, in pieces of every size about a token's: the same bytes
// as unpacked at once, and damage found wherever a piece ends.
TEST(Lzf, PiecesGiveWhatTheWholeGives) {
    std::mt19937 random(13);
    const Bytes plain = columns(30000, random);
    const Bytes good = packed(plain);
    auto inPieces = [&plain](const Bytes& in, std::size_t size, Bytes& out) {
        out.assign(plain.size(), 0);
        Bytes piece;
        std::size_t at = 0;
        for (std::size_t from = 0; from < in.size(); from += size) {
            piece.insert(piece.end(), in.begin() + from,
                         in.begin() + std::min(in.size(), from + size));
            std::size_t used = 0;
            if (!formats::lzf::decompressPart(piece.data(), piece.size(), out.data(), out.size(),
                                              at, used)) {
                return std::size_t{0};
            }
            EXPECT_LT(piece.size() - used, formats::lzf::kLongestToken);
            piece.erase(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(used));
        }
        return piece.empty() ? at : 0;
    };
    for (const std::size_t size : {1, 2, 3, 32, 33, 34, 1000, 200000}) {
        SCOPED_TRACE(size);
        Bytes out;
        ASSERT_EQ(inPieces(good, size, out), plain.size());
        EXPECT_TRUE(out == plain);
        for (int trial = 0; trial < 40; ++trial) {
            Bytes bad = good;
            bad[random() % bad.size()] = static_cast<unsigned char>(random());
            if (trial % 4 == 0) {
                bad.resize(random() % bad.size());
            }
            Bytes whole(plain.size());
            const std::size_t once =
                formats::lzf::decompress(bad.data(), bad.size(), whole.data(), whole.size());
            ASSERT_EQ(inPieces(bad, size, out), once) << trial;
            if (once > 0) {
                ASSERT_TRUE(out == whole) << trial;
            }
        }
    }
}
