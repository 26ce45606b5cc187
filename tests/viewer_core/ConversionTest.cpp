#include "DataPoint.h"
#include "PointConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace viewer;

TEST(SphericalToCartesian, AxesFollowTheDeviceConvention) {
    const Cartesian ahead = sphericalToCartesian(0.0, 0.0, 10.0);
    EXPECT_NEAR(ahead.x, 0.0, 1e-12);
    EXPECT_DOUBLE_EQ(ahead.y, 10.0);
    EXPECT_NEAR(ahead.z, 0.0, 1e-12);

    const Cartesian right = sphericalToCartesian(90.0, 0.0, 7.5);
    EXPECT_DOUBLE_EQ(right.x, 7.5);
    EXPECT_NEAR(right.y, 0.0, 1e-12);

    for (double az : {-180.0, -45.0, 0.0, 123.0}) {
        const Cartesian up = sphericalToCartesian(az, 90.0, 3.0);
        EXPECT_NEAR(up.x, 0.0, 1e-12);
        EXPECT_NEAR(up.y, 0.0, 1e-12);
        EXPECT_DOUBLE_EQ(up.z, 3.0);
    }

    const Cartesian c = sphericalToCartesian(30.0, -20.0, 2.0);
    EXPECT_NEAR(std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z), 2.0, 1e-12);
    EXPECT_LT(c.z, 0.0);
}

TEST(MakeDataPoint, PerModelFields) {
    const DataPoint lx30 = makeDataPoint(10, 5, 100, 4000000, 1234, -12, 34, LIDAR_LX30, false);
    EXPECT_EQ(lx30.azimuth, 10);
    EXPECT_EQ(lx30.elevation, 5);
    EXPECT_EQ(lx30.range, 100);
    EXPECT_EQ(lx30.timestamp, 4000000.0);
    EXPECT_EQ(lx30.intensity, 1234);
    EXPECT_EQ(lx30.reflectance, -12);
    EXPECT_EQ(lx30.pulseShapeDeviation, 34);
    const Cartesian c = sphericalToCartesian(10, 5, 100);
    EXPECT_EQ(lx30.x, c.x);
    EXPECT_EQ(lx30.y, c.y);
    EXPECT_EQ(lx30.z, c.z);
    EXPECT_EQ(lx30.color.red, 0);

    const DataPoint generic = makeDataPoint(10, 5, 100, 7, 1234, -12, 34, LIDAR_GENERIC, true);
    EXPECT_EQ(generic.intensity, 1234);
    EXPECT_EQ(generic.reflectance, 0);
    EXPECT_EQ(generic.pulseShapeDeviation, 0);
    EXPECT_EQ(generic.color.green, 0);
}

TEST(MakeDataPoint, Lx20HighSpeedIsWhiteWithZeroIntensity) {
    const DataPoint fast = makeDataPoint(1, 2, 3, 4, 0x1234, 5, 6, LIDAR_LX20, true);
    EXPECT_EQ(fast.intensity, 0.0);
    EXPECT_EQ(fast.color.red, 255);
    EXPECT_EQ(fast.color.green, 255);
    EXPECT_EQ(fast.color.blue, 255);
    EXPECT_EQ(fast.reflectance, 0.0);

    const DataPoint grey = makeDataPoint(1, 2, 3, 4, 0x1234 + 0.9, 5, 6, LIDAR_LX20, false);
    EXPECT_EQ(grey.intensity, 0x1234 + 0.9);
    EXPECT_EQ(grey.color.red, 0x34);
    EXPECT_EQ(grey.color.green, 0x34);
    EXPECT_EQ(grey.color.blue, 0x34);

    const DataPoint odd = makeDataPoint(1, 2, 3, 4, std::nan(""), 5, 6, LIDAR_LX20, false);
    EXPECT_EQ(odd.color.red, 0);

    EXPECT_TRUE(widensIntensityRange(LIDAR_LX30, true));
    EXPECT_TRUE(widensIntensityRange(LIDAR_LX20, false));
    EXPECT_FALSE(widensIntensityRange(LIDAR_LX20, true));
    EXPECT_FALSE(widensIntensityRange(LIDAR_GENERIC, false));
}

TEST(ModelFromSerial, FirstVariantWins) {
    EXPECT_EQ(modelFromSerial("SN-LX30-0042"), LIDAR_LX30);
    EXPECT_EQ(modelFromSerial("LX20 unit"), LIDAR_LX20);
    EXPECT_EQ(modelFromSerial("LX20/LX30"), LIDAR_LX30);
    EXPECT_EQ(modelFromSerial("lx30"), LIDAR_GENERIC);
    EXPECT_EQ(modelFromSerial(""), LIDAR_GENERIC);
}

TEST(IntensityRange, RunningUpdateTruncatesAndReportsMoves) {
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;
    EXPECT_TRUE(widenIntensityRange(100.7, minimum, maximum));
    EXPECT_EQ(maximum, 100u);
    EXPECT_EQ(minimum, 100u);
    EXPECT_FALSE(widenIntensityRange(100.0, minimum, maximum));
    EXPECT_TRUE(widenIntensityRange(3.2, minimum, maximum));
    EXPECT_EQ(minimum, 3u);
    EXPECT_FALSE(widenIntensityRange(std::nan(""), minimum, maximum));

    EXPECT_EQ(truncateIntensity(-5.5), 0u);
    EXPECT_EQ(truncateIntensity(1e12), 4294967295u);
    EXPECT_EQ(truncateIntensity(std::numeric_limits<double>::infinity()), 4294967295u);
    EXPECT_EQ(truncateIntensity(65535.99), 65535u);
}

TEST(BoundedBuffer, EvictsExactlyOneWhenFull) {
    std::deque<DataPoint> points;
    BufferLog log;
    for (int i = 0; i < 5; ++i) {
        DataPoint p;
        p.intensity = i;
        EXPECT_FALSE(appendBounded(points, p, 5, log));
    }
    DataPoint p;
    p.intensity = 5;
    EXPECT_TRUE(appendBounded(points, p, 5, log));
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points.front().intensity, 1);
    EXPECT_EQ(points.back().intensity, 5);
    EXPECT_EQ(log.appended, 6u);
    EXPECT_EQ(log.evicted, 1u);
}

TEST(BoundedBuffer, LoadedBufferAboveCapKeepsItsSize) {
    std::deque<DataPoint> points;
    BufferLog log;
    std::deque<DataPoint> loaded(8);
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        loaded[i].x = static_cast<double>(i);
    }
    replaceBuffer(points, std::move(loaded), log);
    EXPECT_EQ(log.generation, 1u);
    ASSERT_EQ(points.size(), 8u);

    DataPoint live;
    live.x = 100;
    EXPECT_TRUE(appendBounded(points, live, 5, log));
    EXPECT_TRUE(appendBounded(points, live, 5, log));
    EXPECT_EQ(points.size(), 8u);
    EXPECT_EQ(points.front().x, 2.0);
    EXPECT_EQ(points.back().x, 100.0);

    clearBuffer(points, log);
    EXPECT_TRUE(points.empty());
    EXPECT_EQ(log.generation, 2u);
}
