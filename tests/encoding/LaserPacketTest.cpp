#include "Sentova/LaserPacket.h"

#include "ByteString.h"

#include <gtest/gtest.h>

using namespace tavrel;

using testing_support::Bytes;

namespace {
LaserPacketLayout Examine(const std::string& s) {
    return examineLaserPacket(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}
} // namespace

TEST(LaserRecordDecode, FieldsAndSigns) {
    const std::string r = Bytes({0x01, 0x00, 0x00, 0x01, 0x80, 0,    0,    0,    0x40, 0,    0,
                                 0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00});
    const LaserRecord d = decodeData(r.data());
    EXPECT_EQ(d.timestamp, 16777217u);
    EXPECT_DOUBLE_EQ(d.azimuth, -180.0);
    EXPECT_DOUBLE_EQ(d.elevation, 90.0);
    EXPECT_EQ(d.range, -1);
    EXPECT_EQ(d.amplitude, 65535); // unsigned
    EXPECT_EQ(d.reflectance, -1);  // signed
    EXPECT_EQ(d.pulseShapeDeviation, -32768);
}

TEST(LaserRecordDecode, EncoderRoundTrips) {
    LaserRecord in;
    in.timestamp = 4294967295u;
    in.azimuth = -90.0;
    in.elevation = 12.5;
    in.range = 1000;
    in.amplitude = 40000;
    in.reflectance = -123;
    in.pulseShapeDeviation = 77;
    const std::string bytes = encodeLaserRecord(in);
    ASSERT_EQ(bytes.size(), kLaserRecordSize);
    const LaserRecord out = decodeData(bytes.data());
    EXPECT_EQ(out.timestamp, in.timestamp);
    EXPECT_DOUBLE_EQ(out.azimuth, in.azimuth);
    EXPECT_NEAR(out.elevation, in.elevation, 1e-7);
    EXPECT_EQ(out.range, in.range);
    EXPECT_EQ(out.amplitude, in.amplitude);
    EXPECT_EQ(out.reflectance, in.reflectance);
    EXPECT_EQ(out.pulseShapeDeviation, in.pulseShapeDeviation);
}

TEST(LaserPacketLayoutRule, HeaderRecordsAndDiscard) {
    const LaserRecord r;
    EXPECT_EQ(Examine("EBRBEP").records, 0u);
    EXPECT_FALSE(Examine("EBRBEP").discarded);
    EXPECT_EQ(Examine("EBRBEP" + std::string(21, 'x')).records, 0u);
    const std::string two = encodeLaserPacket({r, r}) + "12345";
    EXPECT_EQ(Examine(two).headerSize, 6u);
    EXPECT_EQ(Examine(two).records, 2u);
    EXPECT_TRUE(Examine("EBRBEX" + encodeLaserRecord(r)).discarded);
    EXPECT_TRUE(Examine("EBR").discarded);
    // Headerless packets: records start at byte 0.
    const std::string headerless = encodeLaserPacket({r, r, r}, false);
    EXPECT_EQ(Examine(headerless).headerSize, 0u);
    EXPECT_EQ(Examine(headerless).records, 3u);
    // A headerless packet whose first timestamp byte is 0x45 ('E') is whole
    // records long; a packet that begins with 'E' and is not, is refused.
    LaserRecord e;
    e.timestamp = 0x45000000u;
    EXPECT_FALSE(Examine(encodeLaserPacket({e}, false)).discarded);
    EXPECT_EQ(Examine(encodeLaserPacket({e, r}, false)).records, 2u);
    EXPECT_EQ(Examine(encodeLaserPacket({e, r}, false)).headerSize, 0u);
    EXPECT_TRUE(Examine(encodeLaserPacket({e}, false) + "x").discarded);
    EXPECT_TRUE(Examine("E").discarded);
    EXPECT_EQ(Examine(std::string()).records, 0u);
    EXPECT_FALSE(Examine(std::string()).discarded);
}
