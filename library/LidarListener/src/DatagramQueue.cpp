#include "DatagramQueue.h"

#include <utility>

namespace tavrel {

namespace {
// Enough for the chunks in flight while the stream is steady; a backlog's
// chunks beyond these are freed once read.
constexpr std::size_t kPoolChunks = 8;
// A chunk grown by unusually large datagrams is not kept for reuse.
constexpr std::size_t kPooledChunkBytes = 1024 * 1024;
} // namespace

DatagramChunk DatagramQueue::spare() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pool.empty())
        return DatagramChunk();
    DatagramChunk chunk = std::move(m_pool.back());
    m_pool.pop_back();
    return chunk;
}

void DatagramQueue::push(DatagramChunk&& chunk) {
    DatagramChunk pushed = std::move(chunk);
    pushAndSpare(pushed);
}

void DatagramQueue::pushAndSpare(DatagramChunk& chunk) {
    const std::size_t bytes = chunk.bytes();
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) {
            chunk.clear();
            return;
        }
        const std::size_t held = m_held.load(std::memory_order_relaxed) + bytes;
        m_held.store(held, std::memory_order_release);
        if (held > m_peak.load(std::memory_order_relaxed))
            m_peak.store(held, std::memory_order_relaxed);
        m_chunks.push_back(std::move(chunk));
        // A consumer that is delivering takes this chunk with its next pop:
        // it is woken only when it waits, once per batch at most.
        wake = m_asleep;
        if (m_pool.empty()) {
            chunk = DatagramChunk();
        } else {
            chunk = std::move(m_pool.back());
            m_pool.pop_back();
        }
    }
    if (wake)
        m_changed.notify_one();
}

bool DatagramQueue::pop(std::vector<DatagramChunk>& taken, std::size_t maxRecords) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ready = [this] { return !m_chunks.empty() || m_stopFlag.load(); };
    if (!ready()) {
        m_asleep = true;
        m_changed.wait(lock, ready);
        m_asleep = false;
    }
    if (m_stopFlag.load()) {
        m_stopped = true;
        for (DatagramChunk& chunk : m_chunks)
            m_held.fetch_sub(chunk.bytes(), std::memory_order_release);
        m_chunks.clear();
        return false;
    }
    std::size_t records = 0;
    do {
        records += m_chunks.front().recordCount();
        taken.push_back(std::move(m_chunks.front()));
        m_chunks.pop_front();
    } while (!m_chunks.empty() && records + m_chunks.front().recordCount() <= maxRecords);
    return true;
}

void DatagramQueue::recycle(std::vector<DatagramChunk>& taken) {
    std::size_t bytes = 0;
    for (const DatagramChunk& chunk : taken)
        bytes += chunk.bytes();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.fetch_sub(bytes, std::memory_order_release);
        for (DatagramChunk& chunk : taken) {
            if (m_pool.size() >= kPoolChunks || chunk.records.capacity() > kPooledChunkBytes)
                continue;
            chunk.clear();
            m_pool.push_back(std::move(chunk));
        }
    }
    // Chunks not pooled are freed here, outside the lock.
    taken.clear();
}

void DatagramQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopFlag.store(true, std::memory_order_release);
    }
    m_changed.notify_one();
}

} // namespace tavrel
