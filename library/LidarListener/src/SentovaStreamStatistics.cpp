#include "Sentova/SentovaStreamStatistics.h"

#include <algorithm>
#include <cmath>

namespace tavrel {

namespace {
// How far b lies after a, modulo 2^32: negative when b is before a.
std::int32_t Ahead(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(b - a);
}
} // namespace

void SentovaTimestampGaps::Add(const std::uint32_t* timestamps, std::size_t count,
                               std::uint64_t arrivalMicros) {
    if (count == 0)
        return;
    const std::uint32_t first = timestamps[0];
    std::uint32_t newest = first;
    std::uint32_t step = 0;
    for (std::size_t i = 1; i < count; ++i) {
        const std::int32_t d = Ahead(timestamps[i - 1], timestamps[i]);
        if (d > 0 && (step == 0 || static_cast<std::uint32_t>(d) < step))
            step = static_cast<std::uint32_t>(d);
        if (Ahead(newest, timestamps[i]) > 0)
            newest = timestamps[i];
    }
    if (step != 0)
        m_interval = step;

    const bool paused =
        arrivalMicros > m_newestArrival && arrivalMicros - m_newestArrival > kPauseMicros;
    if (!m_started || paused) {
        m_started = true;
        m_newest = newest;
        m_newestArrival = arrivalMicros;
        return;
    }
    const std::int32_t gap = Ahead(m_newest, first);
    if (gap <= 0 && Ahead(m_newest, newest) <= 0) {
        // Late: it fills a gap already counted.
        m_missing -= std::min<std::uint64_t>(m_missing, count);
        return;
    }
    if (gap > 0 && m_interval != 0) {
        const double intervals = std::round(static_cast<double>(gap) / m_interval);
        if (intervals > 1.0)
            m_missing += static_cast<std::uint64_t>(intervals) - 1;
    }
    m_newest = newest;
    m_newestArrival = arrivalMicros;
}

} // namespace tavrel
