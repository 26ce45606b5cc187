#include "SceneGeometry.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace viewer {

namespace {

constexpr double kPi = 3.141592653589793;
// Head-room around the framed cloud, as a share of its projected size.
constexpr double kFitMargin = 1.08;

double dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vec3 normalised(const Vec3& v) {
    const double length = std::sqrt(dot(v, v));
    if (!(length > 0.0)) {
        return {0.0, 1.0, 0.0};
    }
    return {v[0] / length, v[1] / length, v[2] / length};
}

// The value at quantile q of values (reordered in place); values is not empty.
double quantile(std::vector<double>& values, double q) {
    const double position = q * static_cast<double>(values.size() - 1);
    const std::size_t index =
        static_cast<std::size_t>(q < 0.5 ? std::floor(position) : std::ceil(position));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index),
                     values.end());
    return values[index];
}

} // namespace

double Bounds::diagonal() const {
    const Vec3 d{size(0), size(1), size(2)};
    return std::sqrt(dot(d, d));
}

Vec3 Bounds::centre() const {
    return {(min[0] + max[0]) / 2.0, (min[1] + max[1]) / 2.0, (min[2] + max[2]) / 2.0};
}

void Bounds::include(const Vec3& p) {
    for (int axis = 0; axis < 3; ++axis) {
        min[axis] = std::min(min[axis], p[axis]);
        max[axis] = std::max(max[axis], p[axis]);
    }
}

Bounds sceneBounds(const SceneSample& sample, double trim) {
    Bounds bounds; // the origin
    if (sample.points.empty()) {
        return bounds;
    }
    trim = std::clamp(trim, 0.0, 0.49);
    std::vector<double> values(sample.points.size());
    for (int axis = 0; axis < 3; ++axis) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = sample.points[i][axis];
        }
        bounds.min[axis] = std::min(0.0, quantile(values, trim));
        bounds.max[axis] = std::max(0.0, quantile(values, 1.0 - trim));
    }
    return bounds;
}

Bounds defaultBounds(double helperLength) {
    const double l = helperLength > 0.0 ? helperLength : 1.0;
    Bounds bounds;
    bounds.min = {-l, -l, -0.35 * l};
    bounds.max = {l, l, 0.35 * l};
    return bounds;
}

bool needsRefit(const Bounds& framed, const Bounds& now) {
    const double margin = framed.diagonal() / 20.0;
    for (int axis = 0; axis < 3; ++axis) {
        if (now.min[axis] < framed.min[axis] - margin ||
            now.max[axis] > framed.max[axis] + margin) {
            return true;
        }
    }
    return now.diagonal() < 0.5 * framed.diagonal();
}

Vec3 defaultViewDirection() {
    const double pitch = 20.0 * kPi / 180.0;
    return {0.0, std::cos(pitch), -std::sin(pitch)};
}

CameraPose fitCamera(const Bounds& bounds, const Vec3& direction, double viewAngleDeg,
                     double aspect) {
    Bounds box = bounds;
    if (!(box.diagonal() > 1e-9)) {
        // A cloud of one spot: frame a unit around it.
        for (int axis = 0; axis < 3; ++axis) {
            box.min[axis] -= 0.5;
            box.max[axis] += 0.5;
        }
    }
    const Vec3 d = normalised(direction);
    Vec3 right = cross(d, {0.0, 0.0, 1.0});
    if (!(dot(right, right) > 1e-12)) {
        right = cross(d, {0.0, 1.0, 0.0}); // looking straight up or down
    }
    right = normalised(right);
    const Vec3 up = cross(right, d);

    const double halfAngle = std::clamp(viewAngleDeg, 1.0, 179.0) * kPi / 360.0;
    const double tanV = std::tan(halfAngle);
    const double safeAspect = aspect > 0.0 && std::isfinite(aspect) ? aspect : 1.0;
    const double tanH = tanV * safeAspect;

    const Vec3 c = box.centre();
    double distance = 0.0;
    double parallelScale = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        const Vec3 k{(corner & 1) ? box.max[0] : box.min[0], (corner & 2) ? box.max[1] : box.min[1],
                     (corner & 4) ? box.max[2] : box.min[2]};
        const Vec3 rel{k[0] - c[0], k[1] - c[1], k[2] - c[2]};
        const double along = dot(rel, d);
        const double h = std::fabs(dot(rel, right)) * kFitMargin;
        const double v = std::fabs(dot(rel, up)) * kFitMargin;
        distance = std::max({distance, h / tanH - along, v / tanV - along});
        parallelScale = std::max({parallelScale, v, h / safeAspect});
    }
    CameraPose pose;
    pose.focalPoint = c;
    pose.position = {c[0] - d[0] * distance, c[1] - d[1] * distance, c[2] - d[2] * distance};
    pose.viewUp = up;
    pose.parallelScale = parallelScale;
    return pose;
}

double helperLength(const SceneSample& sample, double fallback, double trim) {
    if (sample.points.empty()) {
        return fallback;
    }
    std::vector<double> ranges;
    ranges.reserve(sample.points.size());
    for (const Vec3& p : sample.points) {
        ranges.push_back(std::sqrt(dot(p, p)));
    }
    const double length = quantile(ranges, 1.0 - std::clamp(trim, 0.0, 0.49));
    return length > 0.0 && std::isfinite(length) ? length : fallback;
}

double niceStep(double extent, int targetCells) {
    const double raw = extent / std::max(1, targetCells);
    if (!(raw > 0.0) || !std::isfinite(raw)) {
        return 1.0;
    }
    const double base = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / base;
    const double step = f < 1.5 ? 1.0 : f < 3.5 ? 2.0 : f < 7.5 ? 5.0 : 10.0;
    return step * base;
}

std::string lengthLabel(double millimetres) {
    std::ostringstream text;
    text << std::setprecision(6);
    if (std::fabs(millimetres) >= 1000.0) {
        text << millimetres / 1000.0 << " m";
    } else {
        text << millimetres << " mm";
    }
    return text.str();
}

GroundGrid groundGrid(const Bounds& bounds, int targetCells) {
    GroundGrid grid;
    grid.step = niceStep(std::max(bounds.size(0), bounds.size(1)), targetCells);
    grid.xMin = std::floor(bounds.min[0] / grid.step) * grid.step;
    grid.xMax = std::ceil(bounds.max[0] / grid.step) * grid.step;
    grid.yMin = std::floor(bounds.min[1] / grid.step) * grid.step;
    grid.yMax = std::ceil(bounds.max[1] / grid.step) * grid.step;
    if (grid.xMax <= grid.xMin) {
        grid.xMax = grid.xMin + grid.step;
    }
    if (grid.yMax <= grid.yMin) {
        grid.yMax = grid.yMin + grid.step;
    }
    grid.z = bounds.min[2];
    return grid;
}

} // namespace viewer
