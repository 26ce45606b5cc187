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

// The points one after the other, so that any number of them can be made a chunk at a time.
class PointStream {
public:
    DataPoint next() {
        const std::size_t i = m_index++;
        const double az = -180.0 + 360.0 * static_cast<double>(i % 10000) / 10000.0;
        const double el = -35.0 + 70.0 * static_cast<double>(i / 10000 % 1000) / 1000.0;
        return formats::makeDataPoint(az, el, std::round(m_range(m_random)), 1000 + 40 * i,
                                      m_amplitude(m_random), m_reflectance(m_random),
                                      m_reflectance(m_random) / 100, LIDAR_LX30, false);
    }

private:
    std::size_t m_index = 0;
    std::mt19937 m_random{1};
    std::uniform_real_distribution<double> m_range{500, 12000};
    std::uniform_int_distribution<int> m_amplitude{1, 65535};
    std::uniform_int_distribution<int> m_reflectance{-2000, 2000};
};

inline std::deque<DataPoint> streamPoints(std::size_t n) {
    PointStream stream;
    std::deque<DataPoint> points;
    for (std::size_t i = 0; i < n; ++i) {
        points.push_back(stream.next());
    }
    return points;
}

} // namespace bench
