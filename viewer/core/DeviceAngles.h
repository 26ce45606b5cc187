#pragma once

// The device's angles and range of a position: the inverse of its conversion of an observation
// to x, y, z. Pure; any thread may use it.

#include "DataPoint.h"

namespace viewer {

struct DeviceAngles {
    double azimuth = 0.0;   // degrees, [-180, 180)
    double elevation = 0.0; // degrees, [-90, 90]
    double range = 0.0;     // the cloud's unit
};

// The inverse of the device's conversion of an observation to x, y, z (azimuth 0 along +y,
// 90 along +x, elevation 90 along +z). The origin gives all zeros.
DeviceAngles anglesFromCartesian(double x, double y, double z);

// Whether a point carries its angles and range: a point from a file without them has range 0
// away from the origin.
inline bool carriesAngles(const DataPoint& p) {
    return p.range != 0.0f || (p.x == 0.0 && p.y == 0.0 && p.z == 0.0);
}

// A point's angles and range: those it carries, or else computed from its x, y, z.
inline DeviceAngles pointAngles(const DataPoint& p) {
    return carriesAngles(p) ? DeviceAngles{p.azimuth, p.elevation, p.range}
                            : anglesFromCartesian(p.x, p.y, p.z);
}

} // namespace viewer
