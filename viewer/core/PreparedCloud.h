#pragma once

// The display's copy of a whole buffer, built off the GUI thread (by the file thread of a load,
// from the buffer it has just filled), so that the display takes ten million points in at one
// refresh instead of copying them over dozens of them on the GUI thread.
//
// It holds what ChunkedCloud keeps of each point, laid out as ChunkedCloud lays out its chunks
// after capturing the same points one by one: the complete blocks as large chunks in
// bit-reversed order, what follows as small chunks (sealed when full, the last in arrival order),
// each with the range of its intensities. No colours: the display colours only the slots it
// draws, which for a large file is a small share of them.
//
// Threads: one thread builds it; then it is handed over whole (with the log of the buffer it
// copies) and used by one thread again.

#include "DataPoint.h"
#include "ExtraFields.h"
#include "PointBuffer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace viewer {

// The automatic intensity range of a chunk's points: the truncated intensities, NaN left out.
struct IntensityBounds {
    bool any = false;
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    void add(float intensity);
};

class PreparedCloud {
public:
    struct Chunk {
        std::uint64_t start = 0; // arrival number of its first point
        int bits = 0;            // it holds 2^bits arrivals
        std::size_t filled = 0;
        bool sealed = false; // full, slot p holding arrival bitReverse(p, bits)
        std::vector<float> xyz;
        std::vector<float> intensity;
        ExtraFields extra;
        IntensityBounds bounds;
    };

    // The chunk sizes of the ChunkedCloud that is to take it.
    PreparedCloud(int largeBits, int smallBits);
    PreparedCloud(PreparedCloud&&) = default;
    PreparedCloud& operator=(PreparedCloud&&) = default;

    // The next n points of the buffer, in its order.
    void append(const DataPoint* points, std::size_t n);
    void append(std::deque<DataPoint>::const_iterator points, std::size_t n);
    // Lays out the points of the block not completed; no append after it.
    void finish();

    std::uint64_t size() const { return m_count; }
    int largeBits() const { return m_largeBits; }
    int smallBits() const { return m_smallBits; }
    bool finished() const { return m_finished; }

    // The chunks, oldest first: taken by the display.
    std::vector<Chunk>& chunks() { return m_chunks; }

    // The buffer's log just after it took these points: set by whoever installs the buffer, so
    // that the display follows the changes made to it since.
    BufferLog log;

private:
    // Points are laid out in runs of this many (or up to the block's end): each run's fields
    // are looked at once for what its chunk needs to keep.
    static constexpr std::size_t kRunPoints = 4096;

    static Chunk emptyChunk(std::uint64_t start, int bits);
    template <class Points> void appendRuns(Points points, std::size_t n);
    // n points, no more than the block being filled has room for.
    template <class Points> void addRun(Points points, std::size_t n);

    int m_largeBits;
    int m_smallBits;
    // bitReverse of every slot of a large and of a small chunk.
    std::vector<std::uint32_t> m_largeOrder;
    std::vector<std::uint32_t> m_smallOrder;
    std::uint64_t m_count = 0;
    bool m_finished = false;
    // The large block being filled, each point at its slot once sealed; m_filled arrivals.
    Chunk m_block;
    std::size_t m_filled = 0;
    std::vector<Chunk> m_chunks;
};

} // namespace viewer
