#pragma once

#include "DataPoint.h"

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <array>
#include <optional>
#include <vector>

namespace viewer {

enum class ScanType { FullField, BoundedElevation, Region };

// The helper's five points (origin, then the unit directions of (elMin, azMin), (elMin, azMax),
// (elMax, azMin), (elMax, azMax)) and the rays drawn from the origin for the scan type: none for
// full field, the two at azMax (points 2 and 4) for bounded elevation, all four for a region.
struct RegionGeometry {
    std::array<std::array<double, 3>, 5> points{};
    std::vector<int> rayEnds; // point ids the rays go to, in ray order
};

RegionGeometry regionGeometry(ScanType type, double azMin, double azMax, double elMin,
                              double elMax);

// The helper as poly data: the five points, the rays as line cells, and one green (0, 255, 0)
// colour per line as cell-data scalars named "Colors".
vtkSmartPointer<vtkPolyData> regionPolyData(const RegionGeometry& geometry);

struct UniformScanInput {
    ScanType type = ScanType::FullField;
    LIDAR_TYPE mode = LIDAR_GENERIC;
    double azSpeed = 5.0; // revolutions per second
    double azMin = 15.0;
    double azMax = 345.0;
    double elMin = -35.0;
    double elMax = 35.0;
    int measurementIndex = 0; // LX30 measurement mode
    int averagedSamples = 1;  // LX20
    int sampleRate = 10000;   // LX20, samples per second
};

// Number of lines giving the same angular spacing between lines as between points along a line,
// truncated toward zero. Empty when no spacing is defined (the generic model has no point rate,
// and a zero azimuth span or speed gives a spacing of zero): the caller then leaves the line
// count as it is.
std::optional<double> uniformLines(const UniformScanInput& in);

} // namespace viewer
