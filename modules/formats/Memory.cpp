#include "Memory.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace formats::memory {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t n, std::size_t unit) {
    return (n + unit - 1) / unit * unit;
}

} // namespace

std::size_t mappedSize(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return bytes >= kHugePage ? roundUp(bytes, kHugePage) : roundUp(bytes, page);
}

void* map(std::size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX / 2) {
        return nullptr;
    }
    bytes = mappedSize(bytes);
    if (bytes < kHugePage) {
        void* at =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return at == MAP_FAILED ? nullptr : at;
    }
    // A huge page more than needed, trimmed to a huge page boundary: the kernel then backs the
    // block with huge pages on first touch (where it offers them on request).
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
    const std::size_t tail = static_cast<std::size_t>(start + kHugePage - aligned);
    if (tail > 0) {
        ::munmap(aligned + bytes, tail);
    }
    (void)::madvise(aligned, bytes, MADV_HUGEPAGE);
    return aligned;
}

void unmap(void* block, std::size_t bytes) {
    if (block != nullptr) {
        ::munmap(block, mappedSize(bytes));
    }
}

Bytes::Bytes(std::size_t size) : m_size(size) {
    if (size > 0) {
        m_data = static_cast<unsigned char*>(map(size));
        if (m_data == nullptr) {
            throw std::bad_alloc();
        }
    }
}

void Bytes::release() {
    unmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
}

} // namespace formats::memory
