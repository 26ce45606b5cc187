#include "PointBuffer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace viewer;

TEST(IntensityRange, WhichModelsWidenIt) {
    EXPECT_TRUE(widensIntensityRange(LIDAR_LX30, true));
    EXPECT_TRUE(widensIntensityRange(LIDAR_LX20, false));
    EXPECT_FALSE(widensIntensityRange(LIDAR_LX20, true));
    EXPECT_FALSE(widensIntensityRange(LIDAR_GENERIC, false));
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

    const std::deque<DataPoint> former = clearBuffer(points, log);
    EXPECT_TRUE(points.empty());
    EXPECT_EQ(log.generation, 2u);
    // The former contents come back whole, for the caller to free outside the lock.
    ASSERT_EQ(former.size(), 8u);
    EXPECT_EQ(former.front().x, 2.0);
    EXPECT_EQ(former.back().x, 100.0);

    std::deque<DataPoint> smaller(3);
    const std::deque<DataPoint> replaced = replaceBuffer(points, std::move(smaller), log);
    EXPECT_TRUE(replaced.empty());
    EXPECT_EQ(points.size(), 3u);
    EXPECT_EQ(replaceBuffer(points, std::deque<DataPoint>(1), log).size(), 3u);
    EXPECT_EQ(points.size(), 1u);
    EXPECT_EQ(log.generation, 4u);
}
