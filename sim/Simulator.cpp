#include "Simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace sentova {
namespace sim {

namespace {

constexpr std::size_t kHistoryLimit = 10000;
constexpr std::size_t kReceiveBufferSize = 65536;
// With nothing to run the thread still wakes this often, to notice a stop.
constexpr int kIdleMs = 20;
// Datagrams read in one go before the device clock runs again.
constexpr int kMaximumBurst = 64;

std::string printableCode(const std::string& bytes) {
    std::string code = bytes.substr(0, 6);
    for (char& c : code)
        if (!std::isprint(static_cast<unsigned char>(c)) || c == ' ')
            c = '?';
    return code.empty() ? "-" : code;
}

sockaddr_in toSockaddr(const Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.address);
    a.sin_port = htons(e.port);
    return a;
}

} // namespace

std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 0x0F];
    }
    return hex;
}

std::string formatCommandLine(const Endpoint& from, const std::string& command,
                              const std::string* reply) {
    std::string line = toString(from) + " " + printableCode(command) + " " +
                       toHex(command.size() > 6 ? command.substr(6) : std::string()) + " -> ";
    if (!reply)
        return line + "(dropped)";
    return line + printableCode(*reply) + " " +
           toHex(reply->size() > 6 ? reply->substr(6) : std::string());
}

bool parseLoopbackAddress(const std::string& text, std::uint32_t& address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    const std::uint32_t host = ntohl(parsed.s_addr);
    if ((host >> 24) != 127)
        return false;
    address = host;
    return true;
}

Simulator::Simulator(SimulatorConfig config)
    : m_config(std::move(config)), m_device(m_config.device), m_random(m_config.faults.seed) {}

Simulator::~Simulator() {
    stop();
}

void Simulator::start() {
    if (m_thread.joinable())
        return;
    std::uint32_t address = 0;
    if (!parseLoopbackAddress(m_config.address, address))
        throw std::invalid_argument("not a loopback address (127.x.y.z): " + m_config.address);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    const sockaddr_in local = toSockaddr(Endpoint{address, m_config.port});
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(),
                                "bind " + m_config.address + ":" + std::to_string(m_config.port));
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    // Room for bursts of laser packets on a busy machine.
    const int sendBuffer = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);

    if (!m_config.logFile.empty()) {
        m_log = std::fopen(m_config.logFile.c_str(), "w");
        if (!m_log) {
            const int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), "open " + m_config.logFile);
        }
    }
    m_socket = fd;
    m_endpoint = Endpoint{address, ntohs(bound.sin_port)};
    // The device clock runs on across a stop and a new start.
    if (m_start == std::chrono::steady_clock::time_point())
        m_start = std::chrono::steady_clock::now();
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void Simulator::stop() {
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_thread.join();
    ::close(m_socket);
    m_socket = -1;
    if (m_log) {
        std::fclose(m_log);
        m_log = nullptr;
    }
}

Endpoint Simulator::endpoint() const {
    return m_endpoint;
}

std::vector<ReceivedCommand> Simulator::received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_received.begin(), m_received.end()};
}

std::vector<std::string> Simulator::commandLines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_lines.begin(), m_lines.end()};
}

DeviceStatus Simulator::status() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

SimulatorCounters Simulator::counters() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counters;
}

double Simulator::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

bool Simulator::chance(double share) {
    if (share <= 0.0)
        return false;
    if (share >= 1.0)
        return true;
    // splitmix64: small, fast and reproducible from the seed.
    std::uint64_t z = (m_random += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53 < share;
}

bool Simulator::send(const Endpoint& to, const std::string& bytes) {
    const sockaddr_in target = toSockaddr(to);
    const ssize_t sent = ::sendto(m_socket, bytes.data(), bytes.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (sent == static_cast<ssize_t>(bytes.size()))
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counters.sendFailures;
    return false;
}

void Simulator::countReply() {
    // Counted before the send, so that a client holding the reply sees it counted.
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counters.repliesSent;
}

void Simulator::emitLine(const std::string& line) {
    if (m_config.echo) {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    }
    if (m_log) {
        std::fputs((line + "\n").c_str(), m_log);
        std::fflush(m_log);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(line);
    if (m_lines.size() > kHistoryLimit)
        m_lines.pop_front();
}

void Simulator::handleDatagram(const std::string& datagram, const Endpoint& from, double t,
                               std::vector<Outgoing>& out) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_counters.commands;
        m_received.push_back(ReceivedCommand{from, datagram});
        if (m_received.size() > kHistoryLimit)
            m_received.pop_front();
    }
    const auto injected = datagram.size() >= 6 ? m_config.faults.errors.find(datagram.substr(0, 6))
                                               : m_config.faults.errors.end();
    if (injected == m_config.faults.errors.end()) {
        m_device.receive(datagram, from, t, out);
        return;
    }
    // An injected error answers in place of the device, which never sees the command.
    m_device.advance(t, out);
    Outgoing reply;
    reply.kind = OutKind::Reply;
    reply.to = from;
    reply.bytes =
        "EE" + datagram.substr(2, 4) + std::string(1, static_cast<char>(injected->second));
    reply.command = datagram;
    reply.from = from;
    out.push_back(std::move(reply));
}

void Simulator::handleReply(const Outgoing& reply, double t) {
    const FaultOptions& faults = m_config.faults;
    if (chance(faults.dropReplies)) {
        emitLine(formatCommandLine(reply.from, reply.command, nullptr));
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_counters.repliesDropped;
        return;
    }
    std::string bytes = reply.bytes;
    if (reply.command.size() >= 6 && faults.wrongStem.count(reply.command.substr(0, 6)) &&
        bytes.size() >= 6) {
        // Keep the status class, spoil the stem.
        const std::string spoiled = bytes.compare(2, 4, "XXXX") == 0 ? "YYYY" : "XXXX";
        bytes.replace(2, 4, spoiled);
    }
    emitLine(formatCommandLine(reply.from, reply.command, &bytes));
    const int copies = faults.duplicateReplies ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        if (faults.delayRepliesMs > 0) {
            const Delayed d{t + faults.delayRepliesMs / 1000.0, reply.to, bytes};
            const auto at =
                std::upper_bound(m_delayed.begin(), m_delayed.end(), d,
                                 [](const Delayed& a, const Delayed& b) { return a.due < b.due; });
            m_delayed.insert(at, d);
        } else {
            countReply();
            send(reply.to, bytes);
        }
    }
}

void Simulator::dispatch(std::vector<Outgoing>& out, double t) {
    for (const Outgoing& o : out) {
        switch (o.kind) {
        case OutKind::Reply:
            handleReply(o, t);
            break;
        case OutKind::LaserData:
            if (chance(m_config.faults.dropPackets)) {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_counters.packetsDropped;
            } else if (send(o.to, o.bytes)) {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_counters.packetsSent;
            }
            break;
        case OutKind::Notification:
        case OutKind::Trigger:
            if (send(o.to, o.bytes)) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (o.kind == OutKind::Notification)
                    ++m_counters.notificationsSent;
                else
                    ++m_counters.triggerRecordsSent;
            }
            break;
        }
    }
    out.clear();
}

void Simulator::run() {
    std::vector<char> buffer(kReceiveBufferSize);
    std::vector<Outgoing> out;
    while (!m_stop.load()) {
        double t = now();
        // Wake for the next scheduled thing or laser datagram, and now and then
        // to notice a stop.
        double wake = std::min(m_device.nextScheduledTime(), m_device.nextLaserDue());
        if (!m_delayed.empty())
            wake = std::min(wake, m_delayed.front().due);
        const int timeoutMs = static_cast<int>(
            std::ceil(std::clamp((wake - t) * 1000.0, 0.0, static_cast<double>(kIdleMs))));
        pollfd p{m_socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        t = now();
        if (ready > 0 && (p.revents & POLLIN)) {
            for (int i = 0; i < kMaximumBurst; ++i) {
                sockaddr_in source{};
                socklen_t length = sizeof source;
                const ssize_t n = ::recvfrom(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                             reinterpret_cast<sockaddr*>(&source), &length);
                if (n < 0)
                    break;
                const Endpoint from{ntohl(source.sin_addr.s_addr), ntohs(source.sin_port)};
                // Each datagram is taken at its own time: a burst can outlast a tick.
                t = now();
                handleDatagram(std::string(buffer.data(), static_cast<std::size_t>(n)), from, t,
                               out);
                publishStatus();
                dispatch(out, t);
            }
        }
        m_device.advance(t, out);
        publishStatus();
        dispatch(out, t);
        while (!m_delayed.empty() && m_delayed.front().due <= t) {
            countReply();
            send(m_delayed.front().to, m_delayed.front().bytes);
            m_delayed.pop_front();
        }
    }
}

void Simulator::publishStatus() {
    // Published before anything is sent, so that a client that has its answer
    // also sees the state that led to it.
    const DeviceStatus s = m_device.status();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = s;
}

} // namespace sim
} // namespace sentova
