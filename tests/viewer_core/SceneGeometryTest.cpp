#include "SceneGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>

using namespace viewer;

namespace {

struct Xyz {
    float x, y, z;
};

SceneSample sampleOf(std::initializer_list<Vec3> points) {
    SceneSample s;
    s.points.assign(points.begin(), points.end());
    return s;
}

// Angle in degrees between the camera's view axis and the line to p.
double offAxis(const CameraPose& c, const Vec3& p, const Vec3& axis, const Vec3& along) {
    const Vec3 rel{p[0] - c.position[0], p[1] - c.position[1], p[2] - c.position[2]};
    const double a = rel[0] * along[0] + rel[1] * along[1] + rel[2] * along[2];
    const double side = rel[0] * axis[0] + rel[1] * axis[1] + rel[2] * axis[2];
    return std::atan2(std::fabs(side), a) * 180.0 / M_PI;
}

} // namespace

TEST(SceneSample, StrideKeepsTheNewestAndSkipsNonFinite) {
    std::deque<Xyz> buffer;
    for (int i = 0; i < 100; ++i) {
        buffer.push_back({static_cast<float>(i), 0.0f, 0.0f});
    }
    const SceneSample all = sampleScene(buffer, buffer.size(), 1000);
    EXPECT_EQ(all.points.size(), 100u);

    const SceneSample some = sampleScene(buffer, buffer.size(), 10);
    ASSERT_EQ(some.points.size(), 10u);
    EXPECT_EQ(some.points.back()[0], 99.0);

    buffer[99].y = std::numeric_limits<float>::quiet_NaN();
    buffer[98].z = std::numeric_limits<float>::infinity();
    EXPECT_EQ(sampleScene(buffer, buffer.size(), 1000).points.size(), 98u);
    EXPECT_TRUE(sampleScene(buffer, 0).points.empty());
}

TEST(SceneSample, OnlyThePointsShownAreSampledAndAsFewOfThemAsAsked) {
    std::deque<Xyz> buffer;
    for (int i = 0; i < 100000; ++i) {
        buffer.push_back({static_cast<float>(i), 0.0f, 0.0f});
    }
    // The newest 1000 shown: none before them, the newest among them, evenly spread.
    for (std::size_t most : {1u, 7u, 333u, 1000u, 5000u}) {
        SCOPED_TRACE(most);
        const SceneSample sample = sampleScene(buffer, buffer.size(), most, 99000);
        ASSERT_FALSE(sample.points.empty());
        EXPECT_LE(sample.points.size(), most);
        EXPECT_GE(sample.points.size(), std::min<std::size_t>(most, 1000) / 2);
        EXPECT_EQ(sample.points.back()[0], 99999.0);
        for (const Vec3& p : sample.points) {
            EXPECT_GE(p[0], 99000.0);
        }
    }
    // However large the buffer, the sample stays within its bound.
    EXPECT_LE(sampleScene(buffer, buffer.size(), 4000).points.size(), 4000u);
    EXPECT_TRUE(sampleScene(buffer, 500, 10, 500).points.empty());
    EXPECT_TRUE(sampleScene(buffer, 500, 10, 900).points.empty());
    EXPECT_EQ(sampleScene(buffer, 501, 10, 500).points.size(), 1u);
}

TEST(SceneBounds, HoldTheOriginAndIgnoreStrayPoints) {
    EXPECT_EQ(sceneBounds({}).diagonal(), 0.0);

    // A wall well away from the device: the bounds reach back to the origin.
    SceneSample wall;
    for (int i = 0; i < 1000; ++i) {
        wall.points.push_back({-2000.0 + 4 * i, 6000.0, 500.0 + i % 10});
    }
    Bounds b = sceneBounds(wall);
    EXPECT_EQ(b.min[1], 0.0);
    EXPECT_EQ(b.max[1], 6000.0);
    EXPECT_EQ(b.min[2], 0.0);
    EXPECT_NEAR(b.min[0], -2000.0, 30.0);
    EXPECT_NEAR(b.max[0], 1996.0, 30.0);

    // Two stray points a thousand times further away leave the extent where the wall is.
    wall.points.push_back({6e6, 6e6, 6e6});
    wall.points.push_back({-6e6, -6e6, -6e6});
    b = sceneBounds(wall);
    EXPECT_LT(b.max[0], 2100.0);
    EXPECT_GT(b.min[0], -2100.0);
    EXPECT_LT(b.max[2], 1000.0);

    // With few points nothing is trimmed.
    b = sceneBounds(sampleOf({{1, 2, 3}, {-4, 5, -6}}));
    EXPECT_EQ(b.min, (Vec3{-4, 0, -6}));
    EXPECT_EQ(b.max, (Vec3{1, 5, 3}));
}

TEST(SceneBounds, RefitWhenTheCloudOutgrowsTheViewOrShrinks) {
    Bounds framed;
    framed.min = {-1000, 0, -100};
    framed.max = {1000, 2000, 100};
    Bounds now = framed;
    EXPECT_FALSE(needsRefit(framed, now));
    now.max[1] = 2100; // within a twentieth of the diagonal (about 150)
    EXPECT_FALSE(needsRefit(framed, now));
    now.max[1] = 2400;
    EXPECT_TRUE(needsRefit(framed, now));
    now = framed;
    now.min[2] = -400;
    EXPECT_TRUE(needsRefit(framed, now));
    // An arc of the first packet grows into a room.
    Bounds arc;
    arc.max = {50, 6000, 10};
    Bounds room;
    room.min = {-6000, -4000, -1500};
    room.max = {6000, 8000, 1000};
    EXPECT_TRUE(needsRefit(arc, room));
    EXPECT_TRUE(needsRefit(room, arc));
}

TEST(FitCamera, FramesEveryCornerFromBehindTheDeviceWithZUp) {
    Bounds room;
    room.min = {-6000, -4000, -1500};
    room.max = {6000, 8000, 1000};
    for (const double aspect : {0.5, 1.0, 3.5}) {
        const CameraPose c = fitCamera(room, defaultViewDirection(), 30.0, aspect);
        const Vec3 centre = room.centre();
        EXPECT_EQ(c.focalPoint, centre);
        EXPECT_LT(c.position[1], room.min[1]) << "behind the device, along -y";
        EXPECT_GT(c.position[2], centre[2]) << "above, looking down";
        EXPECT_NEAR(c.position[0], centre[0], 1e-9);
        EXPECT_GT(c.viewUp[2], 0.9);

        const Vec3 along = defaultViewDirection();
        const Vec3 right{1, 0, 0};
        double widest = 0.0;
        double tallest = 0.0;
        for (int corner = 0; corner < 8; ++corner) {
            const Vec3 k{(corner & 1) ? room.max[0] : room.min[0],
                         (corner & 2) ? room.max[1] : room.min[1],
                         (corner & 4) ? room.max[2] : room.min[2]};
            const double h = offAxis(c, k, right, along);
            const double v = offAxis(c, k, c.viewUp, along);
            const double halfWidth = std::atan(std::tan(15.0 * M_PI / 180.0) * aspect) * 180 / M_PI;
            EXPECT_LE(h, halfWidth + 1e-9) << aspect;
            EXPECT_LE(v, 15.0 + 1e-9) << aspect;
            widest = std::max(widest, h / halfWidth);
            tallest = std::max(tallest, v / 15.0);
        }
        // Tight: the cloud fills the view in one direction, with a small margin.
        EXPECT_GT(std::max(widest, tallest), 0.85) << aspect;

        // Parallel projection: half the height holds every corner, also sideways.
        EXPECT_GE(c.parallelScale, (room.max[2] - room.min[2]) / 2.0 * 0.9);
        EXPECT_GE(c.parallelScale * aspect, 6000.0);
    }
}

TEST(FitCamera, ASingleSpotStillGivesAUsableCamera) {
    Bounds spot; // the origin alone
    const CameraPose c = fitCamera(spot, defaultViewDirection(), 30.0, 1.5);
    const double distance = std::hypot(c.position[0], c.position[1], c.position[2]);
    EXPECT_GT(distance, 0.1);
    EXPECT_TRUE(std::isfinite(distance));
    EXPECT_GT(c.parallelScale, 0.0);
}

TEST(HelperLength, ReachesTheFarthestPointsButNotStrayOnes) {
    EXPECT_EQ(helperLength({}, 10000.0), 10000.0);
    EXPECT_EQ(helperLength(sampleOf({{0, 0, 0}}), 10000.0), 10000.0);
    EXPECT_NEAR(helperLength(sampleOf({{3000, 4000, 0}, {0, 100, 0}}), 1.0), 5000.0, 1e-9);

    SceneSample walls;
    for (int i = 0; i < 2000; ++i) {
        walls.points.push_back({6000.0, -4000.0 + 6 * i, 0.0});
    }
    walls.points.push_back({1e7, 0, 0});
    const double length = helperLength(walls, 1.0);
    EXPECT_GT(length, 9000.0);
    EXPECT_LT(length, 10100.0);
}

TEST(GroundGrid, RoundStepsAndLabels) {
    EXPECT_EQ(niceStep(12000.0), 1000.0);
    EXPECT_EQ(niceStep(25000.0), 2000.0);
    EXPECT_EQ(niceStep(40000.0), 5000.0);
    EXPECT_EQ(niceStep(90000.0), 10000.0);
    EXPECT_EQ(niceStep(7.0), 0.5);
    EXPECT_EQ(niceStep(0.0), 1.0);
    EXPECT_EQ(niceStep(std::numeric_limits<double>::quiet_NaN()), 1.0);

    EXPECT_EQ(lengthLabel(1000.0), "1 m");
    EXPECT_EQ(lengthLabel(20000.0), "20 m");
    EXPECT_EQ(lengthLabel(500.0), "500 mm");
    EXPECT_EQ(lengthLabel(0.5), "0.5 mm");

    Bounds room;
    room.min = {-6000, -4000, -1500};
    room.max = {6000, 8000, 1000};
    const GroundGrid g = groundGrid(room);
    EXPECT_EQ(g.step, 1000.0);
    EXPECT_EQ(g.xMin, -6000.0);
    EXPECT_EQ(g.xMax, 6000.0);
    EXPECT_EQ(g.yMin, -4000.0);
    EXPECT_EQ(g.yMax, 8000.0);
    EXPECT_EQ(g.z, -1500.0) << "on the floor";
    EXPECT_EQ(g.xLines(), 13);
    EXPECT_EQ(g.yLines(), 13);

    Bounds odd;
    odd.min = {-130, 0, 0};
    odd.max = {0, 1170, 0};
    const GroundGrid h = groundGrid(odd);
    EXPECT_EQ(h.step, 100.0);
    EXPECT_EQ(h.xMin, -200.0);
    EXPECT_EQ(h.xMax, 0.0);
    EXPECT_EQ(h.yMax, 1200.0);

    const GroundGrid flat = groundGrid(Bounds{});
    EXPECT_GT(flat.xMax, flat.xMin);
    EXPECT_EQ(flat.xLines(), 2);
}
