#include "Simulator.h"

#include "Sentova/CommandTable.h"
#include "Sentova/DeviceAddress.h"
#include "Sentova/Protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <limits>
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
// A late reply leaves this long after its time-out has passed.
constexpr unsigned kLateMarginMs = 100;

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

std::string formatCounters(const SimulatorCounters& c, const DeviceStatus& s) {
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    const PacketFaultCounters& p = c.packetFaults;
    return "commands " + n(c.commands) + ", replies " + n(c.repliesSent) + " (dropped " +
           n(c.repliesDropped) + ", delayed " + n(c.repliesDelayed) + ", late " + n(c.repliesLate) +
           ", duplicated " + n(c.repliesDuplicated) + ", withheld " + n(s.repliesWithheld) +
           "), errors injected " + n(c.errorsInjected) + ", wrong stems " + n(c.wrongStems) +
           "; laser datagrams " + n(c.packetsSent) + " to " + n(s.streamTargets.size()) +
           " hosts now, points " + n(s.pointsSent) + "; packet faults: dropped " + n(p.dropped) +
           ", truncated " + n(p.truncated) + ", bad header " + n(p.badHeader) + ", duplicated " +
           n(p.duplicated) + ", reordered " + n(p.reordered) + ", bursts " + n(p.bursts) + " (" +
           n(p.burstDatagrams) + " datagrams, " + n(p.burstCopies) + " copies); notifications " +
           n(c.notificationsSent) + ", trigger records " + n(c.triggerRecordsSent) +
           ", send failures " + n(c.sendFailures);
}

unsigned replyTimeoutMs(const std::string& command) {
    return tavrel::DefaultReplyTimeoutMs(command);
}

bool parseLoopbackAddress(const std::string& text, std::uint32_t& address) {
    if (!tavrel::IsIPv4Address(text))
        return false;
    const std::uint32_t host = tavrel::ParseIPv4Address(text);
    if ((host >> 24) != 127)
        return false;
    address = host;
    return true;
}

Simulator::Simulator(SimulatorConfig config)
    : m_config(std::move(config)), m_device(m_config.device), m_random(0),
      m_packetFaults(m_config.faults.packets, m_config.faults.seed) {}

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

double Simulator::uniform() {
    // Replies are drawn in the order they leave: reproducible from the seed.
    return uniformDraw(m_config.faults.seed, m_random++, 0);
}

bool Simulator::chance(double share) {
    if (share <= 0.0)
        return false;
    if (share >= 1.0)
        return true;
    return uniform() < share;
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

void Simulator::sendLaserData(std::vector<AddressedDatagram>& datagrams) {
    // Sent in batches, so that a burst leaves as fast as the kernel takes it.
    constexpr std::size_t kBatch = 256;
    std::vector<mmsghdr> messages;
    std::vector<iovec> buffers;
    std::vector<sockaddr_in> targets;
    std::uint64_t sent = 0, failed = 0;
    for (std::size_t first = 0; first < datagrams.size(); first += kBatch) {
        const std::size_t n = std::min(kBatch, datagrams.size() - first);
        messages.assign(n, mmsghdr{});
        buffers.resize(n);
        targets.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            AddressedDatagram& d = datagrams[first + i];
            targets[i] = toSockaddr(d.to);
            buffers[i].iov_base = &d.bytes[0];
            buffers[i].iov_len = d.bytes.size();
            messages[i].msg_hdr.msg_name = &targets[i];
            messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            messages[i].msg_hdr.msg_iov = &buffers[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        std::size_t done = 0;
        while (done < n) {
            const int result = ::sendmmsg(m_socket, &messages[done],
                                          static_cast<unsigned>(n - done), MSG_DONTWAIT);
            if (result > 0) {
                done += static_cast<std::size_t>(result);
                sent += static_cast<std::uint64_t>(result);
            } else {
                ++done; // skip the one that failed
                ++failed;
            }
        }
    }
    datagrams.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counters.packetsSent += sent;
    m_counters.sendFailures += failed;
    m_counters.packetFaults = m_packetFaults.counters();
    m_counters.packetsDropped = m_counters.packetFaults.dropped;
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_counters.errorsInjected;
    }
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
    const bool spoil = reply.command.size() >= 6 &&
                       faults.wrongStem.count(reply.command.substr(0, 6)) && bytes.size() >= 6;
    if (spoil) {
        // Keep the status class, spoil the stem.
        const std::string spoiled = bytes.compare(2, 4, "XXXX") == 0 ? "YYYY" : "XXXX";
        bytes.replace(2, 4, spoiled);
    }
    double delayMs = faults.delayRepliesMs;
    if (faults.replyJitterMs > 0)
        delayMs += uniform() * faults.replyJitterMs;
    const bool late = chance(faults.lateReplies);
    if (late)
        delayMs += replyTimeoutMs(reply.command) + kLateMarginMs;
    emitLine(formatCommandLine(reply.from, reply.command, &bytes));
    const int copies = faults.duplicateReplies ? 2 : 1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_counters.wrongStems += spoil ? 1 : 0;
        m_counters.repliesLate += late ? 1 : 0;
        m_counters.repliesDuplicated += copies - 1;
        m_counters.repliesDelayed += delayMs > 0.0 ? copies : 0;
    }
    for (int i = 0; i < copies; ++i) {
        if (delayMs > 0.0) {
            const Delayed d{t + delayMs / 1000.0, reply.to, bytes};
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
            // The data the device produced before it answered leaves first, and
            // once its stream has stopped nothing of it is held back any more:
            // a host holding the reply to a stop has been sent the whole stream.
            if (!m_device.streaming())
                m_packetFaults.release(std::numeric_limits<double>::infinity(), m_laserOut);
            sendLaserData(m_laserOut);
            handleReply(o, t);
            break;
        case OutKind::LaserData:
            m_packetFaults.offer(o.to, o.bytes, t, m_laserOut);
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
    sendLaserData(m_laserOut);
}

void Simulator::run() {
    std::vector<char> buffer(kReceiveBufferSize);
    std::vector<Outgoing> out;
    while (!m_stop.load()) {
        double t = now();
        // Wake for the next scheduled thing or laser datagram, and now and then
        // to notice a stop.
        double wake = std::min(
            {m_device.nextScheduledTime(), m_device.nextLaserDue(), m_packetFaults.nextRelease()});
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
        m_packetFaults.release(t, m_laserOut);
        sendLaserData(m_laserOut);
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
