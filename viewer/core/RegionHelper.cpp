#include "RegionHelper.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkPoints.h>
#include <vtkUnsignedCharArray.h>

#include <cmath>

namespace viewer {

namespace {

constexpr double kPi = 3.141592653589793;

std::array<double, 3> direction(double elevationDeg, double azimuthDeg) {
    const double el = elevationDeg * kPi / 180.0;
    const double az = azimuthDeg * kPi / 180.0;
    return {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)};
}

} // namespace

RegionGeometry regionGeometry(ScanType type, double azMin, double azMax, double elMin,
                              double elMax) {
    RegionGeometry g;
    g.points[0] = {0.0, 0.0, 0.0};
    g.points[1] = direction(elMin, azMin);
    g.points[2] = direction(elMin, azMax);
    g.points[3] = direction(elMax, azMin);
    g.points[4] = direction(elMax, azMax);
    switch (type) {
    case ScanType::BoundedElevation:
        g.rayEnds = {2, 4};
        break;
    case ScanType::Region:
        g.rayEnds = {1, 2, 3, 4};
        break;
    case ScanType::FullField:
        break;
    }
    return g;
}

vtkSmartPointer<vtkPolyData> regionPolyData(const RegionGeometry& geometry) {
    auto points = vtkSmartPointer<vtkPoints>::New();
    for (const auto& p : geometry.points) {
        points->InsertNextPoint(p.data());
    }
    auto lines = vtkSmartPointer<vtkCellArray>::New();
    auto colors = vtkSmartPointer<vtkUnsignedCharArray>::New();
    colors->SetNumberOfComponents(3);
    colors->SetName("Colors");
    for (int end : geometry.rayEnds) {
        const vtkIdType ids[2] = {0, end};
        lines->InsertNextCell(2, ids);
        const unsigned char green[3] = {0, 255, 0};
        colors->InsertNextTypedTuple(green);
    }
    auto polyData = vtkSmartPointer<vtkPolyData>::New();
    polyData->SetPoints(points);
    polyData->SetLines(lines);
    polyData->GetCellData()->SetScalars(colors);
    return polyData;
}

std::optional<double> uniformLines(const UniformScanInput& in) {
    double elevationSpan = 70.0;
    double azimuthSpan = 360.0;
    if (in.type == ScanType::BoundedElevation) {
        elevationSpan = std::fabs(in.elMax - in.elMin);
    } else if (in.type == ScanType::Region) {
        elevationSpan = std::fabs(in.elMax - in.elMin);
        azimuthSpan = std::fabs(in.azMax - in.azMin);
    }

    double spacing = 0.0;
    if (in.mode == LIDAR_LX30) {
        double rate = 25000.0;
        if (in.measurementIndex == 1) {
            rate = 5000.0;
        } else if (in.measurementIndex == 2) {
            rate = 500.0;
        }
        spacing = in.azSpeed * azimuthSpan / rate;
    } else if (in.mode == LIDAR_LX20) {
        if (in.sampleRate <= 0) {
            return std::nullopt;
        }
        spacing = in.averagedSamples * azimuthSpan * in.azSpeed / in.sampleRate;
    } else {
        return std::nullopt;
    }
    if (!(spacing > 0.0) || !std::isfinite(spacing)) {
        return std::nullopt;
    }
    const double lines = std::trunc(elevationSpan / spacing);
    if (!std::isfinite(lines)) {
        return std::nullopt;
    }
    return lines;
}

} // namespace viewer
