#include "PointReadout.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace viewer {

namespace {

// The region spin boxes show two decimals. A bound within 1e-5 degrees of a whole hundredth
// stays there: more than the angle error of a position kept in single precision, as the pick
// index keeps them.
double hundredthsDown(double v) {
    return std::floor(v * 100.0 + 1e-3) / 100.0;
}
double hundredthsUp(double v) {
    return std::ceil(v * 100.0 - 1e-3) / 100.0;
}

double wrapTurn(double a) {
    a = std::fmod(a, 360.0);
    if (a < 0.0) {
        a += 360.0;
    }
    return a < 360.0 ? a : 0.0;
}

} // namespace

std::string pickText(const DataPoint& p, bool extras) {
    const DeviceAngles a = pointAngles(p);
    char first[256];
    std::snprintf(first, sizeof first,
                  "Az %.3f\u00b0  El %.3f\u00b0  Range %.1f mm  x %.1f  y %.1f  z %.1f mm",
                  a.azimuth, a.elevation, a.range, p.x, p.y, p.z);
    char extra[128];
    if (extras) {
        std::snprintf(extra, sizeof extra, "Reflectance %g  Pulse shape deviation %g",
                      p.reflectance, p.pulseShapeDeviation);
    } else {
        std::snprintf(extra, sizeof extra,
                      "Reflectance not measured  Pulse shape deviation not measured");
    }
    char second[256];
    std::snprintf(second, sizeof second, "Amplitude %g  %s  Time %" PRIu64, p.intensity, extra,
                  p.timestamp);
    return std::string(first) + "\n" + second;
}

double azimuthDifference(double from, double to) {
    double d = std::fmod(to - from, 360.0);
    if (d > 180.0) {
        d -= 360.0;
    } else if (d <= -180.0) {
        d += 360.0;
    }
    return d;
}

Ruler measure(const DataPoint& a, const DataPoint& b) {
    const DeviceAngles pa = pointAngles(a);
    const DeviceAngles pb = pointAngles(b);
    Ruler r;
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double dz = b.z - a.z;
    r.distance = std::sqrt(dx * dx + dy * dy + dz * dz);
    r.azimuth = azimuthDifference(pa.azimuth, pb.azimuth);
    r.elevation = pb.elevation - pa.elevation;
    r.range = pb.range - pa.range;
    return r;
}

std::string rulerText(const Ruler& ruler) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Distance %.1f mm, \u0394az %.3f\u00b0, \u0394el %.3f\u00b0, \u0394range %.1f mm",
                  ruler.distance, ruler.azimuth, ruler.elevation, ruler.range);
    return text;
}

AimTarget aimAt(const DataPoint& p, const ApertureLimits& limits) {
    const DeviceAngles a = pointAngles(p);
    AimTarget t;
    t.azimuth = wrapTurn(a.azimuth);
    t.elevation = a.elevation;
    if (t.elevation < limits.elMin) {
        t.elevation = limits.elMin;
        t.clamped = true;
    } else if (t.elevation > limits.elMax) {
        t.elevation = limits.elMax;
        t.clamped = true;
    }
    const double sweep =
        limits.azMax - limits.azMin >= 360.0 ? 360.0 : wrapTurn(limits.azMax - limits.azMin);
    if (sweep < 360.0) {
        const double from = wrapTurn(limits.azMin);
        const double into = wrapTurn(t.azimuth - from);
        if (into > sweep) {
            // Outside the allowed arc: the nearer of its two ends.
            const double pastEnd = into - sweep;
            const double beforeStart = 360.0 - into;
            t.azimuth = pastEnd <= beforeStart ? wrapTurn(from + sweep) : from;
            t.clamped = true;
        }
    }
    return t;
}

void RegionFinder::add(double x, double y, double z) {
    const DeviceAngles a = anglesFromCartesian(x, y, z);
    if (a.range == 0.0 || !std::isfinite(a.range)) {
        return;
    }
    m_azimuth.add(a.azimuth);
    m_elLow = std::min(m_elLow, a.elevation);
    m_elHigh = std::max(m_elHigh, a.elevation);
}

RegionBounds RegionFinder::bounds(const ApertureLimits& limits) const {
    RegionBounds b;
    if (empty()) {
        return b;
    }
    const CircularArc::Arc arc = m_azimuth.arc();
    const double from = hundredthsDown(arc.start);
    const double to = hundredthsUp(arc.start + arc.sweep);
    if (arc.sweep >= 360.0 || to - from >= 360.0) {
        b.azMin = 0.0;
        b.azMax = 360.0;
    } else {
        b.azMin = wrapTurn(from);
        b.azMax = to > 360.0 ? to - 360.0 : to;
    }
    b.elMin = std::clamp(hundredthsDown(m_elLow), limits.elMin, limits.elMax);
    b.elMax = std::clamp(hundredthsUp(m_elHigh), limits.elMin, limits.elMax);
    return b;
}

std::optional<RegionBounds> selectionRegion(const PointIndex& index, const PickCamera& camera,
                                            const ScreenRect& rect, const ApertureLimits& limits) {
    RegionFinder finder;
    index.select(camera, rect,
                 [&](std::uint64_t, const float* p) { finder.add(p[0], p[1], p[2]); });
    if (finder.empty()) {
        return std::nullopt;
    }
    return finder.bounds(limits);
}

} // namespace viewer
