#include "PolyDataPoints.h"

#include <vtkPointData.h>

#include <gtest/gtest.h>

using namespace viewer;

// The poly data the window's loader returns carries the coordinates and, as its first array, the
// intensities; the window reads the points back from it.
TEST(PolyDataPoints, CoordinatesAndIntensitiesRoundTrip) {
    std::deque<DataPoint> points;
    for (int i = 0; i < 300; ++i) {
        DataPoint p;
        p.x = i * 0.125;
        p.y = -i * 2.5;
        p.z = 1000 + i;
        p.intensity = (i * 37) % 65536;
        points.push_back(p);
    }
    auto polyData = pointsToPolyData(points);
    ASSERT_EQ(polyData->GetNumberOfPoints(), 300);
    ASSERT_GE(polyData->GetPointData()->GetNumberOfArrays(), 1);
    EXPECT_EQ(polyData->GetPointData()->GetArray(0)->GetComponent(37, 0), (37 * 37) % 65536);
    const std::deque<DataPoint> back = polyDataToPoints(polyData);
    ASSERT_EQ(back.size(), 300u);
    EXPECT_EQ(back[299].y, points[299].y);
    EXPECT_EQ(back[12].intensity, points[12].intensity);
    EXPECT_TRUE(polyDataToPoints(vtkSmartPointer<vtkPolyData>::New()).empty());
}
