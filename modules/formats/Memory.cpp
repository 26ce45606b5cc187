#include "Memory.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace formats::memory {

namespace {

std::size_t pageSize() {
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

std::size_t roundUp(std::size_t n, std::size_t unit) {
    return (n + unit - 1) / unit * unit;
}

} // namespace

std::size_t mappedSize(std::size_t bytes) {
    return roundUp(bytes, pageSize());
}

// Plain pages, not advised for huge ones. Measured on the build machine (a virtual machine whose
// free memory in 2 MB blocks goes back to its host), 560 MB filled by a PCD read into a fresh
// block, processor seconds over 5 to 10 runs each: advised for huge pages 0.24-2.15 (huge pages
// this process freed are fast, those the host took back are slow, and there is no telling which
// come), advised only once faulted 0.36-0.54, plain 0.37-0.73, plain and populated a chunk ahead
// of the reader 0.33-0.36 but for one run at 0.72 under a load of 8. The kernel's compaction
// played no part: it stalled no fault.
void* map(std::size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX / 2) {
        return nullptr;
    }
    void* at = ::mmap(nullptr, mappedSize(bytes), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return at == MAP_FAILED ? nullptr : at;
}

void populate(void* at, std::size_t bytes) {
    if (bytes == 0) {
        return;
    }
    // Whole pages from the one holding the first byte: populating a page already present leaves
    // it as it is. A kernel without MADV_POPULATE_WRITE (before 5.14) refuses it, and the pages
    // are faulted in one by one as they are written.
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(at) / pageSize() * pageSize();
    const std::uintptr_t to = roundUp(reinterpret_cast<std::uintptr_t>(at) + bytes, pageSize());
    (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
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
