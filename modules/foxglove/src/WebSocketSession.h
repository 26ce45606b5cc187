// The session over Boost.Beast: the HTTP upgrade (Handshake.cpp), then the client's requests
// read and its queue written (WebSocketSession.cpp). Each unit instantiates only its own
// composed operations, so the two compile side by side.
#pragma once

#include "Session.h"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>

namespace sentova {
namespace foxglove {
namespace detail {

// Client requests are small; a larger message ends the connection.
inline constexpr std::size_t kRequestLimit = 64 * 1024;
inline constexpr auto kRequestTimeout = std::chrono::seconds(10);
// Room for status replies beyond the data messages: a client that sends bad requests without
// reading the answers loses them too, and no queue grows without end.
inline constexpr std::size_t kControlReserve = 16;

class WebSocketSession final : public Session,
                               public std::enable_shared_from_this<WebSocketSession> {
public:
    WebSocketSession(boost::asio::ip::tcp::socket socket, Hub& server,
                     std::shared_ptr<Counters> counters)
        : m_ws(std::move(socket)), m_server(server), m_counters(std::move(counters)) {}

    void start() override;

    void deliver(const Published& message) override;
    const Subscriptions& subscriptions() const override { return m_subscriptions; }
    void finish() override;

private:
    struct Outgoing {
        bool binary = false;
        std::string header; // binary: the message data header before the payload
        std::shared_ptr<const std::string> payload;
    };

    // Handshake.cpp
    void onRequest(boost::beast::error_code ec);
    void refuse(unsigned version);
    void onAccepted(boost::beast::error_code ec);

    void read();
    void onRead(boost::beast::error_code ec);
    void control(const std::string& text);
    void pump();
    void onWritten(boost::beast::error_code ec);

    boost::beast::websocket::stream<boost::beast::tcp_stream> m_ws;
    Hub& m_server;
    const std::shared_ptr<Counters> m_counters;
    boost::beast::flat_buffer m_buffer;
    boost::beast::http::request_parser<boost::beast::http::string_body> m_parser;
    Subscriptions m_subscriptions;
    // The front is being written while m_writing.
    std::deque<Outgoing> m_queue;
    bool m_writing = false;
    bool m_closed = false;
};

} // namespace detail
} // namespace foxglove
} // namespace sentova
