// The server's state behind LiveServer: the listening socket, the inbox of published messages,
// the clients' sessions and their counts. Only Boost.Asio here: the WebSocket code, whose
// templates cost most of the compile time, stays in the session's own units.
#pragma once

#include "SentovaFoxglove/LiveServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sentova {
namespace foxglove {
namespace detail {

struct Counters {
    std::uint64_t number = 0;
    std::string peer;
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<bool> connected{true};
};

struct Published {
    std::uint32_t channelId = 0;
    std::uint64_t timeNanos = 0;
    std::shared_ptr<const std::string> payload;
};

class Session;

// The server's state; its sockets on the network thread.
class Hub {
public:
    explicit Hub(ServerOptions options);
    ~Hub();

    void publish(Published message);
    bool subscribed(std::uint32_t channelId) const;
    std::vector<ClientCounts> clients() const;
    std::uint64_t publishDrops() const { return m_publishDrops; }
    unsigned short port() const { return m_port; }

    // Network thread only.
    const ServerOptions& options() const { return m_options; }
    const std::vector<std::string>& greeting() const { return m_greeting; }
    void subscriptionsChanged();
    void ended(const std::shared_ptr<Session>& session);
    void pending(std::ptrdiff_t change) { m_pending += change; }
    // Whether every message published or queued has been sent (or dropped).
    bool idle() const { return m_pending == 0; }

private:
    void accept();
    void drain();

    const ServerOptions m_options;
    std::vector<std::string> m_greeting; // serverInfo and advertise, sent first to every client
    boost::asio::io_context m_io;
    boost::asio::ip::tcp::acceptor m_acceptor;
    unsigned short m_port = 0;
    std::uint64_t m_accepted = 0;
    std::vector<std::shared_ptr<Session>> m_sessions; // network thread only

    std::mutex m_inboxMutex; // guards m_inbox
    std::deque<Published> m_inbox;
    std::atomic<std::uint64_t> m_publishDrops{0};
    // Messages in the inbox and in the clients' queues.
    std::atomic<std::ptrdiff_t> m_pending{0};

    mutable std::mutex m_countsMutex; // guards m_counts and m_subscribers
    std::vector<std::shared_ptr<Counters>> m_counts;
    std::map<std::uint32_t, std::size_t> m_subscribers; // channel id: subscriptions

    std::thread m_thread;
};

} // namespace detail
} // namespace foxglove
} // namespace sentova
