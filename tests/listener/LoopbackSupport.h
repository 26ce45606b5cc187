// Real loopback UDP traffic and blocking waits for the listener tests.
#pragma once

#include "Sentova/LaserPacket.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace listener_test {

// Ports are fixed per test so that tests can run in parallel.
inline unsigned short TestPort(int offset) {
    return static_cast<unsigned short>(LISTENER_TEST_PORT_BASE + offset);
}

constexpr std::chrono::seconds kWait{10};

// Reads a value until the condition holds of it, at most kWait; returns the last one read.
template <typename Read, typename Condition> auto PollUntil(Read read, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    auto value = read();
    while (!condition(value) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        value = read();
    }
    return value;
}

// Sends datagrams from a chosen loopback address to 127.0.0.1.
class LoopbackSender {
public:
    explicit LoopbackSender(const std::string& from = "127.0.0.1") : m_socket(m_io) {
        m_socket.open(boost::asio::ip::udp::v4());
        m_socket.bind({boost::asio::ip::make_address(from), 0});
    }
    void Send(unsigned short port, const std::string& datagram) {
        m_socket.send_to(boost::asio::buffer(datagram),
                         {boost::asio::ip::make_address("127.0.0.1"), port});
    }
    unsigned short Port() const { return m_socket.local_endpoint().port(); }

private:
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket;
};

// True when the port can be bound, i.e. no grabber holds it.
inline bool PortIsFree(unsigned short port) {
    boost::asio::io_context io;
    boost::asio::ip::udp::socket socket(io);
    boost::system::error_code error;
    socket.open(boost::asio::ip::udp::v4(), error);
    socket.bind({boost::asio::ip::address_v4::any(), port}, error);
    return !error;
}

// A record whose timestamp identifies it.
inline tavrel::LaserRecord Record(std::uint32_t timestamp, double azimuth = 10.0) {
    tavrel::LaserRecord r;
    r.timestamp = timestamp;
    r.azimuth = azimuth;
    r.elevation = -5.0;
    r.range = 1000 + static_cast<std::int32_t>(timestamp);
    r.amplitude = 500;
    r.reflectance = -20;
    r.pulseShapeDeviation = 3;
    return r;
}

inline std::string Packet(std::initializer_list<std::uint32_t> timestamps) {
    std::vector<tavrel::LaserRecord> records;
    for (std::uint32_t t : timestamps)
        records.push_back(Record(t));
    return tavrel::encodeLaserPacket(records);
}

// Collects what another thread delivers and lets the test wait for it.
template <typename Batch> class Inbox {
public:
    void Put(Batch batch) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_batches.push_back(std::move(batch));
        m_changed.notify_all();
    }
    // Waits until at least count batches arrived; returns them all.
    std::vector<Batch> WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, kWait, [&] { return m_batches.size() >= count; });
        return m_batches;
    }
    // Waits until the condition on the batches holds; returns them all.
    template <typename Condition> std::vector<Batch> WaitUntil(Condition condition) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, kWait, [&] { return condition(m_batches); });
        return m_batches;
    }
    std::vector<Batch> Snapshot() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_batches;
    }

private:
    std::mutex m_mutex; // guards m_batches
    std::condition_variable m_changed;
    std::vector<Batch> m_batches;
};

} // namespace listener_test
