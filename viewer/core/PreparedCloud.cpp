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
      m_smallOrder(reversals(smallBits)) {
    const std::size_t large = std::size_t{1} << largeBits;
    m_xyz.resize(large * 3);
    m_intensity.resize(large);
    m_extra.resize(large);
}

void PreparedCloud::append(const DataPoint* points, std::size_t n) {
    const std::size_t large = std::size_t{1} << m_largeBits;
    for (std::size_t i = 0; i < n; ++i) {
        const DataPoint& p = points[i];
        float* xyz = &m_xyz[m_filled * 3];
        xyz[0] = static_cast<float>(p.x);
        xyz[1] = static_cast<float>(p.y);
        xyz[2] = static_cast<float>(p.z);
        m_intensity[m_filled] = p.intensity;
        m_extra[m_filled] = {p.reflectance, p.pulseShapeDeviation, p.timestamp};
        if (++m_filled == large) {
            m_chunks.push_back(sealedChunk(m_count + 1 + i - large, m_largeBits, 0));
            m_filled = 0;
        }
    }
    m_count += n;
}

PreparedCloud::Chunk PreparedCloud::sealedChunk(std::uint64_t start, int bits,
                                                std::size_t from) const {
    const std::vector<std::uint32_t>& order = bits == m_largeBits ? m_largeOrder : m_smallOrder;
    Chunk chunk;
    chunk.start = start;
    chunk.bits = bits;
    chunk.sealed = true;
    const std::size_t n = std::size_t{1} << bits;
    chunk.filled = n;
    chunk.xyz.resize(n * 3);
    chunk.intensity.resize(n);
    chunk.extra.resize(n);
    chunk.rgb.resize(n * 3);
    for (std::size_t p = 0; p < n; ++p) {
        const std::size_t a = from + order[p];
        std::memcpy(&chunk.xyz[p * 3], &m_xyz[a * 3], 3 * sizeof(float));
        chunk.intensity[p] = m_intensity[a];
        chunk.extra[p] = m_extra[a];
        chunk.bounds.add(m_intensity[a]);
    }
    return chunk;
}

void PreparedCloud::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    // The block not completed becomes small chunks, as the display would have left it.
    const std::size_t small = std::size_t{1} << m_smallBits;
    const std::uint64_t blockStart = m_count - m_filled;
    std::size_t from = 0;
    for (; from + small <= m_filled; from += small) {
        m_chunks.push_back(sealedChunk(blockStart + from, m_smallBits, from));
    }
    if (from < m_filled) {
        Chunk chunk;
        chunk.start = blockStart + from;
        chunk.bits = m_smallBits;
        chunk.filled = m_filled - from;
        chunk.xyz.assign(m_xyz.begin() + from * 3, m_xyz.begin() + m_filled * 3);
        chunk.xyz.resize(small * 3);
        chunk.intensity.assign(m_intensity.begin() + from, m_intensity.begin() + m_filled);
        chunk.intensity.resize(small);
        chunk.extra.assign(m_extra.begin() + from, m_extra.begin() + m_filled);
        chunk.extra.resize(small);
        chunk.rgb.resize(small * 3);
        for (std::size_t i = 0; i < chunk.filled; ++i) {
            chunk.bounds.add(chunk.intensity[i]);
        }
        m_chunks.push_back(std::move(chunk));
    }
    m_xyz = {};
    m_intensity = {};
    m_extra = {};
    m_filled = 0;
}

} // namespace viewer
