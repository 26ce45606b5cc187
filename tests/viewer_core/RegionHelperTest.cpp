#include "RegionHelper.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkUnsignedCharArray.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace viewer;

TEST(UniformLines, WorkedExamples) {
    UniformScanInput in;
    in.mode = LIDAR_LX30;
    in.type = ScanType::FullField;
    EXPECT_EQ(uniformLines(in), 972.0);

    in.type = ScanType::Region;
    EXPECT_EQ(uniformLines(in), 1060.0);

    in.mode = LIDAR_LX20;
    in.type = ScanType::FullField;
    EXPECT_EQ(uniformLines(in), 388.0);
}

TEST(UniformLines, MeasurementModesAndSpans) {
    UniformScanInput in;
    in.mode = LIDAR_LX30;
    in.measurementIndex = 1; // 5000 points/s: 0.36 degrees
    EXPECT_EQ(uniformLines(in), 194.0);
    in.measurementIndex = 2; // 500 points/s: 3.6 degrees
    EXPECT_EQ(uniformLines(in), 19.0);
    in.measurementIndex = 7; // unknown index falls back to 25000
    EXPECT_EQ(uniformLines(in), 972.0);

    in.measurementIndex = 0;
    in.type = ScanType::BoundedElevation;
    in.elMin = 35;
    in.elMax = -35; // reversed limits: same span
    EXPECT_EQ(uniformLines(in), 972.0);
    in.elMax = 35;
    EXPECT_EQ(uniformLines(in), 0.0);
}

TEST(UniformLines, UndefinedSpacingLeavesTheCountAlone) {
    UniformScanInput in;
    in.mode = LIDAR_GENERIC;
    EXPECT_FALSE(uniformLines(in).has_value());

    in.mode = LIDAR_LX30;
    in.type = ScanType::Region;
    in.azMin = in.azMax = 100;
    EXPECT_FALSE(uniformLines(in).has_value());

    in.mode = LIDAR_LX20;
    in.type = ScanType::FullField;
    in.sampleRate = 0;
    EXPECT_FALSE(uniformLines(in).has_value());
}

TEST(UniformLines, RegionAcrossZeroCountsTheSweep) {
    UniformScanInput in;
    in.mode = LIDAR_LX30;
    in.type = ScanType::Region;
    in.azMin = 345;
    in.azMax = 15; // 30 degrees across zero: 5 x 30 / 25000 = 0.006 degrees
    EXPECT_EQ(uniformLines(in), 11666.0);
    in.azMin = 0;
    in.azMax = 360;
    EXPECT_EQ(uniformLines(in), 972.0);

    EXPECT_EQ(azimuthSweep(15, 345), 330.0);
    EXPECT_EQ(azimuthSweep(345, 15), 30.0);
    EXPECT_EQ(azimuthSweep(350, 10), 20.0);
    EXPECT_EQ(azimuthSweep(100, 100), 0.0);
    EXPECT_EQ(azimuthSweep(0, 360), 360.0);
    EXPECT_EQ(azimuthSweep(360, 0), 0.0);
}

namespace {

double norm(const std::array<double, 3>& p) {
    return std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
}

double elevationOf(const std::array<double, 3>& p) {
    return std::asin(p[2] / norm(p)) * 180.0 / M_PI;
}

} // namespace

TEST(RegionGeometry, FullFieldDrawsNothing) {
    EXPECT_TRUE(regionGeometry(ScanType::FullField, 15, 345, -35, 35, 5000).lines.empty());
}

TEST(RegionGeometry, RegionRaysAndArcsFollowTheSweepAtTheGivenLength) {
    const RegionGeometry region = regionGeometry(ScanType::Region, 90, 0, 0, 90);
    ASSERT_GE(region.lines.size(), 4u);
    EXPECT_EQ(region.lines[0], (std::vector<int>{0, 1}));
    EXPECT_EQ(region.lines[3], (std::vector<int>{0, 4}));
    EXPECT_EQ(region.points[0], (std::array<double, 3>{0, 0, 0}));
    EXPECT_NEAR(region.points[1][0], 1.0, 1e-12); // el 0, az 90: +x
    EXPECT_NEAR(region.points[2][1], 1.0, 1e-12); // el 0, az 0: +y
    EXPECT_NEAR(region.points[3][2], 1.0, 1e-12); // el 90: +z
    EXPECT_NEAR(region.points[4][2], 1.0, 1e-12);

    // 345 to 15 runs across zero: the arcs stay near +y instead of going round the back.
    const RegionGeometry across = regionGeometry(ScanType::Region, 345, 15, -10, 20, 6000);
    ASSERT_EQ(across.lines.size(), 6u);
    for (const int end : {1, 2, 3, 4}) {
        EXPECT_NEAR(norm(across.points[end]), 6000.0, 1e-6);
    }
    const std::vector<int>& low = across.lines[4];
    const std::vector<int>& high = across.lines[5];
    EXPECT_EQ(low.front(), 1);
    EXPECT_EQ(low.back(), 2);
    EXPECT_EQ(high.front(), 3);
    EXPECT_EQ(high.back(), 4);
    for (const int id : low) {
        EXPECT_GT(across.points[id][1], 5000.0) << id;
        EXPECT_NEAR(elevationOf(across.points[id]), -10.0, 1e-9);
    }
    for (const int id : high) {
        EXPECT_NEAR(elevationOf(across.points[id]), 20.0, 1e-9);
    }

    // Equal limits sweep nothing: the rays coincide in pairs and there is no arc.
    const RegionGeometry none = regionGeometry(ScanType::Region, 100, 100, -10, 20);
    EXPECT_EQ(none.lines.size(), 4u);
}

TEST(RegionGeometry, BoundedElevationGoesAllRoundWhateverTheAzimuthLimits) {
    const RegionGeometry a = regionGeometry(ScanType::BoundedElevation, 15, 345, -20, 30, 4000);
    const RegionGeometry b = regionGeometry(ScanType::BoundedElevation, 100, 120, -20, 30, 4000);
    ASSERT_EQ(a.lines.size(), 10u); // two circles and four rays to each
    int circles = 0;
    int rays = 0;
    double lowest = 90.0;
    double highest = -90.0;
    for (std::size_t i = 0; i < a.lines.size(); ++i) {
        const std::vector<int>& line = a.lines[i];
        if (line.size() == 2) {
            ++rays;
            EXPECT_EQ(line[0], 0);
            EXPECT_NEAR(norm(a.points[line[1]]), 4000.0, 1e-6);
        } else {
            ++circles;
            EXPECT_EQ(line.front(), line.back()) << "closed";
            double minX = 0, maxX = 0, minY = 0, maxY = 0;
            for (int id : line) {
                const auto& p = a.points[id];
                minX = std::min(minX, p[0]);
                maxX = std::max(maxX, p[0]);
                minY = std::min(minY, p[1]);
                maxY = std::max(maxY, p[1]);
                lowest = std::min(lowest, elevationOf(p));
                highest = std::max(highest, elevationOf(p));
            }
            // All round the device, on every side.
            EXPECT_LT(minX, -3000.0);
            EXPECT_GT(maxX, 3000.0);
            EXPECT_LT(minY, -3000.0);
            EXPECT_GT(maxY, 3000.0);
        }
        EXPECT_EQ(a.lines[i], b.lines[i]);
        for (int id : a.lines[i]) {
            for (int axis = 0; axis < 3; ++axis) {
                EXPECT_DOUBLE_EQ(a.points[id][axis], b.points[id][axis]);
            }
        }
    }
    EXPECT_EQ(circles, 2);
    EXPECT_EQ(rays, 8);
    EXPECT_NEAR(lowest, -20.0, 1e-9);
    EXPECT_NEAR(highest, 30.0, 1e-9);
}

TEST(RegionGeometry, PolyDataHasOneGreenCellPerLine) {
    const RegionGeometry geometry = regionGeometry(ScanType::Region, 15, 345, -35, 35, 2000);
    auto polyData = regionPolyData(geometry);
    ASSERT_EQ(polyData->GetNumberOfPoints(), static_cast<vtkIdType>(geometry.points.size()));
    ASSERT_EQ(polyData->GetNumberOfLines(), 6);
    auto colors = vtkUnsignedCharArray::SafeDownCast(polyData->GetCellData()->GetScalars());
    ASSERT_NE(colors, nullptr);
    EXPECT_STREQ(colors->GetName(), "Colors");
    ASSERT_EQ(colors->GetNumberOfTuples(), 6);
    for (vtkIdType i = 0; i < 6; ++i) {
        EXPECT_EQ(colors->GetTypedComponent(i, 0), 0);
        EXPECT_EQ(colors->GetTypedComponent(i, 1), 255);
        EXPECT_EQ(colors->GetTypedComponent(i, 2), 0);
    }

    vtkIdType count = 0;
    const vtkIdType* ids = nullptr;
    auto lines = polyData->GetLines();
    lines->InitTraversal();
    ASSERT_TRUE(lines->GetNextCell(count, ids));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 1);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(lines->GetNextCell(count, ids));
    }
    EXPECT_EQ(count, static_cast<vtkIdType>(geometry.lines[4].size()));

    auto none = regionPolyData(regionGeometry(ScanType::FullField, 15, 345, -35, 35));
    EXPECT_EQ(none->GetNumberOfLines(), 0);
}
