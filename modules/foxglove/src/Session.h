// One client as the hub sees it, on the network thread. The WebSocket stream behind it is the
// session units' own, so that the hub's unit does not compile Boost.Beast.
#pragma once

#include "Hub.h"
#include "SentovaFoxglove/Subscriptions.h"

#include <boost/asio/ip/tcp.hpp>

#include <memory>

namespace sentova {
namespace foxglove {
namespace detail {

class Session {
public:
    virtual ~Session() = default;

    // Reads the client's upgrade request and, once it is accepted, its requests.
    virtual void start() = 0;
    // Queues the payload for each of this client's subscriptions to the channel.
    virtual void deliver(const Published& message) = 0;
    virtual const Subscriptions& subscriptions() const = 0;
    // Drops what is queued, closes the connection and leaves the hub.
    virtual void finish() = 0;
};

std::shared_ptr<Session> makeSession(boost::asio::ip::tcp::socket socket, Hub& server,
                                     std::shared_ptr<Counters> counters);

} // namespace detail
} // namespace foxglove
} // namespace sentova
