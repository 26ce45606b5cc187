// Unbounded FIFO between the grabber's socket thread and its consumer thread.
//
// Same contract as pcl::SynchronizedQueue (appending wakes the reader and does
// nothing once stopped; taking blocks while empty, fails once a stop has been
// requested and then discards what is left), but elements move in runs: a
// burst of datagrams costs one wake-up of the consumer instead of one each,
// which matters where every system call is expensive.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace pcl {

template <typename T> class PacketQueue {
public:
    // Appends every element of items, in order, and empties items.
    void enqueue(std::vector<T>& items) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_accepting)
                m_items.insert(m_items.end(), std::make_move_iterator(items.begin()),
                               std::make_move_iterator(items.end()));
        }
        items.clear();
        m_changed.notify_one();
    }

    // Waits for elements and moves all of them, oldest first, into out (which
    // must be empty). Returns false once a stop has been requested.
    bool dequeueAll(std::vector<T>& out) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_items.empty() || m_stopRequested; });
        if (m_stopRequested) {
            m_accepting = false;
            m_items.clear();
            return false;
        }
        out.swap(m_items);
        return true;
    }

    void stopQueue() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopRequested = true;
            m_stopFlag = true;
        }
        m_changed.notify_one();
    }

    // Lets the reader abandon a run it has taken once a stop is requested.
    bool stopRequested() const { return m_stopFlag; }

private:
    std::mutex m_mutex; // guards m_items, m_stopRequested and m_accepting
    std::condition_variable m_changed;
    std::vector<T> m_items;
    bool m_stopRequested = false;
    bool m_accepting = true;
    std::atomic<bool> m_stopFlag{false};
};

} // namespace pcl
