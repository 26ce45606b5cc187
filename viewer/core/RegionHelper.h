#pragma once

#include "DataPoint.h"

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <array>
#include <optional>
#include <vector>

namespace viewer {

enum class ScanType { FullField, BoundedElevation, Region };

// Degrees swept from azMin towards increasing azimuth to azMax, as the device runs a region
// scan: 345 to 15 sweeps 30 across zero, 15 to 345 sweeps 330; 0 to 360 is a whole turn and equal
// limits sweep nothing.
double azimuthSweep(double azMin, double azMax);

// The helper's outline, its points at the given distance from the device (length, in the
// cloud's unit). Points 0 to 4 are always the origin and the directions of (elMin, azMin),
// (elMin, azMax), (elMax, azMin), (elMax, azMax); further points belong to the arcs.
//  - full field: no lines;
//  - bounded elevation: the two elevation limits all round (a closed circle at each) and, at
//    every quarter turn, a ray from the origin to each circle; the azimuth limits play no part;
//  - region: the four corner rays (to points 1, 2, 3, 4) and, when the sweep is not empty, an arc
//    at each elevation limit from azMin through the sweep to azMax (1 to 2 and 3 to 4).
struct RegionGeometry {
    std::vector<std::array<double, 3>> points;
    std::vector<std::vector<int>> lines; // polylines of point ids; rays have two
};

RegionGeometry regionGeometry(ScanType type, double azMin, double azMax, double elMin, double elMax,
                              double length = 1.0);

// The helper as poly data: the points, the lines as line cells, and one green (0, 255, 0)
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
// truncated toward zero. A region's azimuth span is its sweep (azimuthSweep), so limits across
// zero count the degrees the device really turns. Empty when no spacing is defined (the generic
// model has no point rate, and a zero azimuth span or speed gives a spacing of zero): the caller
// then leaves the line count as it is.
std::optional<double> uniformLines(const UniformScanInput& in);

} // namespace viewer
