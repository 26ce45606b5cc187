// Points as the LX30 delivers them, for the benchmarks that write and read point files: a raster
// of angles, ranges of a room, varied amplitudes and reflectances. The same n give the same
// points in every run.
#pragma once

#include "DataPoint.h"
#include "ObservationPoint.h"

#include <cmath>
#include <cstddef>
#include <deque>
#include <random>

namespace bench {

inline std::deque<DataPoint> streamPoints(std::size_t n) {
    std::mt19937 random(1);
    std::uniform_real_distribution<double> range(500, 12000);
    std::uniform_int_distribution<int> amplitude(1, 65535);
    std::uniform_int_distribution<int> reflectance(-2000, 2000);
    std::deque<DataPoint> points;
    for (std::size_t i = 0; i < n; ++i) {
        const double az = -180.0 + 360.0 * static_cast<double>(i % 10000) / 10000.0;
        const double el = -35.0 + 70.0 * static_cast<double>(i / 10000 % 1000) / 1000.0;
        points.push_back(formats::makeDataPoint(az, el, std::round(range(random)), 1000 + 40 * i,
                                                amplitude(random), reflectance(random),
                                                reflectance(random) / 100, LIDAR_LX30, false));
    }
    return points;
}

} // namespace bench
