#include "FollowingCopy.h"

#include <new>
#include <utility>

namespace viewer {

FollowingCopy::FollowingCopy(int largeBits, int smallBits)
    : m_copy(std::make_unique<PreparedCloud>(largeBits, smallBits)), m_thread([this] { run(); }) {}

FollowingCopy::~FollowingCopy() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::vector<DataPoint> FollowingCopy::spare() {
    std::vector<DataPoint> chunk;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_spares.empty()) {
        chunk = std::move(m_spares.back());
        m_spares.pop_back();
    }
    return chunk;
}

void FollowingCopy::follow(std::vector<DataPoint>&& chunk) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting.size() < kWaitingChunks || m_stopped; });
        m_waiting.push_back(std::move(chunk));
    }
    m_changed.notify_all();
}

std::shared_ptr<PreparedCloud> FollowingCopy::finish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (!m_copy) {
        return nullptr;
    }
    try {
        m_copy->finish();
    } catch (const std::bad_alloc&) {
        m_copy.reset();
        return nullptr;
    }
    return std::shared_ptr<PreparedCloud>(std::move(m_copy));
}

void FollowingCopy::run() {
    for (;;) {
        std::vector<DataPoint> chunk;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_waiting.empty() || m_ended || m_stopped; });
            if (m_stopped || m_waiting.empty()) {
                return;
            }
            chunk = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        m_changed.notify_all();
        if (m_copy) {
            try {
                m_copy->append(chunk.data(), chunk.size());
            } catch (const std::bad_alloc&) {
                // The load goes on without it: the display then copies the buffer itself.
                m_copy.reset();
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_spares.size() < kWaitingChunks) {
            m_spares.push_back(std::move(chunk));
        }
    }
}

} // namespace viewer
