#pragma once

#include "DataPoint.h"

#include <cstdint>
#include <deque>

namespace viewer {

// Whether points of this model widen the automatic intensity range as they arrive
// (LX30 always, LX20 outside high-speed mode, the generic model never).
bool widensIntensityRange(LIDAR_TYPE mode, bool highSpeed);

// The listener's running range update. Returns true when the range moved (the display must then
// be rebuilt).
bool widenIntensityRange(double intensity, std::uint32_t& minimum, std::uint32_t& maximum);

// Change record of a point buffer, kept beside it and guarded by the same lock. It lets the
// display copy only what changed since its last refresh.
struct BufferLog {
    std::uint64_t appended = 0;   // points appended at the back, ever
    std::uint64_t evicted = 0;    // points dropped from the front by appends, ever
    std::uint64_t generation = 0; // bumped whenever the contents are cleared or replaced
    // Snapshots being copied (BufferSnapshot): while there are any, appends drop nothing and
    // count here what they would have dropped, for the last snapshot to drop when it ends.
    std::uint32_t holds = 0;
    std::uint64_t deferred = 0;
};

// Appends p; when the buffer then holds more than maximumPoints, drops exactly one point from the
// front (so a buffer that a file load left larger than the cap keeps its size), or, while a
// snapshot holds the buffer, defers that drop. Returns true when a point was dropped.
bool appendBounded(std::deque<DataPoint>& points, const DataPoint& p, std::uint32_t maximumPoints,
                   BufferLog& log);

// Empties the buffer ("Reset scene", a new capacity) and hands back its former contents,
// storage and all: a cleared deque would keep its map of blocks. The caller frees them, best
// after releasing the lock that guards the buffer (freeing ten million points takes a while).
std::deque<DataPoint> clearBuffer(std::deque<DataPoint>& points, BufferLog& log);

// Replaces the contents with loaded points, all of them whatever the cap, and hands back the
// former contents as clearBuffer() does.
std::deque<DataPoint> replaceBuffer(std::deque<DataPoint>& points, std::deque<DataPoint>&& loaded,
                                    BufferLog& log);

} // namespace viewer
