#pragma once

// Which of the buffered points the display shows in each display mode. The frames come from the
// point store's frame log; the shown points are always the newest ones, from one arrival number
// to the buffer's back, so the display can follow them as it follows evictions.

#include "DataPoint.h"
#include "FrameLog.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace viewer {

enum class DisplayMode {
    AllPoints,   // the whole buffer
    LatestFrame, // the last closed frame and the one in progress over it
    LastFrames,  // the last N closed frames and the one in progress
    LastSeconds, // the points of the last T seconds of device time
};

struct ShownPoints {
    std::uint64_t begin = 0; // arrival number of the first point shown
    std::uint64_t end = 0;   // past the newest
    std::size_t frames = 0;  // frames shown, the one in progress included
};

// The points to show of buffer, whose newest point has arrival number back - 1. count is N for
// LastFrames and T (seconds) for LastSeconds; at least 1 is taken. Without a closed frame in the
// buffer (a laser-only stream, the first sweep), the frame modes show the open frame; without any
// frame (a loaded file), every point. LastSeconds measures age by the device's time stamps, in
// microseconds on the device's 32-bit counter, which may wrap within the span shown.
ShownPoints shownPoints(DisplayMode mode, unsigned count, const std::deque<FrameSpan>& frames,
                        const std::deque<DataPoint>& buffer, std::uint64_t back);

// Age in microseconds of a time stamp of the device's 32-bit counter, at the time stamp newest.
inline std::uint32_t ageMicros(std::uint64_t timestamp, std::uint64_t newest) {
    return static_cast<std::uint32_t>(static_cast<std::uint32_t>(newest) -
                                      static_cast<std::uint32_t>(timestamp));
}

// Frames per second from the arrival times of the last closed frames (up to kRateFrames of them):
// 0 with fewer than two, or once the newest of them is older than three of their periods and a
// second besides (the stream has stopped).
constexpr std::size_t kRateFrames = 10;
double frameRate(const std::deque<FrameSpan>& frames, std::uint64_t nowMicros);

} // namespace viewer
