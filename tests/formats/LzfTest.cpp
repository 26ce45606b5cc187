// The LZF decompressor of compressed PCD bodies against PCL's compressor and decompressor: the
// same bytes back from what PCL packs, and the same verdict on damaged data.
#include "Lzf.h"

#include <pcl/io/lzf.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

} // namespace

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
