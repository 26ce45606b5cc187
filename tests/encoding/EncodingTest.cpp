#include "Sentova/Encoding.h"

#include "ByteString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace tavrel;

using testing_support::Bytes;

namespace {
double ReadAngle(std::string s) {
    auto it = s.begin();
    return UnpackAngle(it);
}
} // namespace

TEST(PackAngle, ExamplesAndTruncationTowardZero) {
    EXPECT_EQ(PackAngle(0.0), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(PackAngle(90.0), Bytes({0x40, 0, 0, 0}));
    EXPECT_EQ(PackAngle(-90.0), Bytes({0xC0, 0, 0, 0}));
    EXPECT_EQ(PackAngle(180.0), Bytes({0x80, 0, 0, 0}));
    EXPECT_EQ(PackAngle(-180.0), Bytes({0x80, 0, 0, 0}));
    EXPECT_EQ(PackAngle(360.0), PackAngle(0.0));
    EXPECT_EQ(PackAngle(45.5), Bytes({0x20, 0x5B, 0x05, 0xB0}));
    // Less than one count either side of zero truncates to zero, not FF FF FF FF.
    EXPECT_EQ(PackAngle(8.0e-8), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(PackAngle(-8.0e-8), Bytes({0, 0, 0, 0}));
    // One count below zero.
    EXPECT_EQ(PackAngle(-360.0 / 4294967296.0), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(PackAngle, OutOfRangeAndNotANumberSaturate) {
    EXPECT_EQ(PackAngle(std::nan("")), Bytes({0, 0, 0, 0}));
    // Saturates at the largest 64-bit count, whose low word is all ones.
    EXPECT_EQ(PackAngle(std::numeric_limits<double>::infinity()), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(PackAngle(-std::numeric_limits<double>::infinity()), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(PackAngle(1e300), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(UnpackAngle, ReadsSignedIntoHalfOpenRange) {
    EXPECT_DOUBLE_EQ(ReadAngle(Bytes({0x80, 0, 0, 0})), -180.0);
    EXPECT_DOUBLE_EQ(ReadAngle(PackAngle(270.0)), -90.0);
    EXPECT_DOUBLE_EQ(ReadAngle(Bytes({0x40, 0, 0, 0})), 90.0);
    EXPECT_NEAR(ReadAngle(Bytes({0, 0, 0, 1})), 8.381903171539307e-08, 1e-20);
}

TEST(Pack1616, ExamplesTruncationAndSaturation) {
    EXPECT_EQ(PackSpeed(1.0), Bytes({0, 1, 0, 0}));
    EXPECT_EQ(PackSpeed(0.5), Bytes({0, 0, 0x80, 0}));
    EXPECT_EQ(PackNLines(15.25), Bytes({0, 0x0F, 0x40, 0}));
    EXPECT_EQ(PackAcceleration(-1.0), Bytes({0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(PackSpeed(7.6e-6), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(PackSpeed(-0.00001), Bytes({0, 0, 0, 0}));
    // Outside (-32768, 32768): nearest representable value; NaN packs to zero.
    EXPECT_EQ(PackNLines(65535.0), Bytes({0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(PackNLines(-40000.0), Bytes({0x80, 0, 0, 0}));
    EXPECT_EQ(PackSpeed(std::numeric_limits<double>::infinity()), Bytes({0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(PackSpeed(-std::numeric_limits<double>::infinity()), Bytes({0x80, 0, 0, 0}));
    EXPECT_EQ(PackAcceleration(std::nan("")), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(PackNLines(-32768.0), Bytes({0x80, 0, 0, 0}));
}

TEST(Unpack1616, SpeedIsUnsignedAccelerationIsSigned) {
    std::string s = Bytes({0xFF, 0xFF, 0, 0});
    auto it = s.begin();
    EXPECT_DOUBLE_EQ(UnpackSpeed(it), 65535.0);
    it = s.begin();
    EXPECT_DOUBLE_EQ(UnpackAcceleration(it), -1.0);
    EXPECT_EQ(it, s.end());
}

TEST(PackIntegers, BigEndianAndZeroBytesKept) {
    EXPECT_EQ(PackArg32(0x01020304), Bytes({1, 2, 3, 4}));
    EXPECT_EQ(PackArg32(-2), Bytes({0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(PackArg16(0), std::string(2, '\0'));
    EXPECT_EQ(PackArg16(static_cast<short>(0x8001)), Bytes({0x80, 0x01}));
    EXPECT_EQ(PackArg8(-1), Bytes({0xFF}));
}

TEST(ConsumingReaders, ReadFrontAndErase) {
    std::string s = Bytes({0x00, 0x00, 0x01, 0x00, 0xFF, 0xFE, 0x7F});
    EXPECT_EQ(UnpackInt32(s), 256u);
    EXPECT_EQ(UnpackSignedInt16(s), -2);
    EXPECT_EQ(UnpackInt8(s), 0x7F);
    EXPECT_TRUE(s.empty());

    std::string t = Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(UnpackInt16(t), 0xFFFE);
    EXPECT_EQ(UnpackSignedInt32(t), -1);
}

TEST(ConsumingReaders, ShortStringsFillLowBytesWithZero) {
    std::string s = "AB";
    EXPECT_EQ(UnpackInt32(s), 0x41420000u);
    EXPECT_TRUE(s.empty());
    std::string empty;
    EXPECT_EQ(UnpackInt8(empty), 0);
    EXPECT_TRUE(empty.empty());
    std::string one = Bytes({0x80});
    EXPECT_EQ(UnpackSignedInt16(one), static_cast<short>(0x8000));
}

TEST(IteratorReaders, AdvanceWithoutChangingTheString) {
    std::string s = Bytes({0, 0, 0, 7, 0xFF, 0xFE, 0x12, 0xFF, 0xFF, 0xFF, 0xFF});
    const std::string copy = s;
    auto it = s.begin();
    EXPECT_EQ(EfficientUnpackInt32(it), 7u);
    EXPECT_EQ(EfficientUnpackInt16(it), -2);
    EXPECT_EQ(EfficientUnpackInt8(it), 0x12);
    EXPECT_EQ(EfficientUnpackSignedInt32(it), -1);
    EXPECT_EQ(it, s.end());
    EXPECT_EQ(s, copy);

    const auto* p = reinterpret_cast<const unsigned char*>(copy.data());
    EXPECT_EQ(EfficientUnpackInt32(p), 7u);
    EXPECT_EQ(p, reinterpret_cast<const unsigned char*>(copy.data()) + 4);
}
