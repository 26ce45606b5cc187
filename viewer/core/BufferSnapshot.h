#pragma once

// A copy of the point buffer as it was at one moment, taken a slice at a time while the listener
// keeps appending to it, so that the lock guarding the buffer is held only for one slice at a
// time. From its start until its release the snapshot holds the buffer: appends drop none of
// its points, and the drops they defer happen at the release. Used by one thread; every call is
// made with the buffer's lock held.

#include "DataPoint.h"
#include "PointBuffer.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace viewer {

class BufferSnapshot {
public:
    // The points to copy: those in the buffer now.
    BufferSnapshot(const std::deque<DataPoint>& points, BufferLog& log);
    BufferSnapshot(const BufferSnapshot&) = delete;
    BufferSnapshot& operator=(const BufferSnapshot&) = delete;

    enum class Step {
        More,     // call copy again
        Done,     // every point is copied
        Replaced, // the buffer was cleared or replaced since: the snapshot cannot be completed
    };

    // Copies up to slice more points.
    Step copy(const std::deque<DataPoint>& points, const BufferLog& log, std::size_t slice);

    // Ends the hold; must be called once, when done or given up. The last snapshot to end drops
    // the points the appends meanwhile deferred. Returns true when it dropped any.
    bool release(std::deque<DataPoint>& points, BufferLog& log);

    std::size_t total() const { return m_total; }
    std::size_t copied() const { return m_copy.size(); }
    // The copy; taken once Done.
    std::deque<DataPoint> take() { return std::move(m_copy); }

private:
    BufferLog* m_log; // null once released
    std::uint64_t m_generation;
    std::size_t m_total;
    std::deque<DataPoint> m_copy;
};

} // namespace viewer
