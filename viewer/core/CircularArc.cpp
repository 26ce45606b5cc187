#include "CircularArc.h"

#include <cmath>

namespace viewer {

CircularArc::CircularArc(double period, std::size_t bins)
    : m_period(period), m_binWidth(period / static_cast<double>(bins)),
      m_binsPerUnit(static_cast<double>(bins) / period), m_low(bins, 0.0), m_high(bins, 0.0),
      m_used(bins, 0) {}

CircularArc::Arc CircularArc::arc() const {
    Arc arc;
    if (m_count == 0) {
        return arc;
    }
    // Any gap inside one bin is at most a bin wide; the gaps between the highest value of an
    // occupied bin and the lowest of the next one up are measured exactly.
    std::size_t first = m_used.size();
    std::size_t previous = 0;
    double gap = -1.0;
    std::size_t after = 0;
    for (std::size_t b = 0; b < m_used.size(); ++b) {
        if (!m_used[b]) {
            continue;
        }
        if (first == m_used.size()) {
            first = b;
        } else if (m_low[b] - m_high[previous] > gap) {
            gap = m_low[b] - m_high[previous];
            after = b;
        }
        previous = b;
    }
    const double round = m_low[first] + m_period - m_high[previous];
    if (round > gap) {
        gap = round;
        after = first;
    }
    if (gap <= m_binWidth) {
        arc.whole = true;
        arc.start = m_low[first];
        arc.sweep = m_high[previous] - m_low[first];
        return arc;
    }
    arc.start = m_low[after];
    arc.sweep = m_period - gap;
    return arc;
}

void AzimuthArc::add(double degrees) {
    if (!std::isfinite(degrees)) {
        return;
    }
    double a = std::fmod(degrees, 360.0);
    if (a < 0.0) {
        a += 360.0;
    }
    m_arc.add(a < 360.0 ? a : 0.0);
}

CircularArc::Arc AzimuthArc::arc() const {
    CircularArc::Arc a = m_arc.arc();
    if (a.whole) {
        a.start = 0.0;
        a.sweep = 360.0;
    }
    return a;
}

CounterArc::Range CounterArc::range() const {
    const CircularArc::Arc a = m_arc.arc();
    Range r;
    r.first = static_cast<std::uint32_t>(a.start);
    r.last =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(a.start + a.sweep) & 0xffffffffu);
    return r;
}

} // namespace viewer
