#include "WebSocketSession.h"

#include <array>
#include <iterator>

namespace sentova {
namespace foxglove {
namespace detail {

namespace asio = boost::asio;
namespace beast = boost::beast;

std::shared_ptr<Session> makeSession(asio::ip::tcp::socket socket, Hub& server,
                                     std::shared_ptr<Counters> counters) {
    return std::make_shared<WebSocketSession>(std::move(socket), server, std::move(counters));
}

void WebSocketSession::deliver(const Published& message) {
    for (const std::uint32_t id : m_subscriptions.of(message.channelId)) {
        if (m_closed || m_queue.size() >= m_server.options().queueLimit) {
            ++m_counters->dropped;
            continue;
        }
        m_queue.push_back({true, messageDataHeader(id, message.timeNanos), message.payload});
        m_server.pending(1);
    }
    pump();
}

void WebSocketSession::finish() {
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_counters->connected = false;
    // A write in progress still refers to the front until its handler runs.
    const auto kept = m_writing ? std::next(m_queue.begin()) : m_queue.begin();
    m_server.pending(-static_cast<std::ptrdiff_t>(std::distance(kept, m_queue.end())));
    m_queue.erase(kept, m_queue.end());
    beast::get_lowest_layer(m_ws).close();
    m_server.ended(shared_from_this());
}

void WebSocketSession::read() {
    m_ws.async_read(m_buffer, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        self->onRead(ec);
    });
}

void WebSocketSession::onRead(beast::error_code ec) {
    if (ec) {
        finish();
        return;
    }
    if (m_ws.got_binary()) {
        control(statusMessage(StatusLevel::Error,
                              "binary messages are not accepted: this server takes no "
                              "client publishing or service calls"));
    } else {
        const ClientRequest request = parseClientMessage(beast::buffers_to_string(m_buffer.data()));
        for (const std::string& refused :
             m_subscriptions.apply(request, m_server.options().channels)) {
            control(statusMessage(StatusLevel::Error, refused));
        }
        m_server.subscriptionsChanged();
    }
    m_buffer.consume(m_buffer.size());
    read();
}

void WebSocketSession::control(const std::string& text) {
    if (m_closed) {
        return;
    }
    if (m_queue.size() >= m_server.options().queueLimit + kControlReserve) {
        ++m_counters->dropped;
        return;
    }
    m_queue.push_back({false, std::string(), std::make_shared<const std::string>(text)});
    m_server.pending(1);
    pump();
}

void WebSocketSession::pump() {
    if (m_writing || m_closed || m_queue.empty()) {
        return;
    }
    m_writing = true;
    const Outgoing& next = m_queue.front();
    m_ws.binary(next.binary);
    // Text messages go out with their empty header: one buffer sequence type, so the
    // stream's write operations are instantiated once.
    const std::array<asio::const_buffer, 2> buffers{asio::buffer(next.header),
                                                    asio::buffer(*next.payload)};
    m_ws.async_write(buffers, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        self->onWritten(ec);
    });
}

void WebSocketSession::onWritten(beast::error_code ec) {
    m_writing = false;
    if (ec) {
        // finish() leaves the front to this handler.
        m_queue.pop_front();
        m_server.pending(-1);
        finish();
        return;
    }
    if (m_queue.front().binary) {
        ++m_counters->sent;
    }
    m_queue.pop_front();
    m_server.pending(-1);
    pump();
}

} // namespace detail
} // namespace foxglove
} // namespace sentova
