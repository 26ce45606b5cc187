#include "FakeDevice.h"

#include "GuiTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <stdexcept>

namespace viewer_test {

FakeDevice::FakeDevice(const std::string& address) {
    m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socket < 0) {
        throw std::runtime_error("fake device: no socket");
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(4365);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(m_socket);
        throw std::runtime_error("fake device: cannot bind " + address + ":4365");
    }
    // Short receive time-out, so the thread notices the stop request.
    timeval timeout{0, 50000};
    ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    m_thread = std::thread([this] { run(); });
}

FakeDevice::~FakeDevice() {
    m_stop = true;
    m_thread.join();
    ::close(m_socket);
}

void FakeDevice::setSerial(const std::string& serial) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_serial = serial;
    m_silentSerial = false;
}

void FakeDevice::setSilentSerial() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silentSerial = true;
}

void FakeDevice::setSilent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent = true;
}

void FakeDevice::setReplyDelay(std::chrono::milliseconds delay, const std::string& code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delays[code] = delay;
}

void FakeDevice::failCommand(const std::string& code, unsigned char error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures[code] = error;
}

std::vector<ReceivedCommand> FakeDevice::received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

std::vector<std::string> FakeDevice::codes() const {
    std::vector<std::string> result;
    for (const ReceivedCommand& command : received()) {
        if (command.code() != "SVCQRE") {
            result.push_back(command.code());
        }
    }
    return result;
}

void FakeDevice::clearReceived() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
}

bool FakeDevice::waitFor(const std::string& code, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& c : codes()) {
            if (c == code) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void FakeDevice::sendData(std::uint16_t port, const std::string& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(m_socket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
}

void FakeDevice::run() {
    char buffer[2048];
    while (!m_stop) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_socket, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 6) {
            continue;
        }
        const std::string command(buffer, static_cast<std::size_t>(n));
        const std::string code = command.substr(0, 6);
        const std::string stem = command.substr(2, 4);
        std::string reply;
        std::chrono::milliseconds delay{0};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.push_back({ntohs(from.sin_port), command});
            const auto failure = m_failures.find(code);
            if (failure != m_failures.end()) {
                reply = "EE" + stem + std::string(1, static_cast<char>(failure->second));
            } else if (code == "SVCQRE") {
                reply = m_silentSerial ? std::string() : "ER" + stem + m_serial;
            } else {
                reply = "EA" + stem;
            }
            if (m_silent) {
                reply.clear();
            }
            for (const std::string& key : {code, std::string()}) {
                const auto found = m_delays.find(key);
                if (found != m_delays.end()) {
                    delay = found->second;
                    break;
                }
            }
        }
        std::this_thread::sleep_for(delay);
        if (!reply.empty()) {
            ::sendto(m_socket, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     fromLength);
        }
    }
}

std::string processDeviceAddress() {
    return "127.76.1." + std::to_string(processSlot() + 1);
}

} // namespace viewer_test
