#pragma once

// From a laser observation (angles, range and the device's values) to the point record that the
// viewer shows and every point format writes. Pure functions: any thread may call them.

#include "DataPoint.h"

#include <cstdint>

namespace formats {

struct Cartesian {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Angles in degrees. Azimuth 0 points along +y, azimuth 90 along +x, elevation 90 along +z.
Cartesian sphericalToCartesian(double azimuthDeg, double elevationDeg, double range);

// One observation as a point for the given model. highSpeed is the LX20 high-speed mode: such
// points are white with intensity 0.
DataPoint makeDataPoint(double azimuth, double elevation, double range, std::uint64_t timestamp,
                        double amplitude, double reflectance, double pulseShapeDeviation,
                        LIDAR_TYPE mode, bool highSpeed);

// Same, taking any observation record with the listener's field names
// (azimuth, elevation, range, timestamp, amplitude, reflectance, pulse_shape_deviation).
template <class Observation>
DataPoint toDataPoint(const Observation& o, LIDAR_TYPE mode, bool highSpeed) {
    return makeDataPoint(o.azimuth, o.elevation, o.range, o.timestamp, o.amplitude, o.reflectance,
                         o.pulse_shape_deviation, mode, highSpeed);
}

// An intensity as an unsigned 32-bit value: truncated toward zero and clamped to 0..4294967295,
// so values read from files can not wrap. NaN gives 0.
std::uint32_t truncateIntensity(double intensity);

} // namespace formats
