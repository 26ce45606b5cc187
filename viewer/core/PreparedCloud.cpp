#include "PreparedCloud.h"

#include "ObservationPoint.h"

#include <algorithm>
#include <cstring>

namespace viewer {

namespace {

// bitReverse for every value of `bits` bits: a table, since the layout is worked out for every
// point of a large file.
std::vector<std::uint32_t> reversals(int bits) {
    std::vector<std::uint32_t> table(std::size_t{1} << bits);
    for (std::uint32_t v = 0; v < table.size(); ++v) {
        std::uint32_t r = 0;
        for (int i = 0; i < bits; ++i) {
            r |= ((v >> i) & 1u) << (bits - 1 - i);
        }
        table[v] = r;
    }
    return table;
}

} // namespace

void IntensityBounds::add(float intensity) {
    if (intensity != intensity) {
        return;
    }
    const std::uint32_t t = formats::truncateIntensity(intensity);
    lowest = any ? std::min(lowest, t) : t;
    highest = any ? std::max(highest, t) : t;
    any = true;
}

PreparedCloud::PreparedCloud(int largeBits, int smallBits)
    : m_largeBits(largeBits), m_smallBits(smallBits), m_largeOrder(reversals(largeBits)),
      m_smallOrder(reversals(smallBits)) {}

PreparedCloud::Chunk PreparedCloud::emptyChunk(std::uint64_t start, int bits) {
    Chunk chunk;
    chunk.start = start;
    chunk.bits = bits;
    const std::size_t n = std::size_t{1} << bits;
    chunk.xyz.resize(n * 3);
    chunk.intensity.resize(n);
    chunk.extra.resize(n);
    return chunk;
}

template <class Points> void PreparedCloud::addRun(Points points, std::size_t n) {
    if (m_filled == 0) {
        m_block = emptyChunk(m_count, m_largeBits);
    }
    // Straight to the points' places in the sealed block.
    const std::uint32_t* places = &m_largeOrder[m_filled];
    float* xyz = m_block.xyz.data();
    float* intensity = m_block.intensity.data();
    Points p = points;
    for (std::size_t i = 0; i < n; ++i, ++p) {
        float* at = xyz + std::size_t{places[i]} * 3;
        at[0] = static_cast<float>(p->x);
        at[1] = static_cast<float>(p->y);
        at[2] = static_cast<float>(p->z);
        intensity[places[i]] = p->intensity;
        m_block.bounds.add(p->intensity);
    }
    m_block.extra.setRun(places, n, [&points](std::size_t i) {
        const DataPoint& q = points[static_cast<std::ptrdiff_t>(i)];
        return PointExtra{q.reflectance, q.pulseShapeDeviation, q.timestamp};
    });
    m_count += n;
    m_filled += n;
    if (m_filled == m_largeOrder.size()) {
        m_block.filled = m_filled;
        m_block.sealed = true;
        m_chunks.push_back(std::move(m_block));
        m_block = {};
        m_filled = 0;
    }
}

template <class Points> void PreparedCloud::appendRuns(Points points, std::size_t n) {
    while (n > 0) {
        const std::size_t run = std::min({n, kRunPoints, m_largeOrder.size() - m_filled});
        addRun(points, run);
        points += static_cast<std::ptrdiff_t>(run);
        n -= run;
    }
}

void PreparedCloud::append(const DataPoint* points, std::size_t n) {
    appendRuns(points, n);
}

void PreparedCloud::append(std::deque<DataPoint>::const_iterator points, std::size_t n) {
    appendRuns(points, n);
}

void PreparedCloud::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    // The block not completed becomes small chunks, as the display would have left it: arrival
    // a of the block lies at slot m_largeOrder[a].
    const std::size_t small = std::size_t{1} << m_smallBits;
    const auto move = [this](Chunk& to, std::size_t slot, std::size_t arrival) {
        const std::size_t from = m_largeOrder[arrival];
        std::memcpy(&to.xyz[slot * 3], &m_block.xyz[from * 3], 3 * sizeof(float));
        to.intensity[slot] = m_block.intensity[from];
        to.extra.set(slot, m_block.extra.at(from));
        to.bounds.add(m_block.intensity[from]);
    };
    for (std::size_t first = 0; first < m_filled; first += small) {
        Chunk chunk = emptyChunk(m_block.start + first, m_smallBits);
        chunk.filled = std::min(small, m_filled - first);
        chunk.sealed = chunk.filled == small;
        for (std::size_t p = 0; p < chunk.filled; ++p) {
            move(chunk, p, first + (chunk.sealed ? m_smallOrder[p] : p));
        }
        m_chunks.push_back(std::move(chunk));
    }
    m_block = {};
    m_filled = 0;
}

} // namespace viewer
