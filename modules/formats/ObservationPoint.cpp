#include "ObservationPoint.h"

#include <cmath>

namespace formats {

namespace {
constexpr double kPi = 3.141592653589793;
}

Cartesian sphericalToCartesian(double azimuthDeg, double elevationDeg, double range) {
    const double az = azimuthDeg * kPi / 180.0;
    const double el = elevationDeg * kPi / 180.0;
    Cartesian c;
    c.x = range * std::cos(el) * std::sin(az);
    c.y = range * std::cos(el) * std::cos(az);
    c.z = range * std::sin(el);
    return c;
}

DataPoint makeDataPoint(double azimuth, double elevation, double range, std::uint64_t timestamp,
                        double amplitude, double reflectance, double pulseShapeDeviation,
                        LIDAR_TYPE mode, bool highSpeed) {
    DataPoint p;
    // The record keeps the device's values in single precision (at 100 m a float holds a tenth
    // of a millimetre); the coordinates come from the exact values.
    p.azimuth = static_cast<float>(azimuth);
    p.elevation = static_cast<float>(elevation);
    p.range = static_cast<float>(range);
    const Cartesian c = sphericalToCartesian(azimuth, elevation, range);
    p.x = c.x;
    p.y = c.y;
    p.z = c.z;
    p.timestamp = timestamp;
    p.intensity = static_cast<float>(amplitude);
    if (mode == LIDAR_LX30) {
        p.reflectance = static_cast<float>(reflectance);
        p.pulseShapeDeviation = static_cast<float>(pulseShapeDeviation);
    } else if (mode == LIDAR_LX20 && highSpeed) {
        p.intensity = 0.0f;
    }
    return p;
}

std::uint32_t truncateIntensity(double intensity) {
    if (!(intensity > 0.0)) {
        return 0;
    }
    if (intensity >= 4294967295.0) {
        return 4294967295u;
    }
    return static_cast<std::uint32_t>(intensity);
}

} // namespace formats
