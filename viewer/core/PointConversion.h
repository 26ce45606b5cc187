#pragma once

#include "DataPoint.h"

#include <cstdint>
#include <deque>

namespace viewer {

struct Cartesian {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Angles in degrees. Azimuth 0 points along +y, azimuth 90 along +x, elevation 90 along +z.
Cartesian sphericalToCartesian(double azimuthDeg, double elevationDeg, double range);

// One observation as a display point for the given model. highSpeed is the LX20 high-speed
// check box: such points are white with intensity 0.
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

// Whether points of this model widen the automatic intensity range as they arrive
// (LX30 always, LX20 outside high-speed mode, the generic model never).
bool widensIntensityRange(LIDAR_TYPE mode, bool highSpeed);

// An intensity as stored in the unsigned range members: truncated toward zero and clamped to
// 0..4294967295, so values read from files can not wrap. NaN gives 0 (callers skip NaN anyway,
// because every comparison with it is false).
std::uint32_t truncateIntensity(double intensity);

// The listener's running range update. Returns true when the range moved (the display must then
// be rebuilt).
bool widenIntensityRange(double intensity, std::uint32_t& minimum, std::uint32_t& maximum);

// Change record of a point buffer, kept beside it and guarded by the same lock. It lets the
// display copy only what changed since its last refresh.
struct BufferLog {
    std::uint64_t appended = 0;   // points appended at the back, ever
    std::uint64_t evicted = 0;    // points dropped from the front by appends, ever
    std::uint64_t generation = 0; // bumped whenever the contents are cleared or replaced
};

// Appends p; when the buffer then holds more than maximumPoints, drops exactly one point from the
// front (so a buffer that a file load left larger than the cap keeps its size). Returns true
// when a point was dropped.
bool appendBounded(std::deque<DataPoint>& points, const DataPoint& p, std::uint32_t maximumPoints,
                   BufferLog& log);

// Empties the buffer ("Reset scene", a new capacity).
void clearBuffer(std::deque<DataPoint>& points, BufferLog& log);

// Replaces the contents with loaded points, all of them whatever the cap.
void replaceBuffer(std::deque<DataPoint>& points, std::deque<DataPoint>&& loaded, BufferLog& log);

} // namespace viewer
