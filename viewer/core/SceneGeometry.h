// What the view needs to know about the scene, free of VTK and widgets: the extent of the cloud
// for fitting the camera, the camera that frames it from behind the device, the ground grid with
// its scale, and the length of the region helper's rays.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace viewer {

using Vec3 = std::array<double, 3>;

struct Bounds {
    Vec3 min{0.0, 0.0, 0.0};
    Vec3 max{0.0, 0.0, 0.0};

    double size(int axis) const { return max[axis] - min[axis]; }
    double diagonal() const;
    Vec3 centre() const;
    // Grown to hold p.
    void include(const Vec3& p);
};

// Positions drawn from the scene, at most a few tens of thousands, enough to judge its extent.
struct SceneSample {
    std::vector<Vec3> points; // finite positions only
};

// An even stride through points first to n - 1 of a buffer whose elements have x, y and z (the
// points shown: a display mode shows the newest ones), keeping at most maxSamples of them (the
// newest point always among them), so that the cost does not grow with the buffer. Points with
// a coordinate that is not finite are skipped.
template <class Buffer>
SceneSample sampleScene(const Buffer& buffer, std::size_t n, std::size_t maxSamples = 20000,
                        std::size_t first = 0) {
    SceneSample sample;
    if (n <= first || maxSamples == 0) {
        return sample;
    }
    const std::size_t count = n - first;
    const std::size_t stride = count > maxSamples ? (count + maxSamples - 1) / maxSamples : 1;
    sample.points.reserve(count / stride + 2);
    const auto take = [&](std::size_t i) {
        const auto& p = buffer[i];
        const Vec3 v{static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
        if (std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2])) {
            sample.points.push_back(v);
        }
    };
    std::size_t i = first + (count - 1) % stride;
    for (; i < n; i += stride) {
        take(i);
    }
    return sample;
}

// The extent the camera is fitted to: per axis, the sample's values between the trim and
// 1 - trim quantiles (so a few stray far points do not shrink the cloud to a dot), grown to hold
// the device at the origin. An empty sample gives the bounds of the origin alone.
Bounds sceneBounds(const SceneSample& sample, double trim = 0.005);

// The bounds shown before any point has arrived: the space around the device that the region
// helper's rays of this length reach.
Bounds defaultBounds(double helperLength);

// Whether a cloud that has grown or shrunk to now should be framed again while the view follows
// the data: some part of it lies outside the framed bounds by more than a twentieth of their
// diagonal, or it has shrunk below half their diagonal.
bool needsRefit(const Bounds& framed, const Bounds& now);

struct CameraPose {
    Vec3 position{0.0, 0.0, 0.0};
    Vec3 focalPoint{0.0, 0.0, 0.0};
    Vec3 viewUp{0.0, 0.0, 1.0};
    double parallelScale = 1.0; // half the view height in parallel projection
};

// The default direction of view: from behind the device (azimuth 0 points along +y) and a
// little above it, looking ahead and down; z is up.
Vec3 defaultViewDirection();

// A camera looking along direction (z up) at the centre of bounds from as close as it can while
// every corner of bounds stays inside a view of the given vertical angle (degrees) and aspect
// (width / height), with a small margin. Works for perspective and parallel projection alike.
CameraPose fitCamera(const Bounds& bounds, const Vec3& direction, double viewAngleDeg,
                     double aspect);

// The largest range among the sampled points, judged like sceneBounds (the 1 - trim quantile of
// the distances from the origin), so that the helper's rays reach out to the scene. Returns
// fallback for an empty sample or one whose points all sit at the origin.
double helperLength(const SceneSample& sample, double fallback, double trim = 0.005);

// A round step (1, 2 or 5 times a power of ten) that divides extent into about targetCells.
double niceStep(double extent, int targetCells = 10);

// A length in the cloud's unit (millimetres) as the scale label shows it: "500 mm", "1 m",
// "20 m", "0.5 mm".
std::string lengthLabel(double millimetres);

// The ground grid: lines every step in x and y over the cloud's extent, on its floor (the lowest
// z of the bounds), the extent rounded out to whole steps.
struct GroundGrid {
    double step = 1.0;
    double xMin = 0.0, xMax = 0.0, yMin = 0.0, yMax = 0.0;
    double z = 0.0;
    int xLines() const { return static_cast<int>(std::lround((xMax - xMin) / step)) + 1; }
    int yLines() const { return static_cast<int>(std::lround((yMax - yMin) / step)) + 1; }
};

GroundGrid groundGrid(const Bounds& bounds, int targetCells = 10);

} // namespace viewer
