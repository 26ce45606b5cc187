// A foxglove.websocket.v1 server: accepts WebSocket clients that offer the subprotocol, tells
// them the server and its channels, answers their subscriptions and hands each message published
// on a channel to every client subscribed to it.
//
// Threads: one network thread of its own does all the sockets, without blocking. publish() and
// the counts may be called from any thread. Each client has a bounded queue of messages to send:
// a client that reads slower than messages come loses the newest ones (counted per client), and
// neither the publisher nor the other clients wait for it.
#pragma once

#include "SentovaFoxglove/Protocol.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sentova {
namespace foxglove {

// The address cannot be listened on (in use, not local, not an address).
class ListenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ServerOptions {
    std::string address = "127.0.0.1";
    unsigned short port = 8765; // 0: any free port
    std::string name = "sentova";
    std::vector<Channel> channels;
    // Messages waiting for one client, the one being sent included.
    std::size_t queueLimit = 8;
};

struct ClientCounts {
    std::uint64_t number = 0; // 1 for the first client accepted
    std::string peer;         // address:port
    std::uint64_t sent = 0;   // messages on channels
    std::uint64_t dropped = 0;
    bool connected = true;
};

namespace detail {
class Hub;
}

class LiveServer {
public:
    // Listens and starts the network thread. Throws ListenError.
    explicit LiveServer(ServerOptions options);
    // Closes every connection and ends the network thread.
    ~LiveServer();
    LiveServer(const LiveServer&) = delete;
    LiveServer& operator=(const LiveServer&) = delete;

    // The port listened on (the one chosen when 0 was asked).
    unsigned short port() const;

    // Queues the payload for the channel's subscribers, stamped with the time (ns since the Unix
    // epoch); the payload is shared, not copied, among them.
    void publish(std::uint32_t channelId, std::uint64_t timeNanos,
                 std::shared_ptr<const std::string> payload);
    // Waits until every message published so far has been sent or dropped, at most limit; false
    // when some were still waiting. For the last messages before the server ends.
    bool flush(std::chrono::milliseconds limit);
    // Whether any client is subscribed to the channel now, so that a publisher can skip making
    // messages nobody takes.
    bool subscribed(std::uint32_t channelId) const;

    // Every client accepted so far, in the order accepted.
    std::vector<ClientCounts> clients() const;
    // Messages dropped before reaching any client's queue: the network thread fell behind.
    std::uint64_t publishDrops() const;

private:
    std::unique_ptr<detail::Hub> m_impl;
};

} // namespace foxglove
} // namespace sentova
