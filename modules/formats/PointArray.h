#pragma once

// A point set in one block of memory: what the whole-file reads fill and the writers take as it
// is. The block comes straight from the system and goes back to it when released; fresh memory
// needs no clearing: a new point is a zero point. As resize grows it (a reader's chunk at a time)
// the new pages are faulted in by one call rather than one fault each. A plain value (movable,
// not copyable: a copy of millions of points is asked for with copy()).

#include "DataPoint.h"

#include <cstddef>
#include <deque>

namespace formats {

class PointArray {
public:
    PointArray() = default;
    explicit PointArray(std::size_t n) { resize(n); }
    ~PointArray();
    PointArray(PointArray&& other) noexcept;
    PointArray& operator=(PointArray&& other) noexcept;
    PointArray(const PointArray&) = delete;
    PointArray& operator=(const PointArray&) = delete;

    PointArray copy() const;
    std::deque<DataPoint> toDeque() const { return {begin(), end()}; }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::size_t capacity() const { return m_capacity; }
    DataPoint* data() { return m_data; }
    const DataPoint* data() const { return m_data; }
    DataPoint* begin() { return m_data; }
    DataPoint* end() { return m_data + m_size; }
    const DataPoint* begin() const { return m_data; }
    const DataPoint* end() const { return m_data + m_size; }
    DataPoint& operator[](std::size_t i) { return m_data[i]; }
    const DataPoint& operator[](std::size_t i) const { return m_data[i]; }

    // Room for n points without moving them. Throws std::bad_alloc when the system has none.
    void reserve(std::size_t n);
    // n points: those kept as they were, new ones zero.
    void resize(std::size_t n);
    // n points, the new ones as the memory holds them (zero or an earlier point): for a caller
    // about to write every byte of them, which spares clearing them first. True when some of
    // them lie in memory faulted in just now, which the clearing of new pages left in the
    // processor's caches.
    bool resizeForOverwrite(std::size_t n);
    void push_back(const DataPoint& p) {
        if (m_size == m_capacity) {
            reserve(m_capacity < 1024 ? 1024 : m_capacity * 2);
        }
        m_data[m_size++] = p;
        m_written = m_size > m_written ? m_size : m_written;
    }
    void append(const DataPoint* points, std::size_t n);
    // No points, and the memory returned to the system.
    void clear();

private:
    DataPoint* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    std::size_t m_written = 0; // points ever stored: beyond them the memory is still zero
    std::size_t m_bytes = 0;   // of the mapping
};

} // namespace formats
