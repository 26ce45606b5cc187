// Finding the window's scene pieces in its renderer: the cloud's chunk actors (vertex-free point
// actors), the region helper (lines with a colour per cell) and the colour legend.
#pragma once

#include <vtkActor.h>
#include <vtkActor2DCollection.h>
#include <vtkActorCollection.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkMapper.h>
#include <vtkPointGaussianMapper.h>
#include <vtkPolyData.h>
#include <vtkRenderer.h>
#include <vtkScalarBarActor.h>
#include <vtkScalarsToColors.h>

#include <array>
#include <cstring>
#include <vector>

namespace viewer_test {

inline std::vector<vtkActor*> cloudActors(vtkRenderer* renderer) {
    std::vector<vtkActor*> actors;
    vtkActorCollection* all = renderer->GetActors();
    for (int i = 0; i < all->GetNumberOfItems(); ++i) {
        auto* actor = vtkActor::SafeDownCast(all->GetItemAsObject(i));
        if (actor && vtkPointGaussianMapper::SafeDownCast(actor->GetMapper())) {
            actors.push_back(actor);
        }
    }
    return actors;
}

inline vtkActor* regionHelper(vtkRenderer* renderer) {
    vtkActorCollection* all = renderer->GetActors();
    for (int i = 0; i < all->GetNumberOfItems(); ++i) {
        auto* actor = vtkActor::SafeDownCast(all->GetItemAsObject(i));
        if (!actor || !actor->GetMapper()) {
            continue;
        }
        auto* data = vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput());
        vtkDataArray* colours = data ? data->GetCellData()->GetScalars() : nullptr;
        if (colours && colours->GetName() && std::strcmp(colours->GetName(), "Colors") == 0) {
            return actor;
        }
    }
    return nullptr;
}

// The intensities the colour legend spans, {minimum, maximum}: the range the last display refresh
// coloured the cloud with. {-1, -1} without a legend.
inline std::array<double, 2> legendRange(vtkRenderer* renderer) {
    vtkActor2DCollection* all = renderer->GetActors2D();
    for (int i = 0; i < all->GetNumberOfItems(); ++i) {
        auto* legend = vtkScalarBarActor::SafeDownCast(all->GetItemAsObject(i));
        if (legend && legend->GetLookupTable()) {
            const double* range = legend->GetLookupTable()->GetRange();
            return {range[0], range[1]};
        }
    }
    return {-1.0, -1.0};
}

// Every point the visible cloud actors draw.
inline std::vector<std::array<double, 3>> drawnCloudPoints(vtkRenderer* renderer) {
    std::vector<std::array<double, 3>> points;
    for (vtkActor* actor : cloudActors(renderer)) {
        if (!actor->GetVisibility()) {
            continue;
        }
        auto* data = vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput());
        for (vtkIdType i = 0; i < data->GetNumberOfPoints(); ++i) {
            std::array<double, 3> p;
            data->GetPoint(i, p.data());
            points.push_back(p);
        }
    }
    return points;
}

} // namespace viewer_test
