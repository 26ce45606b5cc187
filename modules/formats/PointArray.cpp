#include "PointArray.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace formats {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t pageSize() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t roundUp(std::size_t n, std::size_t unit) {
    return (n + unit - 1) / unit * unit;
}

// Large blocks in whole huge pages on a huge page boundary: the kernel then backs them with huge
// pages on first touch (where it offers them on request), one fault per 2 MB.
void adviseHuge(void* at, std::size_t bytes) {
    if (bytes >= kHugePage) {
        (void)::madvise(at, bytes, MADV_HUGEPAGE);
    }
}

void* map(std::size_t bytes) {
    if (bytes < kHugePage) {
        void* at =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return at == MAP_FAILED ? nullptr : at;
    }
    // Mapped a huge page larger, then trimmed to the boundary.
    void* raw = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    char* start = static_cast<char*>(raw);
    char* aligned =
        reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(start), kHugePage));
    if (aligned > start) {
        ::munmap(start, static_cast<std::size_t>(aligned - start));
    }
    const std::size_t tail =
        static_cast<std::size_t>(start + bytes + kHugePage - (aligned + bytes));
    if (tail > 0) {
        ::munmap(aligned + bytes, tail);
    }
    adviseHuge(aligned, bytes);
    return aligned;
}

} // namespace

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
    if (n > SIZE_MAX / sizeof(DataPoint) - kHugePage) {
        throw std::bad_alloc();
    }
    const std::size_t wanted = n * sizeof(DataPoint);
    const std::size_t bytes =
        wanted >= kHugePage ? roundUp(wanted, kHugePage) : roundUp(wanted, pageSize());
    void* at = nullptr;
    if (m_data != nullptr && bytes < kHugePage) {
        at = ::mremap(m_data, m_bytes, bytes, MREMAP_MAYMOVE);
        at = at == MAP_FAILED ? nullptr : at;
    } else {
        // A new aligned block: moving the old one's pages would keep its alignment, not the
        // huge pages'.
        at = map(bytes);
        if (at != nullptr && m_data != nullptr) {
            std::memcpy(at, m_data, m_size * sizeof(DataPoint));
            ::munmap(m_data, m_bytes);
            m_written = m_size;
        }
    }
    if (at == nullptr) {
        throw std::bad_alloc();
    }
    m_data = static_cast<DataPoint*>(at);
    m_bytes = bytes;
    m_capacity = bytes / sizeof(DataPoint);
}

void PointArray::resize(std::size_t n) {
    reserve(n);
    if (n > m_size && m_written > m_size) {
        // Points stored before a shrink: cleared again, as memory never touched is zero.
        std::fill(m_data + m_size, m_data + std::min(n, m_written), DataPoint{});
    }
    m_size = n;
    m_written = std::max(m_written, n);
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
    if (m_data != nullptr) {
        ::munmap(m_data, m_bytes);
    }
    m_data = nullptr;
    m_size = m_capacity = m_written = m_bytes = 0;
}

} // namespace formats
