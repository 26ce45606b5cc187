#include "WriteThread.h"

#include <cerrno>
#include <unistd.h>

namespace formats {

WriteThread::~WriteThread() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::vector<char> WriteThread::hand(std::vector<char> block, std::size_t used) {
    const std::size_t size = block.size();
    std::vector<char> next;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_error != 0) {
            return block; // nothing more reaches the file: the block is free at once
        }
        m_changed.wait(lock, [this] { return m_queue.size() < kQueued; });
        m_queue.push_back({std::move(block), used});
        if (!m_spare.empty()) {
            next = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    m_changed.notify_all();
    if (!m_thread.joinable()) {
        m_thread = std::thread(&WriteThread::run, this);
    }
    // Until the first blocks come back written, new ones.
    next.resize(size);
    return next;
}

int WriteThread::finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    return m_error;
}

void WriteThread::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop) {
            return;
        }
        Block block = std::move(m_queue.front());
        m_queue.pop_front();
        const bool wanted = m_error == 0;
        m_busy = true;
        lock.unlock();
        m_changed.notify_all(); // room for the next block
        const int error = wanted ? write(block.bytes.data(), block.used) : 0;
        lock.lock();
        m_busy = false;
        m_error = m_error == 0 ? error : m_error;
        m_spare.push_back(std::move(block.bytes));
        m_changed.notify_all();
    }
}

int WriteThread::write(const char* s, std::size_t n) const {
    while (n > 0) {
        const ssize_t done = ::write(m_fd, s, n);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return done < 0 ? errno : EIO;
        }
        s += done;
        n -= static_cast<std::size_t>(done);
    }
    return 0;
}

} // namespace formats
