#include "PolyDataPoints.h"

#include <vtkDoubleArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>

namespace viewer {

vtkSmartPointer<vtkPolyData> pointsToPolyData(const std::deque<DataPoint>& points) {
    auto polyData = vtkSmartPointer<vtkPolyData>::New();
    auto xyz = vtkSmartPointer<vtkPoints>::New();
    xyz->SetDataTypeToDouble();
    xyz->SetNumberOfPoints(static_cast<vtkIdType>(points.size()));
    auto scalars = vtkSmartPointer<vtkDoubleArray>::New();
    scalars->SetName("intensity");
    scalars->SetNumberOfValues(static_cast<vtkIdType>(points.size()));
    vtkIdType i = 0;
    for (const DataPoint& p : points) {
        xyz->SetPoint(i, p.x, p.y, p.z);
        scalars->SetValue(i, p.intensity);
        ++i;
    }
    polyData->SetPoints(xyz);
    polyData->GetPointData()->AddArray(scalars);
    polyData->GetPointData()->SetScalars(scalars);
    return polyData;
}

std::deque<DataPoint> polyDataToPoints(vtkPolyData* polyData) {
    std::deque<DataPoint> points;
    if (polyData == nullptr || polyData->GetPointData()->GetNumberOfArrays() == 0) {
        return points;
    }
    vtkDataArray* scalars = polyData->GetPointData()->GetArray(0);
    const vtkIdType n = polyData->GetNumberOfPoints();
    for (vtkIdType i = 0; i < n; ++i) {
        DataPoint p;
        double xyz[3];
        polyData->GetPoint(i, xyz);
        p.x = xyz[0];
        p.y = xyz[1];
        p.z = xyz[2];
        p.intensity = scalars != nullptr && i < scalars->GetNumberOfTuples()
                          ? scalars->GetComponent(i, 0)
                          : 0.0;
        points.push_back(p);
    }
    return points;
}

} // namespace viewer
