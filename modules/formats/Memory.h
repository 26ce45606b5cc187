#pragma once

// Large blocks of memory straight from the system: zero when new, so that they need no clearing,
// and returned to it whole when released. Internal to the formats module.

#include <cstddef>
#include <utility>

namespace formats::memory {

// Null when the system has no such block. Whole pages: bytes is rounded up, as release takes it.
void* map(std::size_t bytes);
void unmap(void* block, std::size_t bytes);
// Faults in the pages of a block's range, zero, in one call rather than one fault per page: for
// the range about to be written.
void populate(void* at, std::size_t bytes);
// The size map gives a block of at least bytes.
std::size_t mappedSize(std::size_t bytes);

// Bytes in one such block, owned.
class Bytes {
public:
    Bytes() = default;
    // Throws std::bad_alloc when the system has none.
    explicit Bytes(std::size_t size);
    ~Bytes() { release(); }
    Bytes(Bytes&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
    Bytes& operator=(Bytes&& other) noexcept {
        if (this != &other) {
            release();
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
        }
        return *this;
    }
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    unsigned char* data() { return m_data; }
    const unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    void release();

private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace formats::memory
