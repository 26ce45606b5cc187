#include "ObservationQueue.h"

#include <utility>

namespace tavrel {

namespace {
// Enough for the chunks in flight while the stream is steady; a backlog's
// chunks beyond these are freed once read.
constexpr std::size_t kPoolChunks = 8;
// A chunk grown by unusually large datagrams is not kept for reuse.
constexpr std::size_t kPooledChunkBytes = 1024 * 1024;
} // namespace

ObservationChunk ObservationQueue::spare() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pool.empty())
        return ObservationChunk();
    ObservationChunk chunk = std::move(m_pool.back());
    m_pool.pop_back();
    return chunk;
}

void ObservationQueue::push(ObservationChunk&& chunk) {
    ObservationChunk pushed = std::move(chunk);
    pushAndSpare(pushed);
}

void ObservationQueue::pushAndSpare(ObservationChunk& chunk) {
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
            chunk = ObservationChunk();
        } else {
            chunk = std::move(m_pool.back());
            m_pool.pop_back();
        }
    }
    if (wake)
        m_changed.notify_one();
}

bool ObservationQueue::pop(std::vector<ObservationChunk>& taken, std::size_t maxObservations) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ready = [this] { return !m_chunks.empty() || m_stopFlag.load(); };
    if (!ready()) {
        m_asleep = true;
        m_changed.wait(lock, ready);
        m_asleep = false;
    }
    if (m_stopFlag.load()) {
        m_stopped = true;
        for (ObservationChunk& chunk : m_chunks)
            m_held.fetch_sub(chunk.bytes(), std::memory_order_release);
        m_chunks.clear();
        return false;
    }
    std::size_t observations = 0;
    do {
        observations += m_chunks.front().observations.size();
        taken.push_back(std::move(m_chunks.front()));
        m_chunks.pop_front();
    } while (!m_chunks.empty() &&
             observations + m_chunks.front().observations.size() <= maxObservations);
    return true;
}

void ObservationQueue::recycle(std::vector<ObservationChunk>& taken) {
    std::size_t bytes = 0;
    for (const ObservationChunk& chunk : taken)
        bytes += chunk.bytes();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.fetch_sub(bytes, std::memory_order_release);
        for (ObservationChunk& chunk : taken) {
            if (m_pool.size() >= kPoolChunks ||
                chunk.observations.capacity() * sizeof(tavrel_rbe_obs_t) > kPooledChunkBytes)
                continue;
            chunk.clear();
            m_pool.push_back(std::move(chunk));
        }
    }
    // Chunks not pooled are freed here, outside the lock.
    taken.clear();
}

std::vector<tavrel_rbe_obs_t> ObservationQueue::release(std::vector<ObservationChunk>& taken) {
    std::size_t count = 0;
    for (const ObservationChunk& chunk : taken)
        count += chunk.observations.size();
    std::vector<tavrel_rbe_obs_t> out;
    out.reserve(count);
    for (const ObservationChunk& chunk : taken)
        out.insert(out.end(), chunk.observations.begin(), chunk.observations.end());
    recycle(taken);
    return out;
}

void ObservationQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopFlag.store(true, std::memory_order_release);
    }
    m_changed.notify_one();
}

} // namespace tavrel
