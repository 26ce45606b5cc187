#include "ObservationPoint.h"
#include "PickCamera.h"
#include "PointIndex.h"
#include "PointReadout.h"

#include <vtkCamera.h>
#include <vtkMatrix4x4.h>
#include <vtkSmartPointer.h>

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>
#include <set>
#include <vector>

using namespace viewer;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

PickCamera camera(const std::array<double, 3>& eye, const std::array<double, 3>& target,
                  bool parallel = false) {
    PickCamera c;
    c.view = lookAt(eye, target, {0.0, 0.0, 1.0});
    c.projection = parallel ? orthographic(5000.0, double(kWidth) / kHeight, 1.0, 1e6)
                            : perspective(30.0, double(kWidth) / kHeight, 1.0, 1e6);
    c.width = kWidth;
    c.height = kHeight;
    return c;
}

DataPoint at(double x, double y, double z) {
    DataPoint p;
    p.x = x;
    p.y = y;
    p.z = z;
    return p;
}

DataPoint observed(double az, double el, double range) {
    return formats::makeDataPoint(az, el, range, 0, 0, 0, 0, LIDAR_GENERIC, false);
}

// Where a world point shows on the screen of a camera.
std::array<double, 2> screen(const PickCamera& c, const DataPoint& p) {
    const Matrix4 m = multiply(c.projection, c.view);
    double clip[4];
    for (int r = 0; r < 4; ++r) {
        clip[r] = m[r * 4] * p.x + m[r * 4 + 1] * p.y + m[r * 4 + 2] * p.z + m[r * 4 + 3];
    }
    return {(clip[0] / clip[3] + 1.0) * 0.5 * kWidth, (clip[1] / clip[3] + 1.0) * 0.5 * kHeight};
}

} // namespace

TEST(PickCamera, MatricesAsVtkCameraGivesThem) {
    // The window hands over vtkCamera's view transform and its projection to clip depth -1..1.
    const double aspect = double(kWidth) / kHeight;
    for (bool parallel : {false, true}) {
        auto vtk = vtkSmartPointer<vtkCamera>::New();
        vtk->SetPosition(-3000.0, -12000.0, 4000.0);
        vtk->SetFocalPoint(500.0, 2000.0, -300.0);
        vtk->SetViewUp(0.0, 0.0, 1.0);
        vtk->SetViewAngle(30.0);
        vtk->SetClippingRange(10.0, 50000.0);
        vtk->SetParallelProjection(parallel);
        vtk->SetParallelScale(5000.0);
        vtk->OrthogonalizeViewUp();
        const Matrix4 view =
            lookAt({-3000.0, -12000.0, 4000.0}, {500.0, 2000.0, -300.0}, {0.0, 0.0, 1.0});
        const Matrix4 projection = parallel ? orthographic(5000.0, aspect, 10.0, 50000.0)
                                            : perspective(30.0, aspect, 10.0, 50000.0);
        vtkMatrix4x4* v = vtk->GetViewTransformMatrix();
        vtkMatrix4x4* p = vtk->GetProjectionTransformMatrix(aspect, -1.0, 1.0);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                EXPECT_NEAR(view[r * 4 + c], v->GetElement(r, c), 1e-9) << r << c;
                EXPECT_NEAR(projection[r * 4 + c], p->GetElement(r, c), 1e-9)
                    << parallel << " " << r << c;
            }
        }
    }
}

TEST(Pick, FromTheDeviceThePointAlongTheViewingDirection) {
    // Seen from the device at the origin, looking along azimuth 30, elevation 10: the point in
    // that direction lies under the centre of the view, whatever its range.
    std::deque<DataPoint> points;
    std::mt19937 random(3);
    std::uniform_real_distribution<double> az(-60.0, 60.0);
    std::uniform_real_distribution<double> el(-30.0, 30.0);
    for (int i = 0; i < 5000; ++i) {
        points.push_back(observed(az(random), el(random), 20000.0));
    }
    points.push_back(observed(30.0, 10.0, 25000.0));
    const PointIndex index = PointIndex::build(points, points.size(), 100);
    const DataPoint ahead = observed(30.0, 10.0, 1000.0);
    const PickCamera c = camera({0.0, 0.0, 0.0}, {ahead.x, ahead.y, ahead.z});

    const auto hit = index.pick(c, kWidth / 2.0, kHeight / 2.0, 0.5);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->id, 100u + 5000u);
    const DeviceAngles a = anglesFromCartesian(hit->x, hit->y, hit->z);
    EXPECT_NEAR(a.azimuth, 30.0, 1e-3);
    EXPECT_NEAR(a.elevation, 10.0, 1e-3);
    EXPECT_NEAR(a.range, 25000.0, 1.0);
}

TEST(Pick, NearestOfTwoAlongTheRayWinsAndNothingBehindTheCamera) {
    const std::array<double, 3> eye{0.0, -10000.0, 2000.0};
    const std::array<double, 3> target{0.0, 0.0, 2000.0};
    for (bool parallel : {false, true}) {
        const PickCamera c = camera(eye, target, parallel);
        // Two on the line of sight, the far one first in the buffer; one behind the camera on
        // the same line, which a perspective projection would mirror onto the centre.
        std::vector<DataPoint> points{at(0, 5000, 2000), at(0, -3000, 2000), at(0, -15000, 2000),
                                      at(3000, 0, 2000)};
        const PointIndex index = PointIndex::build(points, points.size(), 0);
        const auto hit = index.pick(c, kWidth / 2.0, kHeight / 2.0, 3.0);
        ASSERT_TRUE(hit) << parallel;
        EXPECT_EQ(hit->id, 1u) << parallel;

        // Only the one behind the camera on the line: nothing.
        std::vector<DataPoint> behind{at(0, -15000, 2000), at(3000, 0, 2000)};
        const PointIndex behindIndex = PointIndex::build(behind, behind.size(), 0);
        EXPECT_FALSE(behindIndex.pick(c, kWidth / 2.0, kHeight / 2.0, 3.0)) << parallel;
    }
}

TEST(Pick, WithinThePixelToleranceOnly) {
    const PickCamera c = camera({0.0, -10000.0, 0.0}, {0.0, 0.0, 0.0});
    std::vector<DataPoint> points{at(100, 0, 50)};
    const PointIndex index = PointIndex::build(points, points.size(), 0);
    const auto s = screen(c, points[0]);
    EXPECT_TRUE(index.pick(c, s[0] + 2.5, s[1], 3.0));
    EXPECT_FALSE(index.pick(c, s[0] + 3.5, s[1], 3.0));
    // The tolerance is a circle, not a square.
    EXPECT_FALSE(index.pick(c, s[0] + 2.5, s[1] + 2.5, 3.0));
    const auto hit = index.pick(c, s[0], s[1] - 1.0, 3.0);
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->pixels, 1.0, 1e-6);
}

TEST(Pick, ManyPointsAgreeWithATestOfEveryPoint) {
    std::mt19937 random(11);
    std::normal_distribution<double> spread(0.0, 3000.0);
    std::vector<DataPoint> points;
    // More than 65,536: the ids an index keeps of this many are 32-bit.
    for (int i = 0; i < 70000; ++i) {
        points.push_back(at(spread(random), 8000.0 + spread(random), spread(random) / 3.0));
    }
    // A few far strays, beyond the grid's trimmed extent.
    points.push_back(at(1e6, 1e6, 0));
    points.push_back(at(-2e6, 0, 5e5));
    points.push_back(at(std::nan(""), 0, 0));
    const PointIndex index = PointIndex::build(points, points.size(), 0);
    EXPECT_EQ(index.size(), points.size() - 1);
    const PickCamera c = camera({-20000.0, -30000.0, 15000.0}, {0.0, 8000.0, 0.0});
    const Matrix4 m = multiply(c.projection, c.view);

    std::uniform_real_distribution<double> px(0.0, kWidth);
    std::uniform_real_distribution<double> py(0.0, kHeight);
    int hits = 0;
    for (int k = 0; k < 200; ++k) {
        const double x = px(random);
        const double y = py(random);
        double bestDepth = 2.0;
        long bestId = -1;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const float f[3] = {float(points[i].x), float(points[i].y), float(points[i].z)};
            double clip[4];
            for (int r = 0; r < 4; ++r) {
                clip[r] =
                    m[r * 4] * f[0] + m[r * 4 + 1] * f[1] + m[r * 4 + 2] * f[2] + m[r * 4 + 3];
            }
            if (!(clip[3] > 0.0) || clip[2] < -clip[3] || clip[2] > clip[3]) {
                continue;
            }
            const double sx = (clip[0] / clip[3] + 1.0) * 0.5 * kWidth;
            const double sy = (clip[1] / clip[3] + 1.0) * 0.5 * kHeight;
            if (std::hypot(sx - x, sy - y) <= 4.0 && clip[2] / clip[3] < bestDepth) {
                bestDepth = clip[2] / clip[3];
                bestId = static_cast<long>(i);
            }
        }
        const auto hit = index.pick(c, x, y, 4.0);
        ASSERT_EQ(hit.has_value(), bestId >= 0) << k;
        if (hit) {
            ++hits;
            EXPECT_EQ(hit->id, static_cast<std::uint64_t>(bestId)) << k;
        }
    }
    EXPECT_GT(hits, 20);
}

TEST(Select, ThePointsInsideTheRectangle) {
    const PickCamera c = camera({0.0, -10000.0, 0.0}, {0.0, 0.0, 0.0});
    std::vector<DataPoint> points{at(0, 0, 0), at(500, 0, 0), at(-500, 0, 0), at(0, 0, 500)};
    const PointIndex index = PointIndex::build(points, points.size(), 7);
    const auto s1 = screen(c, points[1]);
    const auto s3 = screen(c, points[3]);
    std::set<std::uint64_t> ids;
    index.select(c, {s3[0] - 1.0, s3[1] + 1.0, s1[0] + 1.0, s1[1] - 1.0},
                 [&](std::uint64_t id, const float*) { ids.insert(id); });
    EXPECT_EQ(ids, (std::set<std::uint64_t>{7, 8, 10}));
}

TEST(Angles, CartesianRoundTrip) {
    for (double az : {-180.0, -135.5, -90.0, -0.25, 0.0, 45.0, 90.0, 179.75}) {
        for (double el : {-89.0, -35.0, 0.0, 12.5, 60.0, 89.0}) {
            for (double range : {1.0, 1234.5, 250000.0}) {
                const formats::Cartesian c = formats::sphericalToCartesian(az, el, range);
                const DeviceAngles a = anglesFromCartesian(c.x, c.y, c.z);
                EXPECT_NEAR(a.azimuth, az, 1e-9) << az << " " << el;
                EXPECT_NEAR(a.elevation, el, 1e-9) << az << " " << el;
                EXPECT_NEAR(a.range, range, 1e-9 * range);
            }
        }
    }
    const DeviceAngles origin = anglesFromCartesian(0, 0, 0);
    EXPECT_EQ(origin.range, 0.0);
    EXPECT_EQ(origin.azimuth, 0.0);
}

TEST(Angles, FilePointsWithoutAnglesGetThemFromTheirPosition) {
    DataPoint file = at(1000.0, 0.0, 1000.0);
    const DeviceAngles a = pointAngles(file);
    EXPECT_NEAR(a.azimuth, 90.0, 1e-9);
    EXPECT_NEAR(a.elevation, 45.0, 1e-9);
    EXPECT_NEAR(a.range, std::sqrt(2.0) * 1000.0, 1e-9);
    // A device point keeps the angles it was measured at.
    DataPoint device = observed(-12.5f, 3.25f, 4000.0f);
    EXPECT_EQ(pointAngles(device).azimuth, -12.5);
    EXPECT_EQ(pointAngles(device).range, 4000.0);
}

TEST(Readout, PickTextHoldsEveryValueAndTheExactTimeStamp) {
    DataPoint p = formats::makeDataPoint(30.0, -5.0, 12000.0, 18446744073709551557ull, 4321.0,
                                         -17.0, 3.0, LIDAR_LX30, false);
    const std::string text = pickText(p, true);
    for (const char* part :
         {"Az 30.000\u00b0", "El -5.000\u00b0", "Range 12000.0 mm", "Amplitude 4321",
          "Reflectance -17", "Pulse shape deviation 3", "Time 18446744073709551557"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    }
    EXPECT_NE(pickText(p, false).find("Reflectance not measured"), std::string::npos);
}

TEST(Ruler, AzimuthTheShortWayAcrossPlusMinus180) {
    EXPECT_DOUBLE_EQ(azimuthDifference(170.0, -170.0), 20.0);
    EXPECT_DOUBLE_EQ(azimuthDifference(-170.0, 170.0), -20.0);
    EXPECT_DOUBLE_EQ(azimuthDifference(350.0, 10.0), 20.0);
    EXPECT_DOUBLE_EQ(azimuthDifference(10.0, 30.0), 20.0);
    EXPECT_DOUBLE_EQ(azimuthDifference(0.0, 180.0), 180.0);
    EXPECT_DOUBLE_EQ(azimuthDifference(0.0, -180.0), 180.0);

    const DataPoint a = observed(175.0, 0.0, 10000.0);
    const DataPoint b = observed(-175.0, 5.0, 10500.0);
    const Ruler r = measure(a, b);
    EXPECT_NEAR(r.azimuth, 10.0, 1e-4);
    EXPECT_NEAR(r.elevation, 5.0, 1e-4);
    EXPECT_NEAR(r.range, 500.0, 1e-9);
    EXPECT_NEAR(r.distance,
                std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                          (a.z - b.z) * (a.z - b.z)),
                1e-9);
    EXPECT_GT(r.distance, 900.0);
    EXPECT_EQ(rulerText(Ruler{1234.5, 10.0, -2.0, 12.25}),
              "Distance 1234.5 mm, \u0394az 10.000\u00b0, \u0394el -2.000\u00b0, "
              "\u0394range 12.2 mm");
}

TEST(Aim, ClampedToTheApertureLimits) {
    const ApertureLimits limits{0.0, 360.0, -35.0, 35.0};
    AimTarget t = aimAt(observed(-90.0, 10.0, 5000.0), limits);
    EXPECT_NEAR(t.azimuth, 270.0, 1e-4);
    EXPECT_NEAR(t.elevation, 10.0, 1e-4);
    EXPECT_FALSE(t.clamped);
    t = aimAt(observed(10.0, 60.0, 5000.0), limits);
    EXPECT_NEAR(t.elevation, 35.0, 1e-9);
    EXPECT_TRUE(t.clamped);
    t = aimAt(observed(10.0, -80.0, 5000.0), limits);
    EXPECT_NEAR(t.elevation, -35.0, 1e-9);

    // An azimuth arc across zero, 300 up to 60: 100 is nearer its end, 250 its start.
    const ApertureLimits arc{300.0, 60.0, -35.0, 35.0};
    EXPECT_NEAR(aimAt(observed(100.0, 0.0, 1.0), arc).azimuth, 60.0, 1e-9);
    EXPECT_NEAR(aimAt(observed(-110.0, 0.0, 1.0), arc).azimuth, 300.0, 1e-9);
    EXPECT_NEAR(aimAt(observed(-20.0, 0.0, 1.0), arc).azimuth, 340.0, 1e-4);
    EXPECT_FALSE(aimAt(observed(-20.0, 0.0, 1.0), arc).clamped);
    // A file point without angles: from its position.
    EXPECT_NEAR(aimAt(at(0.0, -1000.0, 0.0), limits).azimuth, 180.0, 1e-9);
}

TEST(Region, BoundsFromASelectionAcrossZeroAzimuth) {
    const ApertureLimits limits{0.0, 360.0, -35.0, 35.0};
    RegionFinder finder;
    EXPECT_TRUE(finder.empty());
    for (double az : {-20.0, -5.0, 0.0, 10.0, 25.0}) {
        const DataPoint p = observed(az, az / 5.0, 8000.0);
        finder.add(p.x, p.y, p.z);
    }
    const RegionBounds b = finder.bounds(limits);
    EXPECT_NEAR(b.azMin, 340.0, 1e-9);
    EXPECT_NEAR(b.azMax, 25.0, 1e-9);
    EXPECT_NEAR(b.elMin, -4.0, 1e-9);
    EXPECT_NEAR(b.elMax, 5.0, 1e-9);

    RegionFinder plain;
    for (double az : {100.0, 120.0, 150.0}) {
        const DataPoint p = observed(az, 0.0, 8000.0);
        plain.add(p.x, p.y, p.z);
    }
    EXPECT_NEAR(plain.bounds(limits).azMin, 100.0, 1e-9);
    EXPECT_NEAR(plain.bounds(limits).azMax, 150.0, 1e-9);
}

TEST(Region, ElevationClampedToTheLimitsAndAllRoundIsTheWholeTurn) {
    const ApertureLimits limits{0.0, 360.0, -35.0, 35.0};
    RegionFinder finder;
    for (double az = -180.0; az < 180.0; az += 0.05) {
        const DataPoint p = observed(az, az > 0 ? 70.0 : -50.0, 8000.0);
        finder.add(p.x, p.y, p.z);
    }
    finder.add(0.0, 0.0, 0.0); // the device itself tells no direction
    const RegionBounds b = finder.bounds(limits);
    EXPECT_DOUBLE_EQ(b.azMin, 0.0);
    EXPECT_DOUBLE_EQ(b.azMax, 360.0);
    EXPECT_DOUBLE_EQ(b.elMin, -35.0);
    EXPECT_DOUBLE_EQ(b.elMax, 35.0);

    RegionFinder inside;
    const DataPoint p = observed(45.0, 20.0, 100.0);
    inside.add(p.x, p.y, p.z);
    const DataPoint q = observed(50.0, 40.0, 100.0);
    inside.add(q.x, q.y, q.z);
    EXPECT_NEAR(inside.bounds(limits).elMin, 20.0, 1e-9);
    EXPECT_DOUBLE_EQ(inside.bounds(limits).elMax, 35.0);
}

TEST(Region, BoundsRoundedOutwardsToTheSpinBoxesHundredths) {
    const ApertureLimits limits{0.0, 360.0, -35.0, 35.0};
    RegionFinder finder;
    for (const auto& [az, el] : {std::pair{10.123, 1.001}, {20.456, 2.991}}) {
        const formats::Cartesian c = formats::sphericalToCartesian(az, el, 5000.0);
        finder.add(c.x, c.y, c.z);
    }
    const RegionBounds b = finder.bounds(limits);
    EXPECT_NEAR(b.azMin, 10.12, 1e-9);
    EXPECT_NEAR(b.azMax, 20.46, 1e-9);
    EXPECT_NEAR(b.elMin, 1.00, 1e-9);
    EXPECT_NEAR(b.elMax, 3.00, 1e-9);

    // Just short of zero going up across it: the end stays a whole hundredth past zero.
    RegionFinder across;
    for (double az : {-0.004, 0.005}) {
        const formats::Cartesian c = formats::sphericalToCartesian(az, 0.0, 5000.0);
        across.add(c.x, c.y, c.z);
    }
    EXPECT_NEAR(across.bounds(limits).azMin, 359.99, 1e-9);
    EXPECT_NEAR(across.bounds(limits).azMax, 0.01, 1e-9);
}

TEST(Region, FromTheRectangleDraggedOverTheView) {
    // From the device looking along azimuth 0: the points ahead, from 350 across zero to 10
    // degrees, and none of those behind the device.
    std::vector<DataPoint> points;
    for (double az : {-10.0, -4.0, 3.0, 10.0, 180.0, 170.0}) {
        points.push_back(observed(az, az / 2.0, 5000.0));
    }
    const PointIndex index = PointIndex::build(points, points.size(), 0);
    const PickCamera c = camera({0.0, 0.0, 0.0}, {0.0, 1000.0, 0.0});
    const ApertureLimits limits{0.0, 360.0, -35.0, 35.0};
    const auto region = selectionRegion(index, c, {0.0, 0.0, kWidth, kHeight}, limits);
    ASSERT_TRUE(region);
    EXPECT_NEAR(region->azMin, 350.0, 1e-9);
    EXPECT_NEAR(region->azMax, 10.0, 1e-9);
    EXPECT_NEAR(region->elMin, -5.0, 1e-9);
    EXPECT_NEAR(region->elMax, 5.0, 1e-9);

    // A rectangle over no point.
    EXPECT_FALSE(selectionRegion(index, c, {0.0, 0.0, 5.0, 5.0}, limits));
}
