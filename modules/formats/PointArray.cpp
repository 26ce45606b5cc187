#include "PointArray.h"

#include "Memory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace formats {

PointArray::~PointArray() {
    clear();
}

PointArray::PointArray(PointArray&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)), m_written(std::exchange(other.m_written, 0)),
      m_bytes(std::exchange(other.m_bytes, 0)) {}

PointArray& PointArray::operator=(PointArray&& other) noexcept {
    if (this != &other) {
        clear();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_written = std::exchange(other.m_written, 0);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

PointArray PointArray::copy() const {
    PointArray c;
    c.append(m_data, m_size);
    return c;
}

void PointArray::reserve(std::size_t n) {
    if (n <= m_capacity) {
        return;
    }
    if (n > SIZE_MAX / 2 / sizeof(DataPoint)) {
        throw std::bad_alloc();
    }
    // A new block, the points copied over: memory beyond them in it is zero.
    const std::size_t bytes = memory::mappedSize(n * sizeof(DataPoint));
    void* at = memory::map(bytes);
    if (at == nullptr) {
        throw std::bad_alloc();
    }
    if (m_data != nullptr) {
        std::memcpy(at, m_data, m_size * sizeof(DataPoint));
        memory::unmap(m_data, m_bytes);
    }
    m_written = m_size;
    m_data = static_cast<DataPoint*>(at);
    m_bytes = bytes;
    m_capacity = bytes / sizeof(DataPoint);
}

void PointArray::resize(std::size_t n) {
    reserve(n);
    if (n > m_written) {
        // Readers grow the array a chunk at a time just before filling it.
        memory::populate(m_data + m_written, (n - m_written) * sizeof(DataPoint));
    }
    if (n > m_size && m_written > m_size) {
        // Points stored before a shrink: cleared again, as memory never touched is zero. All
        // bits zero is the zero point; memset clears at the memory's speed, a loop of
        // assignments at a fraction of it.
        static_assert(std::is_trivially_copyable_v<DataPoint>);
        std::memset(static_cast<void*>(m_data + m_size), 0,
                    (std::min(n, m_written) - m_size) * sizeof(DataPoint));
    }
    m_size = n;
    m_written = std::max(m_written, n);
}

bool PointArray::resizeForOverwrite(std::size_t n) {
    reserve(n);
    const bool fresh = n > m_written;
    if (fresh) {
        memory::populate(m_data + m_written, (n - m_written) * sizeof(DataPoint));
        m_written = n;
    }
    m_size = n;
    return fresh;
}

void PointArray::append(const DataPoint* points, std::size_t n) {
    if (n == 0) {
        return;
    }
    if (m_size + n > m_capacity) {
        reserve(std::max(m_size + n, m_capacity * 2));
    }
    std::memcpy(m_data + m_size, points, n * sizeof(DataPoint));
    m_size += n;
    m_written = std::max(m_written, m_size);
}

void PointArray::clear() {
    memory::unmap(m_data, m_bytes);
    m_data = nullptr;
    m_size = m_capacity = m_written = m_bytes = 0;
}

} // namespace formats
