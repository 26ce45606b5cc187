// A stand-in for the device inside a test: a plain UDP socket bound to a
// loopback address and the command port, which records every datagram and
// answers as the test says. Each test gets its own address in 127.100.0.0 to
// 127.149.255.255 (other suites use other parts of 127/8), so test processes
// can run in parallel.
#pragma once

#include "Sentova/SentovaCallbacks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// Reply code of the given class for a command: class + the command's stem.
inline std::string Reply(const std::string& replyClass, const std::string& command,
                         const std::string& payload = std::string()) {
    return replyClass + command.substr(2, 4) + payload;
}

inline std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class FakeDevice {
public:
    // Replies to send back to the sender of one datagram.
    using Responder = std::function<std::vector<std::string>(const std::string& datagram)>;

    explicit FakeDevice(unsigned short port = 4365) {
        const std::string name =
            ::testing::UnitTest::GetInstance()->current_test_info()
                ? std::string(
                      ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) +
                      "." + ::testing::UnitTest::GetInstance()->current_test_info()->name()
                : std::string("none");
        std::size_t h = std::hash<std::string>()(name);
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket");
        for (int attempt = 0; attempt < 200; ++attempt, ++h) {
            address_ = "127." + std::to_string(100 + h % 50) + "." + std::to_string(h / 50 % 250) +
                       "." + std::to_string(1 + h / 12500 % 250);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = htons(port);
            ::inet_pton(AF_INET, address_.c_str(), &local.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
                thread_ = std::thread([this] { Run(); });
                return;
            }
            if (errno != EADDRINUSE)
                break;
        }
        ::close(fd_);
        throw std::runtime_error("no free loopback address for the fake device");
    }

    ~FakeDevice() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    const std::string& address() const { return address_; }

    void setResponder(Responder responder) {
        std::lock_guard<std::mutex> lock(mutex_);
        responder_ = std::move(responder);
    }

    // Answers every command except "SVPPPP" with the given class and payload.
    void answerAll(const std::string& replyClass, const std::string& payload = std::string()) {
        setResponder([replyClass, payload](const std::string& d) -> std::vector<std::string> {
            if (d.compare(0, 6, "SVPPPP") == 0)
                return {};
            return {Reply(replyClass, d, payload)};
        });
    }

    // Waits (at most timeout) until count datagrams have arrived.
    bool waitForDatagrams(std::size_t count,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
    }

    std::vector<std::string> received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

    // Source port of the latest datagram; 0 before any arrived.
    unsigned short lastSenderPort() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ntohs(sender_.sin_port);
    }

    // Source address of the latest datagram, host byte order; 0 before any arrived.
    std::uint32_t lastSenderAddress() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ntohl(sender_.sin_addr.s_addr);
    }

    // Sends an unsolicited datagram to the sender of the latest datagram.
    void sendToClient(const std::string& data) {
        sockaddr_in to;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            to = sender_;
        }
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

private:
    void Run() {
        char buffer[70000];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0)
                continue;
            const std::string datagram(buffer, static_cast<std::size_t>(n));
            Responder responder;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(datagram);
                sender_ = from;
                responder = responder_;
            }
            arrived_.notify_all();
            if (!responder)
                continue;
            for (const std::string& reply : responder(datagram))
                ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                         sizeof from);
        }
    }

    int fd_ = -1;
    std::string address_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    // mutex_ guards responder_, received_ and sender_.
    std::mutex mutex_;
    std::condition_variable arrived_;
    Responder responder_;
    std::vector<std::string> received_;
    sockaddr_in sender_{};
};

// A plain UDP socket on a loopback address, on an ephemeral port unless one is
// given: a stranger, or a device the test drives by hand.
class LoopbackPeer {
public:
    explicit LoopbackPeer(const std::string& address, unsigned short port = 0) : address_(address) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = endpoint(address, port);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            throw std::runtime_error("cannot bind " + address + ":" + std::to_string(port));
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }
    ~LoopbackPeer() { close(); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    const std::string& address() const { return address_; }
    unsigned short port() const { return port_; }

    void sendTo(const std::string& address, unsigned short port, const std::string& data) {
        const sockaddr_in to = endpoint(address, port);
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

    // Waits up to timeout for one datagram; its sender's port goes to fromPort.
    bool receive(std::string& data, unsigned short& fromPort,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return false;
        char buffer[70000];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return false;
        data.assign(buffer, static_cast<std::size_t>(n));
        fromPort = ntohs(from.sin_port);
        return true;
    }

    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    static sockaddr_in endpoint(const std::string& address, unsigned short port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        return a;
    }

    std::string address_;
    int fd_ = -1;
    unsigned short port_ = 0;
};

// Polls a condition every few milliseconds, at most timeout long.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Counts a non-blocking transaction's notifications and keeps the last result.
class CountingCallback : public tavrel::SentovaNotificationCallbackClass {
public:
    void NotificationCallback(tavrel::tavrel_error_t result) override {
        last = result;
        ++calls;
    }
    std::atomic<int> calls{0};
    std::atomic<tavrel::tavrel_error_t> last{tavrel::NoError};
};

} // namespace testing_support
