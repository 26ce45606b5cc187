#include "ObservationPoint.h"
#include "DataPoint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace formats;

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

    const DataPoint generic = makeDataPoint(10, 5, 100, 7, 1234, -12, 34, LIDAR_GENERIC, true);
    EXPECT_EQ(generic.intensity, 1234);
    EXPECT_EQ(generic.reflectance, 0);
    EXPECT_EQ(generic.pulseShapeDeviation, 0);
}

TEST(MakeDataPoint, Lx20HighSpeedHasZeroIntensity) {
    const DataPoint fast = makeDataPoint(1, 2, 3, 4, 0x1234, 5, 6, LIDAR_LX20, true);
    EXPECT_EQ(fast.intensity, 0.0);
    EXPECT_EQ(fast.reflectance, 0.0);

    // The amplitude arrives through a float and is kept as one.
    const DataPoint slow = makeDataPoint(1, 2, 3, 4, 0x1234 + 0.5, 5, 6, LIDAR_LX20, false);
    EXPECT_EQ(slow.intensity, 0x1234 + 0.5);
    EXPECT_EQ(slow.reflectance, 0.0);
}

TEST(DataPointStorage, DeviceValuesInSinglePrecision) {
    // The buffer's memory per point is what matters at ten million points.
    EXPECT_EQ(sizeof(DataPoint), 56u);
    const float angle = 123.456789f;
    const DataPoint p = makeDataPoint(angle, -angle / 3.0f, 65535.0, 4294967296u, 65535.0, -32768.0,
                                      32767.0, LIDAR_LX30, false);
    EXPECT_EQ(p.azimuth, angle);
    EXPECT_EQ(p.timestamp, 4294967296.0);
    EXPECT_EQ(p.reflectance, -32768.0f);
    // The coordinates come from the values as received, in double precision.
    EXPECT_EQ(p.x, sphericalToCartesian(angle, -angle / 3.0f, 65535.0).x);
}

TEST(TruncateIntensity, ClampsToTheUnsignedRange) {
    EXPECT_EQ(truncateIntensity(-5.5), 0u);
    EXPECT_EQ(truncateIntensity(1e12), 4294967295u);
    EXPECT_EQ(truncateIntensity(std::numeric_limits<double>::infinity()), 4294967295u);
    EXPECT_EQ(truncateIntensity(65535.99), 65535u);
    EXPECT_EQ(truncateIntensity(std::nan("")), 0u);
}
