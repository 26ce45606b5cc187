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
    p.azimuth = azimuth;
    p.elevation = elevation;
    p.range = range;
    const Cartesian c = sphericalToCartesian(azimuth, elevation, range);
    p.x = c.x;
    p.y = c.y;
    p.z = c.z;
    p.timestamp = static_cast<double>(timestamp);
    p.intensity = amplitude;
    if (mode == LIDAR_LX30) {
        p.reflectance = reflectance;
        p.pulseShapeDeviation = pulseShapeDeviation;
    } else if (mode == LIDAR_LX20) {
        if (highSpeed) {
            p.color = {255, 255, 255};
            p.intensity = 0.0;
        } else {
            // Device amplitudes are 0..65535; anything not representable gives black rather than
            // an undefined conversion.
            std::uint8_t grey = 0;
            if (std::isfinite(amplitude) && std::fabs(amplitude) < 9.0e18) {
                grey = static_cast<std::uint8_t>(static_cast<long long>(amplitude) & 0xFF);
            }
            p.color = {grey, grey, grey};
        }
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
