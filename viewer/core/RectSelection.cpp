#include "RectSelection.h"

#include <algorithm>

namespace viewer {

RectFrustum::RectFrustum(const PickCamera& camera, const ScreenRect& rect) {
    const Matrix4 m = multiply(camera.projection, camera.view);
    const auto ndcX = [&](double x) { return 2.0 * x / camera.width - 1.0; };
    const auto ndcY = [&](double y) { return 2.0 * y / camera.height - 1.0; };
    const double x0 = ndcX(std::min(rect.x0, rect.x1));
    const double x1 = ndcX(std::max(rect.x0, rect.x1));
    const double y0 = ndcY(std::min(rect.y0, rect.y1));
    const double y1 = ndcY(std::max(rect.y0, rect.y1));
    // Rows of the clip transform: clip x = r0 . p, ..., w = r3 . p; each plane keeps the side
    // where its expression is not negative.
    const double* r0 = &m[0];
    const double* r1 = &m[4];
    const double* r2 = &m[8];
    const double* r3 = &m[12];
    for (int k = 0; k < 4; ++k) {
        m_plane[0][k] = r0[k] - x0 * r3[k];
        m_plane[1][k] = x1 * r3[k] - r0[k];
        m_plane[2][k] = r1[k] - y0 * r3[k];
        m_plane[3][k] = y1 * r3[k] - r1[k];
        m_plane[4][k] = r2[k] + r3[k];
        m_plane[5][k] = r3[k] - r2[k];
        m_plane[6][k] = r3[k];
    }
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
