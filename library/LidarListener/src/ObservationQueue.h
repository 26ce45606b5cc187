// The bounded FIFO between the listener's socket thread and its consumer thread.
//
// It holds decoded observations in chunks, one chunk per batch of datagrams the
// socket thread took from the system, with the end of each datagram inside it.
// What it holds is bounded in bytes: the socket thread asks whether a datagram
// fits before it decodes it, and drops it otherwise, so a stalled consumer costs
// at most the limit. Chunks go back to a small pool once read, so the socket
// thread allocates nothing while the stream is steady.
#pragma once

#include "Sentova/SentovaGrabber.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace tavrel {

struct ObservationChunk {
    std::vector<tavrel_rbe_obs_t> observations;
    // One entry per datagram: the end of its observations (a datagram with no
    // whole record has an entry too).
    std::vector<std::size_t> datagramEnds;

    std::size_t bytes() const { return observations.size() * sizeof(tavrel_rbe_obs_t); }
    void clear() {
        observations.clear();
        datagramEnds.clear();
    }
};

class ObservationQueue {
public:
    explicit ObservationQueue(std::size_t limitBytes) : m_limit(limitBytes) {}

    // Producer (one thread). Whether more bytes fit beside what is held and
    // pending (the bytes of a chunk being filled, not yet pushed).
    bool fits(std::size_t pending, std::size_t more) const {
        return m_held.load(std::memory_order_acquire) + pending + more <= m_limit;
    }
    // An empty chunk, from the pool when it has one.
    ObservationChunk spare();
    // Appends the chunk and wakes the consumer if it waits; discards it once
    // stopped.
    void push(ObservationChunk&& chunk);
    // The same, and replaces chunk with a spare one under the same lock.
    void pushAndSpare(ObservationChunk& chunk);

    // Consumer (one thread). Waits for chunks and moves whole ones into taken,
    // oldest first, at least one and then while the observations stay within
    // maxObservations. False once a stop has been requested; what is queued is
    // then discarded.
    bool pop(std::vector<ObservationChunk>& taken, std::size_t maxObservations);
    // Gives taken chunks back (their bytes no longer count) and empties taken.
    void recycle(std::vector<ObservationChunk>& taken);
    // The same, and returns their observations as one vector, in order. A copy:
    // the chunks keep their storage, which the socket thread writes again while
    // it is still in the cache (handing it over would have it write cold memory
    // for every batch).
    std::vector<tavrel_rbe_obs_t> release(std::vector<ObservationChunk>& taken);

    void stop();
    bool stopRequested() const { return m_stopFlag.load(std::memory_order_acquire); }

    std::size_t limit() const { return m_limit; }
    // Bytes queued and taken but not yet recycled, and the most held at once.
    std::size_t heldBytes() const { return m_held.load(std::memory_order_acquire); }
    std::size_t peakBytes() const { return m_peak.load(std::memory_order_relaxed); }

private:
    const std::size_t m_limit;
    std::atomic<std::size_t> m_held{0};
    std::atomic<std::size_t> m_peak{0}; // written by the producer only
    std::atomic<bool> m_stopFlag{false};

    std::mutex m_mutex; // guards m_chunks, m_pool, m_stopped and m_asleep
    std::condition_variable m_changed;
    std::deque<ObservationChunk> m_chunks;
    std::vector<ObservationChunk> m_pool;
    bool m_stopped = false;
    // The consumer waits in pop.
    bool m_asleep = false;
};

} // namespace tavrel
