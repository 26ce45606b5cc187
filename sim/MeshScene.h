// A scene made of triangles and points (as read from a PLY or PCD file),
// seen from the device at the origin. Each point stands for a small disc of
// surface: facing its normal when it has one, else facing the beam. A beam
// hits the nearest triangle or disc on its way. Primitives are binned on a
// grid of directions (azimuth, elevation) so that a cast looks only at those
// that can lie in its direction. Immutable once built.
#pragma once

#include "Scene.h"

#include <cstdint>
#include <vector>

namespace sentova {
namespace sim {

struct SceneTriangle {
    Vec3 a, b, c;
    double reflectivity = 0.5; // 0..1
};

struct ScenePoint {
    Vec3 position;
    Vec3 normal;               // zero when unknown
    double radius = 0.01;      // metres
    double reflectivity = 0.5; // 0..1
};

class MeshScene : public Scene {
public:
    MeshScene(std::vector<SceneTriangle> triangles, std::vector<ScenePoint> points);

    std::optional<BeamHit> cast(const Vec3& direction) const override;

    std::size_t triangleCount() const { return m_triangles.size(); }
    std::size_t pointCount() const { return m_points.size(); }

    // Directions the grid covers; beams outside it see nothing (the aperture
    // never points there).
    static constexpr double kElevationReach = 45.0;
    static constexpr double kCellDegrees = 0.5;

private:
    void bin(std::uint32_t index, double azMin, double azMax, double elMin, double elMax);
    const Surface* surfaceFor(double reflectivity) const;

    std::vector<SceneTriangle> m_triangles;
    std::vector<ScenePoint> m_points;
    std::vector<std::vector<std::uint32_t>> m_cells; // elevation row by azimuth column
    std::vector<Surface> m_surfaces;                 // by reflectivity, in steps
    int m_columns = 0, m_rows = 0;
};

// A typical spacing between neighbouring points: the mean distance to the
// nearest neighbour over a sample of the points (0 for fewer than two).
double typicalSpacing(const std::vector<Vec3>& points);

} // namespace sim
} // namespace sentova
