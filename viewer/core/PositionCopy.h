#pragma once

// The positions of a run of buffered points, copied a slice at a time for the pick index while
// the listener keeps appending and evicting, so that the lock guarding the buffer is held for
// one slice at a time and the buffer is never held back from evicting. Used by one thread; every
// call is made with the buffer's lock held.

#include "DataPoint.h"
#include "PointBuffer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace viewer {

// Which points of the buffer an index holds: the buffer's generation and the arrival numbers of
// the first point and past the last one.
struct IndexedRange {
    std::uint64_t generation = 0;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool operator==(const IndexedRange& o) const {
        return generation == o.generation && begin == o.begin && end == o.end;
    }
    bool operator!=(const IndexedRange& o) const { return !(*this == o); }
};

class PositionCopy {
public:
    // The points from arrival number begin to back, the arrival number past the buffer's newest
    // point now, or to end if that comes first.
    PositionCopy(const std::deque<DataPoint>& points, const BufferLog& log, std::uint64_t begin,
                 std::uint64_t back, std::uint64_t end = ~std::uint64_t{0});

    enum class Step {
        More,     // call copy again
        Done,     // every position is copied
        Replaced, // the buffer was cleared or replaced since: the copy cannot be completed
    };

    // Copies up to slice more positions; back as in the constructor. Points that left the
    // buffer's front before they were copied are kept as not-a-number, which the index leaves
    // out, so that every point keeps its arrival number.
    Step copy(const std::deque<DataPoint>& points, const BufferLog& log, std::uint64_t back,
              std::size_t slice);

    const IndexedRange& range() const { return m_range; }
    // Three floats per point, from range().begin on; taken once Done.
    std::vector<float> take() { return std::move(m_xyz); }

private:
    IndexedRange m_range;
    std::uint64_t m_next; // arrival number of the next point to copy
    std::vector<float> m_xyz;
};

} // namespace viewer
