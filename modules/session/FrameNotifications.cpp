#include "FrameNotifications.h"

#include "Sentova/Protocol.h"

#include <chrono>

namespace sentova::session {

namespace {
std::uint64_t steadyMicros() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}
} // namespace

FrameNotifications::FrameNotifications(Hooks hooks)
    : m_hooks(std::move(hooks)), m_thread([this] { run(); }) {}

FrameNotifications::~FrameNotifications() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_one();
    m_thread.join();
}

void FrameNotifications::EventCallback(unsigned int, unsigned int event, char*) {
    if (event != tavrel::protocol::kFrameStartEvent && event != tavrel::protocol::kFrameEndEvent)
        return;
    const Notification n{event, steadyMicros()};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= kCapacity) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        m_queue.push_back(n);
    }
    m_changed.notify_one();
}

void FrameNotifications::run() {
    const std::chrono::microseconds quiet(m_hooks.quietMicros);
    // Whether a notification came since the last quiet call.
    bool owed = false;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const auto ready = [this] { return m_stopping || !m_queue.empty(); };
        if (owed && m_hooks.quiet) {
            if (!m_changed.wait_for(lock, quiet, ready)) {
                owed = false;
                lock.unlock();
                m_hooks.quiet(steadyMicros());
                lock.lock();
                continue;
            }
        } else {
            m_changed.wait(lock, ready);
        }
        if (m_stopping)
            return;
        const Notification n = m_queue.front();
        m_queue.pop_front();
        owed = true;
        // The program is called with no lock held.
        lock.unlock();
        if (m_hooks.notified)
            m_hooks.notified(n.event, n.arrivalMicros);
        lock.lock();
    }
}

} // namespace sentova::session
