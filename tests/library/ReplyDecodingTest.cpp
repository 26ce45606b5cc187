#include "ReplyDecoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tavrel;

TEST(ReplyDecoding, StemComparesCharactersTwoToFive) {
    EXPECT_TRUE(SameStem("SVHOME", "EAHOME"));
    EXPECT_TRUE(SameStem("SVGEAA\x01\x02", "ERGEAA"));
    EXPECT_FALSE(SameStem("SVHOME", "EAHOMF"));
    EXPECT_FALSE(SameStem("SVHOM", "EAHOME"));
    EXPECT_FALSE(SameStem("SVHOME", "EAHOM"));
}

TEST(ReplyDecoding, LineCountTruncatesModulo65536) {
    EXPECT_EQ(TruncateLineCount(7.9), 7);
    EXPECT_EQ(TruncateLineCount(-0.5), 0);
    EXPECT_EQ(TruncateLineCount(-1.0), 65535);
    EXPECT_EQ(TruncateLineCount(-1.7), 65535);
    EXPECT_EQ(TruncateLineCount(65536.0), 0);
    EXPECT_EQ(TruncateLineCount(65537.2), 1);
    EXPECT_EQ(TruncateLineCount(1e300), 0);
    EXPECT_EQ(TruncateLineCount(std::nan("")), 0);
    EXPECT_EQ(TruncateLineCount(std::numeric_limits<double>::infinity()), 0);
}

TEST(ReplyDecoding, VersionNumbers) {
    EXPECT_EQ(LibraryVersionNumber("3.5.548"), 35);
    EXPECT_EQ(FirmwareVersionNumber("LX30-31-0042"), 31);
    EXPECT_EQ(FirmwareVersionNumber("LX30-3x"), 3);
    EXPECT_EQ(FirmwareVersionNumber("LX30-"), 0);
    EXPECT_EQ(FirmwareVersionNumber("42abc"), 42);
    EXPECT_EQ(FirmwareVersionNumber(""), 0);
    EXPECT_TRUE(VersionsCompatible(30, 35));
    EXPECT_FALSE(VersionsCompatible(29, 35));
    EXPECT_FALSE(VersionsCompatible(31, 29));
}
