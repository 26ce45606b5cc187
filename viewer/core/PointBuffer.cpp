#include "PointBuffer.h"

#include "ObservationPoint.h"

namespace viewer {

bool widensIntensityRange(LIDAR_TYPE mode, bool highSpeed) {
    return mode == LIDAR_LX30 || (mode == LIDAR_LX20 && !highSpeed);
}

bool widenIntensityRange(double intensity, std::uint32_t& minimum, std::uint32_t& maximum) {
    bool moved = false;
    if (intensity > maximum) {
        maximum = formats::truncateIntensity(intensity);
        moved = true;
    }
    if (minimum > intensity) {
        minimum = formats::truncateIntensity(intensity);
        moved = true;
    }
    return moved;
}

bool appendBounded(std::deque<DataPoint>& points, const DataPoint& p, std::uint32_t maximumPoints,
                   BufferLog& log) {
    points.push_back(p);
    ++log.appended;
    if (points.size() > maximumPoints) {
        if (log.holds > 0) {
            ++log.deferred;
            return false;
        }
        points.pop_front();
        ++log.evicted;
        return true;
    }
    return false;
}

std::deque<DataPoint> clearBuffer(std::deque<DataPoint>& points, BufferLog& log) {
    std::deque<DataPoint> former;
    former.swap(points);
    ++log.generation;
    log.deferred = 0;
    return former;
}

std::deque<DataPoint> replaceBuffer(std::deque<DataPoint>& points, std::deque<DataPoint>&& loaded,
                                    BufferLog& log) {
    std::deque<DataPoint> former;
    former.swap(points);
    points.swap(loaded);
    ++log.generation;
    log.deferred = 0;
    return former;
}

} // namespace viewer
