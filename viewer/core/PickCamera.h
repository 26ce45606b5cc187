#pragma once

// The camera as the pick and the selection see it: the view and projection matrices as plain
// arrays and the viewport, free of VTK (the window copies vtkCamera's matrices in).

#include <array>

namespace viewer {

// Row-major 4x4, acting on column vectors (p' = M p), as vtkMatrix4x4 stores its elements.
using Matrix4 = std::array<double, 16>;

Matrix4 multiply(const Matrix4& a, const Matrix4& b);

// A camera at eye looking at target with up as its up direction (vtkCamera's view transform).
Matrix4 lookAt(const std::array<double, 3>& eye, const std::array<double, 3>& target,
               const std::array<double, 3>& up);
// Perspective with a vertical view angle in degrees, and parallel projection of a view
// halfHeight high, both to OpenGL clip space (depth -1 at nearZ to 1 at farZ).
Matrix4 perspective(double viewAngleDeg, double aspect, double nearZ, double farZ);
Matrix4 orthographic(double halfHeight, double aspect, double nearZ, double farZ);

struct PickCamera {
    Matrix4 view{};       // vtkCamera::GetViewTransformMatrix()
    Matrix4 projection{}; // vtkCamera::GetProjectionTransformMatrix(aspect, -1, 1)
    int width = 1;        // viewport in pixels
    int height = 1;
};

// A rectangle of the viewport in pixels, origin at the bottom left (VTK's display
// coordinates); the corners in any order.
struct ScreenRect {
    double x0 = 0.0;
    double y0 = 0.0;
    double x1 = 0.0;
    double y1 = 0.0;
};

// The seven half-spaces a rectangle of the viewport shows, each kept where
// a.x + b.y + c.z + d >= 0: its four sides, beyond the near plane, before the far one and in front
// of the camera.
using ClipPlanes = double[7][4];
void rectClipPlanes(const PickCamera& camera, const ScreenRect& rect, ClipPlanes& plane);

} // namespace viewer
