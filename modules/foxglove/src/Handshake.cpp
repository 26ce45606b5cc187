#include "WebSocketSession.h"

#include <memory>
#include <string>

namespace sentova {
namespace foxglove {
namespace detail {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

void WebSocketSession::start() {
    beast::get_lowest_layer(m_ws).expires_after(kRequestTimeout);
    m_parser.body_limit(kRequestLimit);
    http::async_read(
        m_ws.next_layer(), m_buffer, m_parser,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRequest(ec); });
}

void WebSocketSession::onRequest(beast::error_code ec) {
    if (ec) {
        finish();
        return;
    }
    const http::request<http::string_body>& request = m_parser.get();
    const std::string offered(request[http::field::sec_websocket_protocol]);
    if (!websocket::is_upgrade(request) || !offersSubprotocol(offered)) {
        refuse(request.version());
        return;
    }
    beast::get_lowest_layer(m_ws).expires_never();
    websocket::stream_base::timeout timeouts =
        websocket::stream_base::timeout::suggested(beast::role_type::server);
    // Pings find peers that went away without closing.
    timeouts.idle_timeout = std::chrono::seconds(30);
    timeouts.keep_alive_pings = true;
    m_ws.set_option(timeouts);
    m_ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
        response.set(http::field::sec_websocket_protocol, kSubprotocol);
        response.set(http::field::server, "sentova");
    }));
    m_ws.read_message_max(kRequestLimit);
    m_ws.async_accept(request,
                      [self = shared_from_this()](beast::error_code e) { self->onAccepted(e); });
}

// Not a WebSocket upgrade for this protocol: a plain answer, then the connection ends.
void WebSocketSession::refuse(unsigned version) {
    auto response =
        std::make_shared<http::response<http::string_body>>(http::status::bad_request, version);
    response->set(http::field::content_type, "text/plain");
    response->body() = std::string("a WebSocket client offering the subprotocol ") + kSubprotocol +
                       " is expected here\n";
    response->keep_alive(false);
    response->prepare_payload();
    http::async_write(
        m_ws.next_layer(), *response,
        [self = shared_from_this(), response](beast::error_code, std::size_t) { self->finish(); });
}

void WebSocketSession::onAccepted(beast::error_code ec) {
    if (ec) {
        finish();
        return;
    }
    m_buffer.clear();
    for (const std::string& text : m_server.greeting()) {
        control(text);
    }
    read();
}

} // namespace detail
} // namespace foxglove
} // namespace sentova
