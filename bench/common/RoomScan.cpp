#include "RoomScan.h"

#include "ObservationPoint.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace bench {

std::deque<DataPoint> roomScan(std::size_t n, std::uint64_t firstTimestamp) {
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 5.0);
    std::uniform_real_distribution<double> amplitude(200.0, 60000.0);
    std::deque<DataPoint> points;
    const std::size_t perLine = std::max<std::size_t>(1, n / 500);
    for (std::size_t i = 0; i < n; ++i) {
        const double az = 15.0 + 330.0 * static_cast<double>(i % perLine) / perLine;
        const double el = -35.0 + 70.0 * static_cast<double>((i / perLine) % 500) / 500.0;
        const double a = az * 3.141592653589793 / 180.0;
        const double e = el * 3.141592653589793 / 180.0;
        const double dx = std::fabs(std::sin(a) * std::cos(e));
        const double dy = std::fabs(std::cos(a) * std::cos(e));
        const double dz = std::sin(e);
        double range = std::min(dx > 0 ? 10000.0 / dx : 1e9, dy > 0 ? 15000.0 / dy : 1e9);
        range = std::min(range, dz > 0 ? 2500.0 / dz : (dz < 0 ? -1500.0 / dz : 1e9));
        points.push_back(formats::makeDataPoint(az, el, range + noise(random),
                                                (firstTimestamp + i * 40) & 0xffffffffu,
                                                amplitude(random), 100.0, 3.0, LIDAR_LX30, false));
    }
    return points;
}

} // namespace bench
