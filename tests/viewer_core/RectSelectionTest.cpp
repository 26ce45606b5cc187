#include "RectSelection.h"
#include "ObservationPoint.h"
#include "PickCamera.h"
#include "PointIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <set>
#include <vector>

using namespace viewer;

namespace {

constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;

PickCamera viewCamera(const std::array<double, 3>& eye, const std::array<double, 3>& target,
                      bool parallel = false) {
    PickCamera c;
    c.view = lookAt(eye, target, {0.0, 0.0, 1.0});
    c.projection = parallel ? orthographic(8000.0, double(kViewWidth) / kViewHeight, 1.0, 1e6)
                            : perspective(30.0, double(kViewWidth) / kViewHeight, 1.0, 1e6);
    c.width = kViewWidth;
    c.height = kViewHeight;
    return c;
}

DataPoint observedAt(double az, double el, double range) {
    return formats::makeDataPoint(az, el, range, 0, 0, 0, 0, LIDAR_GENERIC, false);
}

// A walk to its end, one slice at a time, with nothing changing in between.
SelectionWalk::Step walkAll(SelectionWalk& walk, const std::deque<DataPoint>& points,
                            const BufferLog& log, std::uint64_t back, std::size_t slice) {
    SelectionWalk::Step step = SelectionWalk::Step::More;
    while (step == SelectionWalk::Step::More) {
        step = walk.step(points, log, back, slice);
    }
    return step;
}

} // namespace

TEST(RectSelection, SamePointsAsTheIndexSelects) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-20000.0, 20000.0);
    std::vector<DataPoint> points(20000);
    for (DataPoint& p : points) {
        p.x = coordinate(random);
        p.y = coordinate(random);
        p.z = coordinate(random) / 4.0;
    }
    const PointIndex index = PointIndex::build(points, points.size(), 0);
    std::uniform_real_distribution<double> pixelX(0.0, kViewWidth);
    std::uniform_real_distribution<double> pixelY(0.0, kViewHeight);
    for (bool parallel : {false, true}) {
        const PickCamera c = viewCamera({-30000.0, -40000.0, 20000.0}, {0.0, 0.0, 0.0}, parallel);
        for (int trial = 0; trial < 5; ++trial) {
            // Corners in any order.
            const ScreenRect rect{pixelX(random), pixelY(random), pixelX(random), pixelY(random)};
            std::set<std::uint64_t> expected;
            index.select(c, rect, [&](std::uint64_t id, const float*) { expected.insert(id); });
            const RectFrustum frustum(c, rect);
            std::set<std::uint64_t> found;
            for (std::size_t i = 0; i < points.size(); ++i) {
                // The index keeps positions in single precision, as the test does here.
                if (frustum.contains(static_cast<float>(points[i].x),
                                     static_cast<float>(points[i].y),
                                     static_cast<float>(points[i].z))) {
                    found.insert(i);
                }
            }
            EXPECT_EQ(found, expected) << "parallel " << parallel << " trial " << trial;
        }
    }
}

TEST(RectSelection, NothingBehindTheCameraNorNotFinite) {
    const PickCamera c = viewCamera({0.0, 0.0, 0.0}, {0.0, 1000.0, 0.0});
    const RectFrustum whole(c, {0.0, 0.0, kViewWidth, kViewHeight});
    EXPECT_TRUE(whole.contains(0.0, 5000.0, 0.0));
    EXPECT_FALSE(whole.contains(0.0, -5000.0, 0.0));
    EXPECT_FALSE(whole.contains(std::nan(""), 5000.0, 0.0));
    EXPECT_FALSE(whole.contains(0.0, std::numeric_limits<double>::infinity(), 0.0));
}

TEST(RectSelection, WalkKeepsThePointsInsideAcrossZeroAzimuth) {
    // From the device looking along azimuth 0: the points ahead from 350 across zero to 10
    // degrees inside, those to the sides and behind outside.
    std::deque<DataPoint> points;
    for (double az : {350.0, 100.0, 355.5, 2.25, 180.0, 10.0, 270.0}) {
        points.push_back(observedAt(az, az > 300.0 ? -4.0 : 6.5, 5000.0));
    }
    BufferLog log;
    log.appended = points.size();
    const PickCamera c = viewCamera({0.0, 0.0, 0.0}, {0.0, 1000.0, 0.0});
    SelectionWalk walk(RectFrustum(c, {0.0, 0.0, kViewWidth, kViewHeight}), 0, points.size(),
                       log.generation);
    ASSERT_EQ(walkAll(walk, points, log, points.size(), 2), SelectionWalk::Step::Done);
    ASSERT_EQ(walk.selected().size(), 4u);
    EXPECT_FLOAT_EQ(walk.selected()[0].azimuth, 350.0f);
    EXPECT_FLOAT_EQ(walk.selected()[3].azimuth, 10.0f);
    const RegionBounds b = walk.region().bounds({});
    EXPECT_NEAR(b.azMin, 350.0, 1e-9);
    EXPECT_NEAR(b.azMax, 10.0, 1e-9);
    EXPECT_NEAR(b.elMin, -4.0, 1e-9);
    EXPECT_NEAR(b.elMax, 6.5, 1e-9);
    EXPECT_EQ(walk.missed(), 0u);
}

TEST(RectSelection, WalkWhileTheListenerAppendsAndEvicts) {
    // Every point lies inside. Between slices ten new points arrive and ten leave the front:
    // those that left before the walk reached them are missed, the new ones are not looked at.
    const PickCamera c = viewCamera({0.0, 0.0, 0.0}, {0.0, 1000.0, 0.0});
    std::deque<DataPoint> points;
    BufferLog log;
    std::uint64_t back = 0;
    const auto arrive = [&](int n) {
        for (int i = 0; i < n; ++i) {
            DataPoint p = observedAt(0.0, 0.0, 1000.0 + static_cast<double>(back));
            p.timestamp = back++;
            points.push_back(p);
            ++log.appended;
        }
    };
    arrive(100);
    SelectionWalk walk(RectFrustum(c, {0.0, 0.0, kViewWidth, kViewHeight}), 0, back,
                       log.generation);
    SelectionWalk::Step step = SelectionWalk::Step::More;
    int steps = 0;
    while (step == SelectionWalk::Step::More) {
        step = walk.step(points, log, back, 5);
        ++steps;
        arrive(10);
        for (int i = 0; i < 10; ++i) {
            points.pop_front();
            ++log.evicted;
        }
    }
    ASSERT_EQ(step, SelectionWalk::Step::Done);
    // Each slice of 5 finds the front moved on by 10: the slices take 0-4, 10-14, ... 90-94,
    // and one more finds 95-99 gone.
    EXPECT_EQ(steps, 11);
    EXPECT_EQ(walk.selected().size(), 50u);
    EXPECT_EQ(walk.missed(), 50u);
    for (const DataPoint& p : walk.selected()) {
        EXPECT_LT(p.timestamp % 10, 5u);
        EXPECT_LT(p.timestamp, 100u);
    }
}

TEST(RectSelection, WalkEndsWhenTheBufferIsReplaced) {
    std::deque<DataPoint> points(10, observedAt(0.0, 0.0, 1000.0));
    BufferLog log;
    log.appended = points.size();
    const PickCamera c = viewCamera({0.0, 0.0, 0.0}, {0.0, 1000.0, 0.0});
    SelectionWalk walk(RectFrustum(c, {0.0, 0.0, kViewWidth, kViewHeight}), 0, 10, log.generation);
    EXPECT_EQ(walk.step(points, log, 10, 4), SelectionWalk::Step::More);
    ++log.generation;
    EXPECT_EQ(walk.step(points, log, 10, 4), SelectionWalk::Step::Replaced);
}
