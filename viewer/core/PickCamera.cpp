#include "PickCamera.h"

#include <algorithm>
#include <cmath>

namespace viewer {

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 m{};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k) {
                s += a[r * 4 + k] * b[k * 4 + c];
            }
            m[r * 4 + c] = s;
        }
    }
    return m;
}

Matrix4 lookAt(const std::array<double, 3>& eye, const std::array<double, 3>& target,
               const std::array<double, 3>& up) {
    const auto normalised = [](std::array<double, 3> v) {
        const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        return std::array<double, 3>{v[0] / l, v[1] / l, v[2] / l};
    };
    const auto cross = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return std::array<double, 3>{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                                     a[0] * b[1] - a[1] * b[0]};
    };
    const auto dot = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    };
    const auto f = normalised({target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]});
    const auto s = normalised(cross(f, up));
    const auto u = cross(s, f);
    return {s[0],  s[1],  s[2],  -dot(s, eye), u[0], u[1], u[2], -dot(u, eye),
            -f[0], -f[1], -f[2], dot(f, eye),  0.0,  0.0,  0.0,  1.0};
}

Matrix4 perspective(double viewAngleDeg, double aspect, double nearZ, double farZ) {
    constexpr double kPi = 3.141592653589793;
    const double f = 1.0 / std::tan(viewAngleDeg * kPi / 360.0);
    Matrix4 m{};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = -(farZ + nearZ) / (farZ - nearZ);
    m[11] = -2.0 * farZ * nearZ / (farZ - nearZ);
    m[14] = -1.0;
    return m;
}

Matrix4 orthographic(double halfHeight, double aspect, double nearZ, double farZ) {
    Matrix4 m{};
    m[0] = 1.0 / (halfHeight * aspect);
    m[5] = 1.0 / halfHeight;
    m[10] = -2.0 / (farZ - nearZ);
    m[11] = -(farZ + nearZ) / (farZ - nearZ);
    m[15] = 1.0;
    return m;
}

void rectClipPlanes(const PickCamera& camera, const ScreenRect& rect, ClipPlanes& plane) {
    const Matrix4 m = multiply(camera.projection, camera.view);
    const auto ndcX = [&](double x) { return 2.0 * x / camera.width - 1.0; };
    const auto ndcY = [&](double y) { return 2.0 * y / camera.height - 1.0; };
    const double x0 = ndcX(std::min(rect.x0, rect.x1));
    const double x1 = ndcX(std::max(rect.x0, rect.x1));
    const double y0 = ndcY(std::min(rect.y0, rect.y1));
    const double y1 = ndcY(std::max(rect.y0, rect.y1));
    // Rows of the clip transform: clip x = r0 . p, ..., w = r3 . p.
    const double* r0 = &m[0];
    const double* r1 = &m[4];
    const double* r2 = &m[8];
    const double* r3 = &m[12];
    for (int k = 0; k < 4; ++k) {
        plane[0][k] = r0[k] - x0 * r3[k]; // x >= x0 w
        plane[1][k] = x1 * r3[k] - r0[k]; // x <= x1 w
        plane[2][k] = r1[k] - y0 * r3[k];
        plane[3][k] = y1 * r3[k] - r1[k];
        plane[4][k] = r2[k] + r3[k]; // beyond the near plane
        plane[5][k] = r3[k] - r2[k]; // before the far plane
        plane[6][k] = r3[k];         // in front of the camera
    }
}

} // namespace viewer
