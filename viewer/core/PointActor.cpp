#include "PointActor.h"

#include <vtkActor.h>
#include <vtkFloatArray.h>
#include <vtkPointData.h>
#include <vtkPointGaussianMapper.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>

namespace viewer {

void wirePointActor(vtkActor* actor, vtkProperty* property, vtkFloatArray* xyzView,
                    vtkUnsignedCharArray* rgbView, vtkPolyData* polyData) {
    xyzView->SetNumberOfComponents(3);
    rgbView->SetNumberOfComponents(3);
    rgbView->SetName("Colors");
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetData(xyzView);
    polyData->SetPoints(points);
    polyData->GetPointData()->SetScalars(rgbView);
    auto mapper = vtkSmartPointer<vtkPointGaussianMapper>::New();
    // Plain points of the property's size, without cells.
    mapper->SetScaleFactor(0.0);
    mapper->SetInputData(polyData);
    // Its input is data set here, never a pipeline's output: no pipeline update at every render
    // and every bounds query of the frame (the view's clipping range asks each actor).
    mapper->StaticOn();
    actor->SetMapper(mapper);
    actor->SetProperty(property);
    actor->VisibilityOff();
}

} // namespace viewer
