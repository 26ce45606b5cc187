#include "ExtraFields.h"

namespace viewer {

void ExtraFields::resize(std::size_t n) {
    m_timestamps.assign(n, 0);
    m_values.clear();
    m_values.shrink_to_fit();
}

void ExtraFields::set(std::size_t slot, const PointExtra& extra) {
    // Not-a-number is a value other than zero.
    const bool zero = extra.reflectance == 0.0f && extra.pulseShapeDeviation == 0.0f;
    if (m_values.empty() && !zero) {
        m_values.resize(m_timestamps.size());
    }
    if (!m_values.empty()) {
        m_values[slot] = {extra.reflectance, extra.pulseShapeDeviation};
    }
    m_timestamps[slot] = extra.timestamp;
}

void ExtraFields::swap(ExtraFields& other) noexcept {
    m_timestamps.swap(other.m_timestamps);
    m_values.swap(other.m_values);
}

std::size_t ExtraFields::bytes() const {
    return m_timestamps.capacity() * sizeof(std::uint64_t) + m_values.capacity() * sizeof(Values);
}

} // namespace viewer
