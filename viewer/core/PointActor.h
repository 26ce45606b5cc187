#pragma once

class vtkActor;
class vtkFloatArray;
class vtkPolyData;
class vtkProperty;
class vtkUnsignedCharArray;

namespace viewer {

// Makes actor draw the points whose positions and colours the two views hold, as plain points of
// the property's size, hidden until shown.
void wirePointActor(vtkActor* actor, vtkProperty* property, vtkFloatArray* xyzView,
                    vtkUnsignedCharArray* rgbView, vtkPolyData* polyData);

} // namespace viewer
