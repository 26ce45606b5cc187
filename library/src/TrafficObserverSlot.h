// The traffic observer of one socket: set from any thread, shown datagrams on
// the thread that sends or receives them.
#pragma once

#include "Sentova/SentovaLogger.h"
#include "Sentova/SentovaTraffic.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

namespace tavrel {

class TrafficObserverSlot {
public:
    // nullptr removes the observer. A call already under way keeps its own
    // share of the observer it started with.
    void Set(std::shared_ptr<SentovaTrafficCallbackClass> observer) {
        std::lock_guard<std::mutex> lock(m_setMutex);
        const bool active = static_cast<bool>(observer);
        std::atomic_store(&m_observer, std::move(observer));
        m_active.store(active, std::memory_order_release);
    }

    // One relaxed load: what the traffic paths pay while nobody observes.
    bool Active() const { return m_active.load(std::memory_order_relaxed); }

    // Calls the observer, if any, with no lock held; an exception from it is
    // logged and dropped.
    void Show(const traffic_datagram_t& datagram) const {
        const std::shared_ptr<SentovaTrafficCallbackClass> observer = std::atomic_load(&m_observer);
        if (!observer)
            return;
        try {
            observer->TrafficCallback(datagram);
        } catch (const std::exception& e) {
            SENTOVA_LOG(error) << "traffic observer: " << e.what();
        } catch (...) {
            SENTOVA_LOG(error) << "traffic observer: unknown exception";
        }
    }

private:
    // Serialises setters, so that the flag always agrees with the last one.
    std::mutex m_setMutex;
    std::atomic<bool> m_active{false};
    std::shared_ptr<SentovaTrafficCallbackClass> m_observer;
};

// The system clock in microseconds since the Unix epoch, as the observer gets it.
inline std::uint64_t SystemMicrosNow() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

} // namespace tavrel
