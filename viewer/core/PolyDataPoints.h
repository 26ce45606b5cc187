#pragma once

#include "DataPoint.h"

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <deque>

namespace viewer {

// The points as poly data: their coordinates, and their intensities as the first point-data
// array (named "intensity", one double per point).
vtkSmartPointer<vtkPolyData> pointsToPolyData(const std::deque<DataPoint>& points);

// Back from such poly data: coordinates, and the first point-data array's first component as the
// intensity. Empty when the poly data has no point-data array.
std::deque<DataPoint> polyDataToPoints(vtkPolyData* polyData);

} // namespace viewer
