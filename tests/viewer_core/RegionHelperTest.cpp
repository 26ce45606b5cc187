#include "RegionHelper.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkUnsignedCharArray.h>

#include <gtest/gtest.h>

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

TEST(RegionGeometry, RaysByScanType) {
    const RegionGeometry full = regionGeometry(ScanType::FullField, 15, 345, -35, 35);
    EXPECT_TRUE(full.rayEnds.empty());

    const RegionGeometry bounded = regionGeometry(ScanType::BoundedElevation, 15, 345, -35, 35);
    EXPECT_EQ(bounded.rayEnds, (std::vector<int>{2, 4}));

    const RegionGeometry region = regionGeometry(ScanType::Region, 90, 0, 0, 90);
    EXPECT_EQ(region.rayEnds, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(region.points[0], (std::array<double, 3>{0, 0, 0}));
    EXPECT_NEAR(region.points[1][0], 1.0, 1e-12); // el 0, az 90: +x
    EXPECT_NEAR(region.points[2][1], 1.0, 1e-12); // el 0, az 0: +y
    EXPECT_NEAR(region.points[3][2], 1.0, 1e-12); // el 90: +z
    EXPECT_NEAR(region.points[4][2], 1.0, 1e-12);
}

TEST(RegionGeometry, PolyDataHasGreenLinesFromTheOrigin) {
    auto polyData = regionPolyData(regionGeometry(ScanType::BoundedElevation, 15, 345, -35, 35));
    ASSERT_EQ(polyData->GetNumberOfPoints(), 5);
    ASSERT_EQ(polyData->GetNumberOfLines(), 2);
    auto colors = vtkUnsignedCharArray::SafeDownCast(polyData->GetCellData()->GetScalars());
    ASSERT_NE(colors, nullptr);
    EXPECT_STREQ(colors->GetName(), "Colors");
    ASSERT_EQ(colors->GetNumberOfTuples(), 2);
    EXPECT_EQ(colors->GetValue(0), 0);
    EXPECT_EQ(colors->GetValue(1), 255);
    EXPECT_EQ(colors->GetValue(2), 0);

    vtkIdType count = 0;
    const vtkIdType* ids = nullptr;
    auto lines = polyData->GetLines();
    lines->InitTraversal();
    ASSERT_TRUE(lines->GetNextCell(count, ids));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 2);

    auto none = regionPolyData(regionGeometry(ScanType::FullField, 15, 345, -35, 35));
    EXPECT_EQ(none->GetNumberOfLines(), 0);
    EXPECT_EQ(none->GetNumberOfPoints(), 5);
}
