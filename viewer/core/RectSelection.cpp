#include "RectSelection.h"

#include <algorithm>

namespace viewer {

RectFrustum::RectFrustum(const PickCamera& camera, const ScreenRect& rect) {
    rectClipPlanes(camera, rect, m_plane);
}

bool RectFrustum::contains(double x, double y, double z) const {
    for (const auto& p : m_plane) {
        // Also false for coordinates that are not finite.
        if (!(p[0] * x + p[1] * y + p[2] * z + p[3] >= 0.0)) {
            return false;
        }
    }
    return true;
}

SelectionWalk::SelectionWalk(const RectFrustum& frustum, std::uint64_t begin, std::uint64_t end,
                             std::uint64_t generation)
    : m_frustum(frustum), m_next(begin), m_end(end), m_generation(generation) {}

SelectionWalk::Step SelectionWalk::step(const std::deque<DataPoint>& points, const BufferLog& log,
                                        std::uint64_t back, std::size_t slice) {
    if (log.generation != m_generation) {
        return Step::Replaced;
    }
    const std::uint64_t first = back - points.size();
    if (m_next < first) {
        const std::uint64_t gone = std::min(first, m_end) - m_next;
        m_missed += gone;
        m_next += gone;
    }
    const std::uint64_t stop = std::min({m_end, back, m_next + slice});
    for (; m_next < stop; ++m_next) {
        const DataPoint& p = points[static_cast<std::size_t>(m_next - first)];
        if (m_frustum.contains(p.x, p.y, p.z)) {
            m_selected.push_back(p);
            m_region.add(p.x, p.y, p.z);
        }
    }
    return m_next >= m_end || m_next >= back ? Step::Done : Step::More;
}

} // namespace viewer
