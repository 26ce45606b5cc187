#include "StreamHealth.h"

namespace viewer {

namespace {

// Losing data now is trouble; what was lost earlier, or strangers sending to the port, a warning.
Severity lossSeverity(std::uint64_t total, bool rising) {
    return rising ? Severity::Trouble : total > 0 ? Severity::Warning : Severity::Normal;
}

} // namespace

void StreamHealth::update(const StreamCounters& now, std::int64_t nowMs) {
    const bool restarted = now.datagrams < m_last.datagrams || now.refused < m_last.refused ||
                           now.kernelDrops < m_last.kernelDrops || now.gaps < m_last.gaps ||
                           now.queueDrops < m_last.queueDrops;
    const StreamCounters before = restarted ? StreamCounters{} : m_last;
    m_drops.note(before.kernelDrops, now.kernelDrops, nowMs);
    m_queueDrops.note(before.queueDrops, now.queueDrops, nowMs);

    m_figures.totals = now;
    if (m_lastMs && nowMs > *m_lastMs) {
        m_figures.datagramsPerSecond = 1000.0 *
                                       static_cast<double>(now.datagrams - before.datagrams) /
                                       static_cast<double>(nowMs - *m_lastMs);
    }
    // Refused datagrams cost the stream nothing, but something else is sending to the port.
    m_figures.refused = now.refused > 0 ? Severity::Warning : Severity::Normal;
    m_figures.kernelDrops = lossSeverity(now.kernelDrops, m_drops.recent(nowMs));
    m_figures.queueDrops = lossSeverity(now.queueDrops, m_queueDrops.recent(nowMs));
    m_last = now;
    m_lastMs = nowMs;
}

} // namespace viewer
