#pragma once

// Which frames of a recording are shown with the current one, and the points they make, in each
// display mode: "Latest frame" and "All points" show the frame alone, "Last N frames" the frame
// and the N - 1 before it, "Last T seconds" the points of the T seconds of device time up to the
// frame's newest point. Pure; the caller reads the frames.

#include "DataPoint.h"
#include "FrameSelection.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace viewer {

// Frames a playback window reaches back at most, whatever N or T asks for.
constexpr std::size_t kMostPlaybackFrames = 1000;

// The first frame shown with frame k. lastTimestamp(i) gives the device time stamp of frame i's
// newest point, for "Last T seconds".
std::size_t firstPlaybackFrame(DisplayMode mode, unsigned count, std::size_t k,
                               const std::function<std::uint64_t(std::size_t)>& lastTimestamp);

// The points of the frames shown, oldest frame first and the current one last: for "Last T
// seconds" only those of the last T seconds. At most maximum points, the oldest dropped first,
// but never any of the current frame.
std::deque<DataPoint> playbackPoints(DisplayMode mode, unsigned count,
                                     const std::deque<std::vector<DataPoint>>& frames,
                                     std::size_t maximum);

} // namespace viewer
