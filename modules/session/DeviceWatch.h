// Watches the datagrams on a program's two command channels (through the library's traffic
// observers) and keeps what they tell of the device: whether it answers, its serial number, and
// the laser stream, scan and events this program set going.
#pragma once

#include "DeviceActivity.h"

#include "Sentova/SentovaTraffic.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace sentova::session {

// Several observers on one library object, which takes only one. Thread-safe.
class TrafficTee : public tavrel::SentovaTrafficCallbackClass {
public:
    void add(std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer);
    void remove(const std::shared_ptr<tavrel::SentovaTrafficCallbackClass>& observer);
    void TrafficCallback(const tavrel::traffic_datagram_t& datagram) override;

private:
    // Guards m_observers; held only to copy the list, never while an observer runs.
    std::mutex m_mutex;
    std::vector<std::shared_ptr<tavrel::SentovaTrafficCallbackClass>> m_observers;
};

class DeviceWatch {
public:
    // deviceAddress: IPv4 in host byte order; datagrams from anywhere else are not the device's.
    DeviceWatch(std::uint32_t deviceAddress, DeviceActivity::Timeouts timeouts);

    // The observer of one channel's traffic, for that channel's TrafficTee.
    std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer(Channel channel) const;

    // A copy of what is known now (any thread).
    DeviceActivity activity() const;

    // Milliseconds of the clock the watch stamps datagrams with.
    static std::int64_t nowMs();

private:
    class ChannelObserver;
    void seen(Channel channel, const tavrel::traffic_datagram_t& datagram);

    const std::uint32_t m_device;
    // Guards m_activity; taken on the library's threads for each datagram, briefly.
    mutable std::mutex m_mutex;
    DeviceActivity m_activity;
    std::shared_ptr<tavrel::SentovaTrafficCallbackClass> m_observers[2];
};

} // namespace sentova::session
