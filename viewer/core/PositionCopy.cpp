#include "PositionCopy.h"

#include <algorithm>
#include <limits>

namespace viewer {

PositionCopy::PositionCopy(const std::deque<DataPoint>& points, const BufferLog& log,
                           std::uint64_t begin, std::uint64_t back, std::uint64_t end)
    : m_next(0) {
    const std::uint64_t front = back - points.size();
    m_range.generation = log.generation;
    m_range.end = std::min(back, end);
    m_range.begin = std::clamp(begin, std::min(front, m_range.end), m_range.end);
    m_next = m_range.begin;
    m_xyz.reserve(static_cast<std::size_t>(m_range.end - m_range.begin) * 3);
}

PositionCopy::Step PositionCopy::copy(const std::deque<DataPoint>& points, const BufferLog& log,
                                      std::uint64_t back, std::size_t slice) {
    if (log.generation != m_range.generation) {
        return Step::Replaced;
    }
    const std::uint64_t front = back - points.size();
    const std::uint64_t stop = std::min<std::uint64_t>(m_range.end, m_next + slice);
    constexpr float kGone = std::numeric_limits<float>::quiet_NaN();
    while (m_next < std::min(front, stop)) {
        m_xyz.insert(m_xyz.end(), {kGone, kGone, kGone});
        ++m_next;
    }
    if (m_next < stop) {
        auto it = points.begin() + static_cast<std::ptrdiff_t>(m_next - front);
        for (; m_next < stop; ++m_next, ++it) {
            m_xyz.push_back(static_cast<float>(it->x));
            m_xyz.push_back(static_cast<float>(it->y));
            m_xyz.push_back(static_cast<float>(it->z));
        }
    }
    return m_next == m_range.end ? Step::Done : Step::More;
}

} // namespace viewer
