#pragma once

// Where the scan frames lie in the point buffer. The live stream's frame splitter tells which
// frame each observation belongs to; this keeps, for the frames still (partly) in the buffer,
// the arrival numbers of their first and last points, so that the display can pick frames out
// of the buffer without the points carrying a frame number. Pure: the caller guards it.

#include "Sentova/ScanFrames.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace viewer {

// One frame's points in the buffer: arrival numbers [begin, end), counted as BufferLog::appended
// counts (the number of points appended before it).
struct FrameSpan {
    std::uint64_t index = 0; // the splitter's frame number
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool closed = false;   // the splitter has closed it: no more points join it
    bool complete = false; // closed with its start and end seen and no drop inside
    // Arrival time of its last batch (steady microseconds), for the frame rate.
    std::uint64_t lastArrivalMicros = 0;
};

class FrameLog {
public:
    // Frames kept at most: older ones are forgotten first (a region scan of a few lines makes
    // many small frames, and a buffer of 10,000,000 points may hold thousands of them).
    static constexpr std::size_t kMaxFrames = 4096;

    // The pieces of one batch whose first observation got arrival number batchStart.
    void addPieces(const std::vector<tavrel::scan_frame_piece_t>& pieces, std::uint64_t batchStart,
                   std::uint64_t arrivalMicros);
    // Frames the splitter closed.
    void close(const std::vector<tavrel::scan_frame_t>& closed);
    // Forgets the frames whose points have all left the buffer (front: the arrival number of
    // the oldest point still in it).
    void forgetBefore(std::uint64_t front);
    void clear();

    // Oldest first.
    const std::deque<FrameSpan>& frames() const { return m_frames; }
    // Frames closed since the log began, for the frame rate.
    std::uint64_t closedCount() const { return m_closedCount; }

private:
    std::deque<FrameSpan> m_frames;
    std::uint64_t m_closedCount = 0;
};

} // namespace viewer
