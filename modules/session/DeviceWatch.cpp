#include "DeviceWatch.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace sentova::session {

void TrafficTee::add(std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observers.push_back(std::move(observer));
}

void TrafficTee::remove(const std::shared_ptr<tavrel::SentovaTrafficCallbackClass>& observer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

void TrafficTee::TrafficCallback(const tavrel::traffic_datagram_t& datagram) {
    std::vector<std::shared_ptr<tavrel::SentovaTrafficCallbackClass>> observers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        observers = m_observers;
    }
    for (const auto& observer : observers) {
        observer->TrafficCallback(datagram);
    }
}

class DeviceWatch::ChannelObserver : public tavrel::SentovaTrafficCallbackClass {
public:
    ChannelObserver(DeviceWatch& watch, Channel channel) : m_watch(watch), m_channel(channel) {}
    void TrafficCallback(const tavrel::traffic_datagram_t& datagram) override {
        m_watch.seen(m_channel, datagram);
    }

private:
    DeviceWatch& m_watch;
    Channel m_channel;
};

DeviceWatch::DeviceWatch(std::uint32_t deviceAddress, DeviceActivity::Timeouts timeouts)
    : m_device(deviceAddress), m_activity(timeouts) {
    m_observers[0] = std::make_shared<ChannelObserver>(*this, Channel::Control);
    m_observers[1] = std::make_shared<ChannelObserver>(*this, Channel::Events);
}

std::shared_ptr<tavrel::SentovaTrafficCallbackClass> DeviceWatch::observer(Channel channel) const {
    return m_observers[static_cast<int>(channel)];
}

DeviceActivity DeviceWatch::activity() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_activity;
}

std::int64_t DeviceWatch::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void DeviceWatch::seen(Channel channel, const tavrel::traffic_datagram_t& datagram) {
    const std::string bytes(datagram.data, datagram.size);
    const std::int64_t now = nowMs();
    const bool fromDevice = datagram.sourceAddress == m_device;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (fromDevice) {
        m_activity.received(channel, bytes, now);
    } else if (datagram.destinationAddress == m_device) {
        m_activity.sent(channel, bytes, now);
    }
}

} // namespace sentova::session
