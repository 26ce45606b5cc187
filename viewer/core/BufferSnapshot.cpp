#include "BufferSnapshot.h"

#include <algorithm>

namespace viewer {

BufferSnapshot::BufferSnapshot(const std::deque<DataPoint>& points, BufferLog& log)
    : m_log(&log), m_generation(log.generation), m_total(points.size()) {
    ++log.holds;
}

BufferSnapshot::Step BufferSnapshot::copy(const std::deque<DataPoint>& points, const BufferLog& log,
                                          std::size_t slice) {
    if (log.generation != m_generation) {
        return Step::Replaced;
    }
    // Nothing leaves the front while held, so the snapshot's points are still the first ones.
    const std::size_t from = m_copy.size();
    const std::size_t count = std::min(slice, m_total - from);
    m_copy.insert(m_copy.end(), points.begin() + static_cast<std::ptrdiff_t>(from),
                  points.begin() + static_cast<std::ptrdiff_t>(from + count));
    return m_copy.size() == m_total ? Step::Done : Step::More;
}

bool BufferSnapshot::release(std::deque<DataPoint>& points, BufferLog& log) {
    if (m_log == nullptr) {
        return false;
    }
    m_log = nullptr;
    if (log.holds > 0 && --log.holds > 0) {
        return false;
    }
    const std::uint64_t drops = std::min<std::uint64_t>(log.deferred, points.size());
    points.erase(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(drops));
    log.evicted += drops;
    log.deferred = 0;
    return drops > 0;
}

} // namespace viewer
