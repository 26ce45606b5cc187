// The synthetic scene and the scan rasters: pure geometry.
#include "Motion.h"
#include "Raster.h"
#include "Scene.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sentova::sim;

TEST(Scene, RoomSurfacesAreAtTheirDistances) {
    // Straight down to the floor 1.5 m below, straight up to the ceiling 2.5 m above.
    auto down = castBeam(0.0, -90.0);
    ASSERT_TRUE(down);
    EXPECT_NEAR(down->range, 1.5, 1e-9);
    EXPECT_STREQ(down->surface->name, "floor");
    auto up = castBeam(123.0, 90.0);
    ASSERT_TRUE(up);
    EXPECT_NEAR(up->range, 2.5, 1e-9);
    EXPECT_STREQ(up->surface->name, "ceiling");

    // Azimuth 90 looks along +x to the wall at 6 m, azimuth 180 along -y to 4 m.
    auto east = castBeam(90.0, 0.0);
    ASSERT_TRUE(east);
    EXPECT_NEAR(east->range, 6.0, 1e-9);
    EXPECT_NEAR(east->cosIncidence, 1.0, 1e-9);
    auto south = castBeam(180.0, 0.0);
    ASSERT_TRUE(south);
    EXPECT_NEAR(south->range, 4.0, 1e-9);
    EXPECT_STREQ(south->surface->name, "wall");

    // A slanted beam meets the floor further away, at a glancing angle.
    auto slant = castBeam(90.0, -30.0);
    ASSERT_TRUE(slant);
    EXPECT_NEAR(slant->range, 3.0, 1e-9);
    EXPECT_NEAR(slant->cosIncidence, 0.5, 1e-9);
}

TEST(Scene, ObjectsStandInFrontOfTheWalls) {
    // The ball's centre is at (-2, 3, -0.7), radius 0.8.
    const double az = std::atan2(-2.0, 3.0) * 180.0 / M_PI;
    const double horizontal = std::hypot(2.0, 3.0);
    const double el = std::atan2(-0.7, horizontal) * 180.0 / M_PI;
    auto ball = castBeam(az, el);
    ASSERT_TRUE(ball);
    EXPECT_STREQ(ball->surface->name, "ball");
    EXPECT_NEAR(ball->range, std::sqrt(4.0 + 9.0 + 0.49) - 0.8, 1e-9);

    auto pillar = castBeam(std::atan2(3.5, -2.0) * 180.0 / M_PI, 0.0);
    ASSERT_TRUE(pillar);
    EXPECT_STREQ(pillar->surface->name, "pillar");
    EXPECT_NEAR(pillar->range, std::hypot(3.5, 2.0) - 0.3, 1e-9);

    auto crate = castBeam(std::atan2(2.0, 3.0) * 180.0 / M_PI, -15.0);
    ASSERT_TRUE(crate);
    EXPECT_STREQ(crate->surface->name, "crate");
}

TEST(Scene, WindowAndBadAnglesGiveNoPoint) {
    // Straight ahead (+y) meets the far wall; a little to the right, its window.
    auto ahead = castBeam(0.0, 0.0);
    ASSERT_TRUE(ahead);
    EXPECT_NEAR(ahead->range, 8.0, 1e-9);
    const double az = std::atan2(2.75, 8.0) * 180.0 / M_PI;
    const double el = std::atan2(0.6, std::hypot(2.75, 8.0)) * 180.0 / M_PI;
    EXPECT_FALSE(castBeam(az, el));
    EXPECT_FALSE(measure(az, el, 0));
    EXPECT_FALSE(castBeam(std::nan(""), 0.0));
    EXPECT_FALSE(castBeam(0.0, INFINITY));
}

TEST(Scene, MeasurementCarriesRangeInMillimetresAndSurfaceValues) {
    auto near = measure(90.0, -60.0, 1234); // floor at 1.732 m
    auto far = measure(90.0, -10.0, 99);    // floor at 8.6 m: beyond the wall, so the wall
    ASSERT_TRUE(near);
    ASSERT_TRUE(far);
    EXPECT_EQ(near->range, 1732);
    EXPECT_EQ(near->timestamp, 1234u);
    EXPECT_EQ(near->azimuth, 90.0);
    EXPECT_EQ(near->elevation, -60.0);
    EXPECT_EQ(far->range, static_cast<int>(std::lround(6000.0 / std::cos(10.0 * M_PI / 180.0))));
    EXPECT_NE(near->reflectance, far->reflectance); // floor and wall differ
    EXPECT_GT(near->amplitude, far->amplitude);     // amplitude falls with range
    EXPECT_GE(far->amplitude, 1);
}

TEST(Raster, ValidatesSpeedLinesAndBounds) {
    ScanPattern p;
    using tavrel::ArgumentOutOfRange;
    EXPECT_EQ(makeScanPattern(ScanKind::FullField, 0.0, 0, 0, 0, 0, 10, p), ArgumentOutOfRange);
    EXPECT_EQ(makeScanPattern(ScanKind::FullField, 21.0, 0, 0, 0, 0, 10, p), ArgumentOutOfRange);
    EXPECT_EQ(makeScanPattern(ScanKind::FullField, 5.0, 0, 0, 0, 0, 0.99, p), ArgumentOutOfRange);
    EXPECT_EQ(makeScanPattern(ScanKind::FullField, 5.0, 0, 0, 0, 0, 65535, p), ArgumentOutOfRange);
    EXPECT_EQ(makeScanPattern(ScanKind::BoundedElevation, 5.0, 0, 0, -40, 10, 10, p),
              ArgumentOutOfRange);
    EXPECT_EQ(makeScanPattern(ScanKind::BoundedElevation, 5.0, 0, 0, 10, -10, 10, p),
              ArgumentOutOfRange);
    EXPECT_EQ(makeScanPattern(ScanKind::Region, 5.0, NAN, 0, -10, 10, 10, p), ArgumentOutOfRange);

    // Fractional lines are scanned as whole lines; full field ignores bounds.
    ASSERT_EQ(makeScanPattern(ScanKind::FullField, 5.0, 0, 0, 99, 99, 99.99, p), tavrel::NoError);
    EXPECT_EQ(p.lines, 99u);
    EXPECT_EQ(p.elevationMin, -35.0);
    EXPECT_EQ(p.elevationMax, 35.0);
    EXPECT_NEAR(frameDuration(p), 99.0 / 5.0, 1e-12);
}

TEST(Raster, FullFieldStepsElevationOncePerTurn) {
    ScanPattern p;
    ASSERT_EQ(makeScanPattern(ScanKind::FullField, 2.0, 0, 0, 0, 0, 3, p), tavrel::NoError);
    EXPECT_NEAR(lineDuration(p), 0.5, 1e-12);
    auto a = rasterAt(p, 0.0);
    EXPECT_EQ(a.line, 0u);
    EXPECT_DOUBLE_EQ(a.elevation, -35.0);
    EXPECT_DOUBLE_EQ(a.azimuth, 0.0);
    auto b = rasterAt(p, 0.125); // a quarter turn into the first line
    EXPECT_NEAR(b.azimuth, 90.0, 1e-9);
    auto c = rasterAt(p, 0.75);
    EXPECT_EQ(c.line, 1u);
    EXPECT_DOUBLE_EQ(c.elevation, 0.0);
    EXPECT_NEAR(c.azimuth, -180.0, 1e-9);
    auto d = rasterAt(p, 1.6); // second frame, first line
    EXPECT_EQ(d.frame, 1u);
    EXPECT_EQ(d.line, 0u);
    EXPECT_DOUBLE_EQ(d.elevation, -35.0);
}

TEST(Raster, RegionSweepsBackAndForthAcrossZero) {
    ScanPattern p;
    // 345 arrives in the angle coding as -15: the region runs from 15 up through 345.
    ASSERT_EQ(makeScanPattern(ScanKind::Region, 1.0, 15.0, -15.0, -10.0, 10.0, 2, p),
              tavrel::NoError);
    EXPECT_NEAR(regionSpan(p), 330.0, 1e-9);
    // From 345 to 15 is the short way round, across zero.
    ScanPattern q;
    ASSERT_EQ(makeScanPattern(ScanKind::Region, 1.0, -15.0, 15.0, -10.0, 10.0, 2, q),
              tavrel::NoError);
    EXPECT_NEAR(regionSpan(q), 30.0, 1e-9);
    EXPECT_NEAR(lineDuration(q), 30.0 / 360.0, 1e-12);
    EXPECT_NEAR(rasterAt(q, 0.0).azimuth, -15.0, 1e-9);
    EXPECT_NEAR(rasterAt(q, lineDuration(q) * 0.5).azimuth, 0.0, 1e-9);
    // The second line comes back from the maximum at the top elevation.
    auto back = rasterAt(q, lineDuration(q) * 1.25);
    EXPECT_EQ(back.line, 1u);
    EXPECT_DOUBLE_EQ(back.elevation, 10.0);
    EXPECT_NEAR(back.azimuth, 15.0 - 7.5, 1e-9);
    // Equal bounds (0 and 360 arrive alike) are a whole turn.
    ScanPattern whole;
    ASSERT_EQ(makeScanPattern(ScanKind::Region, 1.0, 0.0, 0.0, -10.0, 10.0, 1, whole),
              tavrel::NoError);
    EXPECT_EQ(regionSpan(whole), 360.0);
    EXPECT_DOUBLE_EQ(rasterAt(whole, 0.0).elevation, 0.0); // one line: the middle
}

TEST(Raster, TopFirstFramesStepDownAndRegionLinesStillAlternate) {
    ScanPattern p;
    ASSERT_EQ(makeScanPattern(ScanKind::FullField, 2.0, 0, 0, 0, 0, 3, p), tavrel::NoError);
    p.order = LineOrder::TopFirst;
    EXPECT_DOUBLE_EQ(rasterAt(p, 0.0).elevation, 35.0);
    EXPECT_DOUBLE_EQ(rasterAt(p, 0.75).elevation, 0.0);
    const auto last = rasterAt(p, 1.25);
    EXPECT_EQ(last.line, 2u);
    EXPECT_DOUBLE_EQ(last.elevation, -35.0);
    const auto again = rasterAt(p, 1.6); // second frame, back at the top
    EXPECT_EQ(again.frame, 1u);
    EXPECT_EQ(again.line, 0u);
    EXPECT_DOUBLE_EQ(again.elevation, 35.0);

    ScanPattern q;
    ASSERT_EQ(makeScanPattern(ScanKind::Region, 1.0, -15.0, 15.0, -10.0, 10.0, 2, q),
              tavrel::NoError);
    q.order = LineOrder::TopFirst;
    // The first line sweeps from the minimum at the top, the second comes back below.
    EXPECT_DOUBLE_EQ(rasterAt(q, 0.0).elevation, 10.0);
    EXPECT_NEAR(rasterAt(q, 0.0).azimuth, -15.0, 1e-9);
    const auto back = rasterAt(q, lineDuration(q) * 1.25);
    EXPECT_DOUBLE_EQ(back.elevation, -10.0);
    EXPECT_NEAR(back.azimuth, 15.0 - 7.5, 1e-9);
    // One line alone runs at the middle either way.
    ASSERT_EQ(makeScanPattern(ScanKind::BoundedElevation, 1.0, 0, 0, -10.0, 20.0, 1, q),
              tavrel::NoError);
    q.order = LineOrder::TopFirst;
    EXPECT_DOUBLE_EQ(rasterAt(q, 0.3).elevation, 5.0);
}

TEST(MoveProfile, SpeedsUpCruisesAndBrakes) {
    // 90 degrees at 90 per second, 1000 per second squared: 0.09 s ramps.
    const MoveProfile p{90.0, 90.0, 1000.0};
    EXPECT_NEAR(p.duration(), 1.09, 1e-12);
    EXPECT_NEAR(p.travelled(0.09), 4.05, 1e-9);
    EXPECT_NEAR(p.velocity(0.5), 90.0, 1e-9);
    EXPECT_NEAR(p.travelled(0.545), 45.0, 1e-9);
    EXPECT_NEAR(p.velocity(1.09 - 0.045), 45.0, 1e-9);
    EXPECT_EQ(p.travelled(2.0), 90.0);
    EXPECT_EQ(p.velocity(2.0), 0.0);
    // Too short to reach the speed: a triangle.
    const MoveProfile shortMove{10.0, 900.0, 1000.0};
    EXPECT_NEAR(shortMove.duration(), 2.0 * std::sqrt(0.01), 1e-12);
    EXPECT_NEAR(shortMove.travelled(0.1), 5.0, 1e-9);
    // No acceleration given: constant speed; no distance: nothing to do.
    EXPECT_NEAR((MoveProfile{90.0, 45.0, 0.0}).duration(), 2.0, 1e-12);
    EXPECT_EQ((MoveProfile{0.0, 45.0, 1000.0}).duration(), 0.0);
    EXPECT_EQ((MoveProfile{0.0, 45.0, 1000.0}).fraction(0.0), 1.0);
    // The way done never runs back.
    double last = 0.0;
    for (double t = 0.0; t < 1.2; t += 0.001) {
        EXPECT_GE(p.travelled(t), last);
        last = p.travelled(t);
    }
}
