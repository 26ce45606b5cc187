#include "RegionHelper.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkPoints.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cmath>

namespace viewer {

namespace {

// Arcs are drawn in steps of at most this many degrees.
constexpr double kArcStepDeg = 5.0;

std::array<double, 3> direction(double elevationDeg, double azimuthDeg, double length) {
    constexpr double kPi = 3.141592653589793;
    const double el = elevationDeg * kPi / 180.0;
    const double az = azimuthDeg * kPi / 180.0;
    return {length * std::cos(el) * std::sin(az), length * std::cos(el) * std::cos(az),
            length * std::sin(el)};
}

// Appends the inner points of an arc at elevation el from azimuth from over sweep degrees and
// returns the polyline from point first to point last through them.
std::vector<int> arc(RegionGeometry& g, double el, double from, double sweep, double length,
                     int first, int last) {
    const int steps = std::max(1, static_cast<int>(std::ceil(sweep / kArcStepDeg)));
    std::vector<int> line{first};
    for (int i = 1; i < steps; ++i) {
        g.points.push_back(direction(el, from + sweep * i / steps, length));
        line.push_back(static_cast<int>(g.points.size()) - 1);
    }
    line.push_back(last);
    return line;
}

} // namespace

double azimuthSweep(double azMin, double azMax) {
    const double difference = azMax - azMin;
    if (difference >= 360.0) {
        return 360.0;
    }
    double sweep = std::fmod(difference, 360.0);
    if (sweep < 0.0) {
        sweep += 360.0;
    }
    return sweep;
}

RegionGeometry regionGeometry(ScanType type, double azMin, double azMax, double elMin, double elMax,
                              double length) {
    RegionGeometry g;
    g.points = {{0.0, 0.0, 0.0},
                direction(elMin, azMin, length),
                direction(elMin, azMax, length),
                direction(elMax, azMin, length),
                direction(elMax, azMax, length)};
    switch (type) {
    case ScanType::BoundedElevation:
        for (const double el : {elMin, elMax}) {
            const int start = static_cast<int>(g.points.size());
            g.points.push_back(direction(el, 0.0, length));
            std::vector<int> circle = arc(g, el, 0.0, 360.0, length, start, start);
            g.lines.push_back(std::move(circle));
            for (int quarter = 0; quarter < 4; ++quarter) {
                // The circle's points run in 5-degree steps from azimuth 0.
                g.lines.push_back({0, start + quarter * 18});
            }
        }
        break;
    case ScanType::Region: {
        g.lines = {{0, 1}, {0, 2}, {0, 3}, {0, 4}};
        const double sweep = azimuthSweep(azMin, azMax);
        if (sweep > 0.0) {
            g.lines.push_back(arc(g, elMin, azMin, sweep, length, 1, 2));
            g.lines.push_back(arc(g, elMax, azMin, sweep, length, 3, 4));
        }
        break;
    }
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
    const unsigned char green[3] = {0, 255, 0};
    for (const std::vector<int>& line : geometry.lines) {
        lines->InsertNextCell(static_cast<vtkIdType>(line.size()));
        for (int id : line) {
            lines->InsertCellPoint(id);
        }
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
        azimuthSpan = azimuthSweep(in.azMin, in.azMax);
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
