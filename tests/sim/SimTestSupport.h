// Helpers for the simulator tests: a plain loopback UDP client and bounded waits.
#pragma once

#include "Simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace simtest {

// Polls cond every 5 ms until it holds or timeoutMs passes; returns its last value.
template <typename Cond> bool waitUntil(Cond cond, int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A UDP socket bound to a loopback address (port 0 = any free port).
class UdpClient {
public:
    explicit UdpClient(const std::string& address = "127.0.0.1", unsigned short port = 0) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            throw std::runtime_error("socket");
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(m_fd);
            throw std::runtime_error("bind " + address);
        }
    }
    ~UdpClient() { ::close(m_fd); }
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;

    unsigned short port() const {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }

    void sendTo(const sentova::sim::Endpoint& to, const std::string& bytes) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(to.address);
        a.sin_port = htons(to.port);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    // The next datagram, or nothing after timeoutMs; the sender goes to *from.
    std::optional<std::string> receive(int timeoutMs = 1000,
                                       sentova::sim::Endpoint* from = nullptr) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        std::string buffer(65536, '\0');
        sockaddr_in a{};
        socklen_t n = sizeof a;
        const ssize_t got =
            ::recvfrom(m_fd, &buffer[0], buffer.size(), 0, reinterpret_cast<sockaddr*>(&a), &n);
        if (got < 0)
            return std::nullopt;
        if (from)
            *from = sentova::sim::Endpoint{ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
        buffer.resize(static_cast<std::size_t>(got));
        return buffer;
    }

    // Sends a command and returns the first datagram that comes back.
    std::optional<std::string> ask(const sentova::sim::Endpoint& to, const std::string& bytes,
                                   int timeoutMs = 1000) {
        sendTo(to, bytes);
        return receive(timeoutMs);
    }

private:
    int m_fd = -1;
};

// A simulator on its own loopback address with fast homing, no console output
// and exact measurements, so that tests can compare the points with the scene.
inline sentova::sim::SimulatorConfig quietConfig(const std::string& address) {
    sentova::sim::SimulatorConfig c;
    c.address = address;
    c.echo = false;
    c.device.homeTimeMs = 50;
    c.device.scanner.noise.enabled = false;
    return c;
}

} // namespace simtest
