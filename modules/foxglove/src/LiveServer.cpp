#include "SentovaFoxglove/LiveServer.h"

#include "SentovaFoxglove/Subscriptions.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

namespace sentova {
namespace foxglove {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

// Published messages waiting for the network thread; it takes them all at once, so this fills
// only while it is held up.
constexpr std::size_t kInboxLimit = 64;
// Room for status replies beyond the data messages: a client that sends bad requests without
// reading the answers loses them too, and no queue grows without end.
constexpr std::size_t kControlReserve = 16;
// Client requests are small; a larger message ends the connection.
constexpr std::size_t kRequestLimit = 64 * 1024;
constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr int kSendBuffer = 256 * 1024;
// Clients whose counts are kept for clients() once they have gone.
constexpr std::size_t kCountsKept = 256;

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

std::uint64_t nowNanos() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

namespace detail {

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
    asio::io_context m_io;
    tcp::acceptor m_acceptor;
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

// One client, on the network thread: the upgrade, then its requests read and its queue written.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, Hub& server, std::shared_ptr<Counters> counters)
        : m_ws(std::move(socket)), m_server(server), m_counters(std::move(counters)) {}

    void start() {
        beast::get_lowest_layer(m_ws).expires_after(kRequestTimeout);
        m_parser.body_limit(kRequestLimit);
        http::async_read(m_ws.next_layer(), m_buffer, m_parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             self->onRequest(ec);
                         });
    }

    // Queues the payload for each of this client's subscriptions to the channel.
    void deliver(const Published& message) {
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

    const Subscriptions& subscriptions() const { return m_subscriptions; }

    void finish() {
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

private:
    struct Outgoing {
        bool binary = false;
        std::string header; // binary: the message data header before the payload
        std::shared_ptr<const std::string> payload;
    };

    void onRequest(beast::error_code ec) {
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
        m_ws.async_accept(
            request, [self = shared_from_this()](beast::error_code e) { self->onAccepted(e); });
    }

    // Not a WebSocket upgrade for this protocol: a plain answer, then the connection ends.
    void refuse(unsigned version) {
        auto response =
            std::make_shared<http::response<http::string_body>>(http::status::bad_request, version);
        response->set(http::field::content_type, "text/plain");
        response->body() = std::string("a WebSocket client offering the subprotocol ") +
                           kSubprotocol + " is expected here\n";
        response->keep_alive(false);
        response->prepare_payload();
        http::async_write(m_ws.next_layer(), *response,
                          [self = shared_from_this(), response](beast::error_code, std::size_t) {
                              self->finish();
                          });
    }

    void onAccepted(beast::error_code ec) {
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

    void read() {
        m_ws.async_read(m_buffer, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->onRead(ec);
        });
    }

    void onRead(beast::error_code ec) {
        if (ec) {
            finish();
            return;
        }
        if (m_ws.got_binary()) {
            control(statusMessage(StatusLevel::Error,
                                  "binary messages are not accepted: this server takes no "
                                  "client publishing or service calls"));
        } else {
            const ClientRequest request =
                parseClientMessage(beast::buffers_to_string(m_buffer.data()));
            for (const std::string& refused :
                 m_subscriptions.apply(request, m_server.options().channels)) {
                control(statusMessage(StatusLevel::Error, refused));
            }
            m_server.subscriptionsChanged();
        }
        m_buffer.consume(m_buffer.size());
        read();
    }

    void control(const std::string& text) {
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

    void pump() {
        if (m_writing || m_closed || m_queue.empty()) {
            return;
        }
        m_writing = true;
        const Outgoing& next = m_queue.front();
        m_ws.binary(next.binary);
        const auto done = [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->onWritten(ec);
        };
        if (next.binary) {
            const std::array<asio::const_buffer, 2> buffers{asio::buffer(next.header),
                                                            asio::buffer(*next.payload)};
            m_ws.async_write(buffers, done);
        } else {
            m_ws.async_write(asio::buffer(*next.payload), done);
        }
    }

    void onWritten(beast::error_code ec) {
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

    websocket::stream<beast::tcp_stream> m_ws;
    Hub& m_server;
    const std::shared_ptr<Counters> m_counters;
    beast::flat_buffer m_buffer;
    http::request_parser<http::string_body> m_parser;
    Subscriptions m_subscriptions;
    // The front is being written while m_writing.
    std::deque<Outgoing> m_queue;
    bool m_writing = false;
    bool m_closed = false;
};

Hub::Hub(ServerOptions options) : m_options(std::move(options)), m_acceptor(m_io) {
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(m_options.address, ec);
    if (ec) {
        throw ListenError("'" + m_options.address + "' is not an IP address");
    }
    const tcp::endpoint endpoint(address, m_options.port);
    const std::string where = m_options.address + ":" + std::to_string(m_options.port);
    m_acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        // Lets a restarted server bind beside connections still closing; a port someone
        // listens on stays refused.
        m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        m_acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        throw ListenError("cannot listen on " + where + ": " + ec.message());
    }
    m_port = m_acceptor.local_endpoint().port();
    m_greeting = {serverInfoMessage(m_options.name, std::to_string(nowNanos())),
                  advertiseMessage(m_options.channels)};
    accept();
    m_thread = std::thread([this] { m_io.run(); });
}

Hub::~Hub() {
    asio::post(m_io, [this] {
        boost::system::error_code ignored;
        m_acceptor.close(ignored);
        for (const std::shared_ptr<Session>& s :
             std::vector<std::shared_ptr<Session>>(m_sessions)) {
            s->finish();
        }
        m_io.stop();
    });
    m_thread.join();
}

void Hub::accept() {
    m_acceptor.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) {
            return;
        }
        if (!ec) {
            auto counters = std::make_shared<Counters>();
            counters->number = ++m_accepted;
            boost::system::error_code peerError;
            const tcp::endpoint peer = socket.remote_endpoint(peerError);
            counters->peer = peer.address().to_string() + ":" + std::to_string(peer.port());
            {
                std::lock_guard<std::mutex> lock(m_countsMutex);
                // The counts of clients long gone make room for new ones.
                if (m_counts.size() >= kCountsKept) {
                    const auto gone = std::find_if(
                        m_counts.begin(), m_counts.end(),
                        [](const std::shared_ptr<Counters>& c) { return !c->connected; });
                    if (gone != m_counts.end()) {
                        m_counts.erase(gone);
                    }
                }
                m_counts.push_back(counters);
            }
            socket.set_option(tcp::no_delay(true), peerError);
            // Messages for a slow client wait in its bounded queue, where they are counted when
            // dropped, rather than in a kernel buffer grown to megabytes.
            socket.set_option(asio::socket_base::send_buffer_size(kSendBuffer), peerError);
            auto session = std::make_shared<Session>(std::move(socket), *this, counters);
            m_sessions.push_back(session);
            session->start();
        }
        accept();
    });
}

void Hub::publish(Published message) {
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_inboxMutex);
        if (m_inbox.size() >= kInboxLimit) {
            ++m_publishDrops;
            return;
        }
        m_inbox.push_back(std::move(message));
        ++m_pending;
        first = m_inbox.size() == 1;
    }
    if (first) {
        asio::post(m_io, [this] { drain(); });
    }
}

void Hub::drain() {
    std::deque<Published> messages;
    {
        std::lock_guard<std::mutex> lock(m_inboxMutex);
        messages.swap(m_inbox);
    }
    for (const Published& m : messages) {
        for (const std::shared_ptr<Session>& s : m_sessions) {
            s->deliver(m);
        }
        --m_pending;
    }
}

void Hub::subscriptionsChanged() {
    std::map<std::uint32_t, std::size_t> subscribers;
    for (const std::shared_ptr<Session>& s : m_sessions) {
        for (const Channel& c : m_options.channels) {
            subscribers[c.id] += s->subscriptions().of(c.id).size();
        }
    }
    std::lock_guard<std::mutex> lock(m_countsMutex);
    m_subscribers = std::move(subscribers);
}

void Hub::ended(const std::shared_ptr<Session>& session) {
    m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), session), m_sessions.end());
    subscriptionsChanged();
}

bool Hub::subscribed(std::uint32_t channelId) const {
    std::lock_guard<std::mutex> lock(m_countsMutex);
    const auto found = m_subscribers.find(channelId);
    return found != m_subscribers.end() && found->second > 0;
}

std::vector<ClientCounts> Hub::clients() const {
    std::lock_guard<std::mutex> lock(m_countsMutex);
    std::vector<ClientCounts> out;
    for (const std::shared_ptr<Counters>& c : m_counts) {
        out.push_back({c->number, c->peer, c->sent, c->dropped, c->connected});
    }
    return out;
}

} // namespace detail

LiveServer::LiveServer(ServerOptions options)
    : m_impl(std::make_unique<detail::Hub>(std::move(options))) {}

LiveServer::~LiveServer() = default;

unsigned short LiveServer::port() const {
    return m_impl->port();
}

void LiveServer::publish(std::uint32_t channelId, std::uint64_t timeNanos,
                         std::shared_ptr<const std::string> payload) {
    m_impl->publish({channelId, timeNanos, std::move(payload)});
}

bool LiveServer::subscribed(std::uint32_t channelId) const {
    return m_impl->subscribed(channelId);
}

std::vector<ClientCounts> LiveServer::clients() const {
    return m_impl->clients();
}

bool LiveServer::flush(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_impl->idle()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::uint64_t LiveServer::publishDrops() const {
    return m_impl->publishDrops();
}

} // namespace foxglove
} // namespace sentova
