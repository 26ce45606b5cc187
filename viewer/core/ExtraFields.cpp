#include "ExtraFields.h"

#include <utility>

namespace viewer {

void ExtraFields::resize(std::size_t n) {
    m_size = n;
    m_values = {};
    m_based = false;
    m_base = 0;
    m_offsets = {};
    m_wide = {};
}

void ExtraFields::keepValues() {
    m_values.resize(m_size);
}

void ExtraFields::keepOffsets() {
    if (m_offsets.empty()) {
        m_offsets.assign(m_size, 0);
    }
}

void ExtraFields::widen() {
    if (m_offsets.empty()) {
        m_wide.assign(m_size, m_base);
        return;
    }
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
