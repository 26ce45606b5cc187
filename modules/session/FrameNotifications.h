// The device's frame start and end notifications, handed on to the program off the event
// manager's socket thread: the socket thread only stamps each one with its arrival time and
// queues it, and a thread of this object's own calls the program. The queue is bounded; what
// does not fit is dropped and counted.
#pragma once

#include "Sentova/SentovaEventManager.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace sentova::session {

class FrameNotifications : public tavrel::SentovaEventCallbackClass {
public:
    // Arrival times are steady-clock microseconds (std::chrono::steady_clock).
    struct Hooks {
        // One frame start or end notification (tavrel::protocol::kFrameStartEvent or
        // kFrameEndEvent), in arrival order.
        std::function<void(unsigned event, std::uint64_t arrivalMicros)> notified;
        // quietMicros after a notification with none since: the device stops its stream at a
        // frame's end, so this is where a frame whose end was notified may close without more
        // data. May be empty.
        std::function<void(std::uint64_t nowMicros)> quiet;
        std::uint64_t quietMicros = 150000;
    };
    static constexpr std::size_t kCapacity = 256;

    explicit FrameNotifications(Hooks hooks);
    // Ends the thread; notifications still queued are dropped. Deregister first.
    ~FrameNotifications() override;
    FrameNotifications(const FrameNotifications&) = delete;
    FrameNotifications& operator=(const FrameNotifications&) = delete;

    // On the event manager's socket thread, under its callback lock: queues and returns.
    void EventCallback(unsigned int kind, unsigned int event, char* payload) override;

    // Notifications dropped because the program fell behind. Any thread.
    std::uint64_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    struct Notification {
        unsigned event = 0;
        std::uint64_t arrivalMicros = 0;
    };
    void run();

    const Hooks m_hooks;
    std::atomic<std::uint64_t> m_dropped{0};
    std::mutex m_mutex; // guards m_queue and m_stopping
    std::condition_variable m_changed;
    std::deque<Notification> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace sentova::session
