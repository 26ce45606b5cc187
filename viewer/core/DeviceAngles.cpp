#include "DeviceAngles.h"

#include <cmath>

namespace viewer {

namespace {
constexpr double kDegrees = 180.0 / 3.141592653589793;
}

DeviceAngles anglesFromCartesian(double x, double y, double z) {
    DeviceAngles a;
    const double horizontal = std::hypot(x, y);
    a.range = std::sqrt(horizontal * horizontal + z * z);
    if (a.range == 0.0) {
        return a;
    }
    // atan2 gives +180 straight behind; the device calls that -180.
    const double azimuth = std::atan2(x, y) * kDegrees;
    a.azimuth = azimuth >= 180.0 ? azimuth - 360.0 : azimuth;
    a.elevation = std::atan2(z, horizontal) * kDegrees;
    return a;
}

} // namespace viewer
