#include "ExtraFields.h"

#include <limits>
#include <utility>

namespace viewer {

void ExtraFields::resize(std::size_t n) {
    m_size = n;
    m_values = {};
    m_based = false;
    m_base = 0;
    m_offsets.assign(n, 0);
    m_wide = {};
}

void ExtraFields::set(std::size_t slot, const PointExtra& extra) {
    // Not-a-number is a value other than zero.
    const bool zero = extra.reflectance == 0.0f && extra.pulseShapeDeviation == 0.0f;
    if (m_values.empty() && !zero) {
        m_values.resize(m_size);
    }
    if (!m_values.empty()) {
        m_values[slot] = {extra.reflectance, extra.pulseShapeDeviation};
    }

    const std::uint64_t t = extra.timestamp;
    if (!m_wide.empty()) {
        m_wide[slot] = t;
        return;
    }
    if (!m_based) {
        m_base = t;
        m_based = true;
    }
    // The offset in 64 bits, as two's complement: within 32 bits either side of the base.
    const auto offset = static_cast<std::int64_t>(t - m_base);
    if (offset >= std::numeric_limits<std::int32_t>::min() &&
        offset <= std::numeric_limits<std::int32_t>::max()) {
        m_offsets[slot] = static_cast<std::int32_t>(offset);
        return;
    }
    widen();
    m_wide[slot] = t;
}

void ExtraFields::widen() {
    m_wide.resize(m_size);
    for (std::size_t s = 0; s < m_size; ++s) {
        m_wide[s] = m_base + static_cast<std::uint64_t>(static_cast<std::int64_t>(m_offsets[s]));
    }
    m_offsets = {};
}

void ExtraFields::swap(ExtraFields& other) noexcept {
    std::swap(m_size, other.m_size);
    m_values.swap(other.m_values);
    std::swap(m_based, other.m_based);
    std::swap(m_base, other.m_base);
    m_offsets.swap(other.m_offsets);
    m_wide.swap(other.m_wide);
}

std::size_t ExtraFields::bytes() const {
    return m_values.capacity() * sizeof(Values) + m_offsets.capacity() * sizeof(std::int32_t) +
           m_wide.capacity() * sizeof(std::uint64_t);
}

} // namespace viewer
