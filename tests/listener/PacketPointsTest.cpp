#include "ObservationDecoding.h"
#include "Sentova/LaserPacket.h"
#include "grabber.h"

#include "ByteString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using Cloud = pcl::SentovaGrabber::Cloud;

using testing_support::Bytes;

namespace {
const unsigned char* Data(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}
bool Append(Cloud& cloud, const std::string& packet) {
    return pcl::SentovaGrabber::appendPacketPoints(cloud, Data(packet), packet.size());
}
std::string TwoRecords(std::uint32_t firstTimestamp) {
    tavrel::LaserRecord r;
    r.timestamp = firstTimestamp;
    std::string s = tavrel::encodeLaserRecord(r);
    r.timestamp = 7;
    return s + tavrel::encodeLaserRecord(r);
}
} // namespace

TEST(PacketPoints, RecordFieldsKeepSignsThroughTheCloudPoint) {
    // timestamp 16777217, azimuth -180, elevation 90, range -1, amplitude 65535,
    // reflectance -1, pulse shape deviation -32768
    const std::string record =
        Bytes({0x01, 0x00, 0x00, 0x01, 0x80, 0,    0,    0,    0x40, 0,    0,
               0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00});
    Cloud cloud;
    ASSERT_TRUE(Append(cloud, record));
    ASSERT_EQ(cloud.size(), 1u);
    const pcl::PointXYZINormal& p = cloud.points[0];
    EXPECT_EQ(p.x, -180.0f);
    EXPECT_EQ(p.y, 90.0f);
    EXPECT_EQ(p.z, -1.0f);
    EXPECT_EQ(p.intensity, 65535.0f);
    EXPECT_EQ(p.normal_x, -1.0f);
    EXPECT_EQ(p.normal_y, -32768.0f);
    EXPECT_EQ(p.normal_z, 16777216.0f); // rounded to 24 significant bits
    EXPECT_EQ(p.data[3], 1.0f);
    EXPECT_EQ(p.data_n[3], 0.0f);
    EXPECT_EQ(cloud.width, 1u);
    EXPECT_EQ(cloud.height, 1u);
    EXPECT_TRUE(cloud.is_dense);
}

TEST(PacketPoints, FloatRoundingOfAnglesAndLargeTimestamps) {
    const std::string record = Bytes(
        {0xFF, 0xFF, 0xFF, 0xFF, 0x0E, 0x38, 0xE3, 0x8E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Cloud cloud;
    ASSERT_TRUE(Append(cloud, "EBRBEP" + record));
    ASSERT_EQ(cloud.size(), 1u);
    EXPECT_EQ(cloud.points[0].x, 20.0f);
    EXPECT_NEAR(cloud.points[0].y, 8.38e-8f, 1e-9f);
    EXPECT_EQ(cloud.points[0].normal_z, 4294967296.0f);

    unsigned int timestamp = 0;
    pcl::SentovaGrabber::computeTimestamp(timestamp, Data(record));
    EXPECT_EQ(timestamp, 4294967295u); // exact before it becomes a float
}

TEST(PacketPoints, HeaderRule) {
    Cloud cloud;
    EXPECT_TRUE(Append(cloud, "EBRBEP" + TwoRecords(1)));
    EXPECT_EQ(cloud.size(), 2u);
    EXPECT_TRUE(Append(cloud, TwoRecords(1))); // headerless, first byte 0
    EXPECT_EQ(cloud.size(), 4u);
    EXPECT_EQ(cloud.width, 4u);

    // A headerless packet whose first timestamp byte happens to be 0x45 ('E')
    // is whole records long, so it is kept.
    EXPECT_TRUE(Append(cloud, TwoRecords(0x45000000u)));
    EXPECT_EQ(cloud.size(), 6u);
    // Packets that begin with 'E' without the full header and are not whole
    // records are dropped whole.
    EXPECT_FALSE(Append(cloud, "EBRBEX" + TwoRecords(1)));
    EXPECT_FALSE(Append(cloud, TwoRecords(0x45000000u) + "x"));
    EXPECT_FALSE(Append(cloud, "EBR"));
    EXPECT_EQ(cloud.size(), 6u);

    // Empty and header-only packets are kept but add nothing.
    EXPECT_TRUE(Append(cloud, ""));
    EXPECT_TRUE(Append(cloud, "EBRBEP"));
    EXPECT_EQ(cloud.size(), 6u);
}

TEST(PacketPoints, PartialTrailingRecordIsIgnored) {
    Cloud cloud;
    EXPECT_TRUE(Append(cloud, "EBRBEP" + std::string(21, '\x01')));
    EXPECT_EQ(cloud.size(), 0u);
    EXPECT_EQ(cloud.width, 0u);
    EXPECT_TRUE(Append(cloud, "EBRBEP" + TwoRecords(3) + "\x01\x02\x03\x04\x05"));
    ASSERT_EQ(cloud.size(), 2u);
    EXPECT_EQ(cloud.points[0].normal_z, 3.0f);
    EXPECT_EQ(cloud.points[1].normal_z, 7.0f);
}

TEST(PacketPoints, AccumulationGrowsTheCloudGeometrically) {
    // A large signal size accumulates many packets in one cloud: growing its
    // storage by exactly each packet's records would copy it on every packet.
    Cloud cloud;
    const std::string packet = "EBRBEP" + TwoRecords(1);
    std::size_t reallocations = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::size_t capacity = cloud.points.capacity();
        ASSERT_TRUE(Append(cloud, packet));
        if (cloud.points.capacity() != capacity)
            ++reallocations;
    }
    EXPECT_EQ(cloud.size(), 10000u);
    EXPECT_LT(reallocations, 40u);
}

TEST(PacketPoints, ObservationFromRecord) {
    // azimuth C0 00 00 00, elevation 0, range 00 00 03 E8
    const std::string record =
        Bytes({0x00, 0xFF, 0xFF, 0xFF, 0xC0, 0,    0,    0,    0,    0,    0,
               0,    0x00, 0x00, 0x03, 0xE8, 0x12, 0x34, 0xFF, 0xFE, 0x00, 0x05});
    const tavrel::tavrel_rbe_obs_t obs = tavrel::observationFromRecord(Data(record));
    EXPECT_EQ(obs.azimuth, -90.0);
    EXPECT_EQ(obs.elevation, 0.0);
    EXPECT_EQ(obs.range, 1000.0);
    EXPECT_EQ(obs.timestamp, 16777215u);
    EXPECT_EQ(obs.amplitude, 0x1234);
    EXPECT_EQ(obs.reflectance, -2.0);
    EXPECT_EQ(obs.pulse_shape_deviation, 5.0);

    // The cloud point is the observation in single precision.
    pcl::PointXYZINormal p;
    pcl::SentovaGrabber::pointFromObservation(p, obs);
    Cloud cloud;
    ASSERT_TRUE(Append(cloud, record));
    EXPECT_EQ(p.x, cloud.points.at(0).x);
    EXPECT_EQ(p.normal_z, cloud.points.at(0).normal_z);
    EXPECT_EQ(p.intensity, cloud.points.at(0).intensity);
    EXPECT_EQ(p.data[3], 1.0f);

    // The largest time stamp and an odd angle stay exact, unlike in the point.
    const std::string odd = Bytes(
        {0xFF, 0xFF, 0xFF, 0xFF, 0x0E, 0x38, 0xE3, 0x8E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const tavrel::tavrel_rbe_obs_t exact = tavrel::observationFromRecord(Data(odd));
    EXPECT_EQ(exact.timestamp, 4294967295u);
    EXPECT_EQ(exact.azimuth, 0x0E38E38E * (360.0 / 4294967296.0));
    EXPECT_EQ(exact.elevation, 360.0 / 4294967296.0);
}
