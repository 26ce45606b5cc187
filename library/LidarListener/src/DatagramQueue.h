// The bounded FIFO between the listener's socket thread and its consumer thread.
//
// It holds the datagrams' records as they came off the wire, in chunks, one
// chunk per batch of datagrams the socket thread took from the system, with the
// end of each datagram inside it; the consumer decodes them, so the socket
// thread only copies bytes. What it holds is bounded in bytes: the socket
// thread asks whether a datagram fits before it copies it, and drops it
// otherwise, so a stalled consumer costs at most the limit. Chunks go back to a
// small pool once read, so the socket thread allocates nothing while the stream
// is steady.
#pragma once

#include "Sentova/LaserPacket.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace tavrel {

struct DatagramChunk {
    // The whole point records of the chunk's datagrams, back to back; headers
    // and bytes after the last whole record are left out.
    std::vector<unsigned char> records;
    // One entry per datagram: the end of its records in bytes (a datagram with
    // no whole record has an entry too).
    std::vector<std::size_t> datagramEnds;

    // What it costs the queue's bound: the entries count too, so that a flood
    // of datagrams without records is bounded as well.
    std::size_t bytes() const { return records.size() + datagramEnds.size() * sizeof(std::size_t); }
    std::size_t recordCount() const { return records.size() / kLaserRecordSize; }
    void clear() {
        records.clear();
        datagramEnds.clear();
    }
};

// The bytes a datagram of that many records adds to a chunk.
constexpr std::size_t chunkBytesOf(std::size_t records) {
    return records * kLaserRecordSize + sizeof(std::size_t);
}

class DatagramQueue {
public:
    explicit DatagramQueue(std::size_t limitBytes) : m_limit(limitBytes) {}

    // Producer (one thread). Whether more bytes fit beside what is held and
    // pending (the bytes of a chunk being filled, not yet pushed).
    bool fits(std::size_t pending, std::size_t more) const {
        return m_held.load(std::memory_order_acquire) + pending + more <= m_limit;
    }
    // An empty chunk, from the pool when it has one.
    DatagramChunk spare();
    // Appends the chunk and wakes the consumer if it waits; discards it once
    // stopped.
    void push(DatagramChunk&& chunk);
    // The same, and replaces chunk with a spare one under the same lock.
    void pushAndSpare(DatagramChunk& chunk);

    // Consumer (one thread). Waits for chunks and moves whole ones into taken,
    // oldest first, at least one and then while the records stay within
    // maxRecords. False once a stop has been requested; what is queued is then
    // discarded.
    bool pop(std::vector<DatagramChunk>& taken, std::size_t maxRecords);
    // Gives taken chunks back (their bytes no longer count) and empties taken.
    // Their storage goes to the pool: the socket thread writes it again while
    // it is still in the cache.
    void recycle(std::vector<DatagramChunk>& taken);

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
    std::deque<DatagramChunk> m_chunks;
    std::vector<DatagramChunk> m_pool;
    bool m_stopped = false;
    // The consumer waits in pop.
    bool m_asleep = false;
};

} // namespace tavrel
