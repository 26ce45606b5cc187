#pragma once

// What the view tells about picked points, and what it makes of them for the device: the
// readout of one point, the ruler between two, the aim of the aperture at a point and the
// region scan's bounds from a selection. Pure; any thread may use it.

#include "CircularArc.h"
#include "DataPoint.h"
#include "DeviceAngles.h"
#include "PointIndex.h"

#include <optional>
#include <string>

namespace viewer {

// The pick readout, two lines: the angles, range and position; then amplitude, reflectance,
// pulse shape deviation and the time stamp as the exact integer. Reflectance and pulse shape
// deviation read "not measured" when extras is false (a model that does not measure them).
std::string pickText(const DataPoint& p, bool extras);

// Signed difference to - from in degrees the short way round, in (-180, 180].
double azimuthDifference(double from, double to);

struct Ruler {
    double distance = 0.0;  // straight line, the cloud's unit
    double azimuth = 0.0;   // b - a, the short way round
    double elevation = 0.0; // b - a
    double range = 0.0;     // b - a
};
Ruler measure(const DataPoint& a, const DataPoint& b);
// "Distance 1234.5 mm, \u0394az 10.000\u00b0, \u0394el -2.000\u00b0, \u0394range 12.3 mm"
std::string rulerText(const Ruler& ruler);

// The aperture's limits, degrees. Azimuth limits in the region form: from azMin up to azMax,
// across zero when azMin > azMax; 0 to 360 is free all round.
struct ApertureLimits {
    double azMin = 0.0;
    double azMax = 360.0;
    double elMin = -90.0;
    double elMax = 90.0;
};

struct AimTarget {
    double azimuth = 0.0; // [0, 360)
    double elevation = 0.0;
    bool clamped = false; // the point lay outside the limits
};
// The move that points the aperture at p: its azimuth and elevation, each brought to the nearer
// limit when outside.
AimTarget aimAt(const DataPoint& p, const ApertureLimits& limits);

// The region scan's bounds as the region spin boxes take them: azimuth 0 to 360, from azMin up
// to azMax (across zero when azMin > azMax), elevation within the limits.
struct RegionBounds {
    double azMin = 0.0;
    double azMax = 0.0;
    double elMin = 0.0;
    double elMax = 0.0;
};

// Gathers the selected points' directions (x, y, z from the device at the origin) and gives the
// region that holds them: the smallest azimuth arc (0 to 360 when they surround the device) and
// their elevations clamped to the limits, each bound rounded outwards to the spin boxes' two
// decimals so that the region still holds every point once they show it. Empty until a point
// is added.
class RegionFinder {
public:
    void add(double x, double y, double z);
    bool empty() const { return m_azimuth.empty(); }
    RegionBounds bounds(const ApertureLimits& limits) const;

private:
    AzimuthArc m_azimuth;
    double m_elLow = 90.0;
    double m_elHigh = -90.0;
};

// The region of the points drawn inside rect; none when no point is.
std::optional<RegionBounds> selectionRegion(const PointIndex& index, const PickCamera& camera,
                                            const ScreenRect& rect, const ApertureLimits& limits);

} // namespace viewer
