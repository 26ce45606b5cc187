#pragma once

// The points drawn inside a rectangle of the view, found by walking the buffer a slice at a time
// while the listener keeps appending to it: each slice is one short hold of the buffer's lock,
// so a selection over ten million points never holds the listener or the display for long.
// Pure; a walk is used by one thread, every step with the buffer's lock held.

#include "DataPoint.h"
#include "PickCamera.h"
#include "PointBuffer.h"
#include "PointReadout.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace viewer {

// The part of space a rectangle of the viewport shows: inside its four sides, in front of the
// camera and within its clipping range.
class RectFrustum {
public:
    RectFrustum(const PickCamera& camera, const ScreenRect& rect);
    bool contains(double x, double y, double z) const;

private:
    ClipPlanes m_plane;
};

// Walks the points with arrival numbers [begin, end) (those shown when the rectangle was drawn)
// and keeps those inside the frustum, with the region of their directions. Points that leave
// the buffer's front before the walk reaches them are not selected, and counted.
class SelectionWalk {
public:
    // generation: the buffer's when the walk was set up; a clear or replace ends it.
    SelectionWalk(const RectFrustum& frustum, std::uint64_t begin, std::uint64_t end,
                  std::uint64_t generation);

    enum class Step {
        More,     // call step again
        Done,     // every point is looked at
        Replaced, // the buffer was cleared or replaced since: the walk cannot be completed
    };

    // Looks at up to slice more points. back: the arrival number past the buffer's newest point.
    Step step(const std::deque<DataPoint>& points, const BufferLog& log, std::uint64_t back,
              std::size_t slice);

    // The points inside, in buffer order.
    std::deque<DataPoint>& selected() { return m_selected; }
    const RegionFinder& region() const { return m_region; }
    // Points gone from the buffer before the walk reached them.
    std::uint64_t missed() const { return m_missed; }

private:
    RectFrustum m_frustum;
    std::uint64_t m_next;
    std::uint64_t m_end;
    std::uint64_t m_generation;
    std::uint64_t m_missed = 0;
    std::deque<DataPoint> m_selected;
    RegionFinder m_region;
};

} // namespace viewer
