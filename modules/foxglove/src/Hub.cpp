#include "Hub.h"

#include "Session.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <chrono>

namespace sentova {
namespace foxglove {
namespace detail {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Published messages waiting for the network thread; it takes them all at once, so this fills
// only while it is held up.
constexpr std::size_t kInboxLimit = 64;
constexpr int kSendBuffer = 256 * 1024;
// Clients whose counts are kept for clients() once they have gone.
constexpr std::size_t kCountsKept = 256;

std::uint64_t nowNanos() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

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
            std::shared_ptr<Session> session = makeSession(std::move(socket), *this, counters);
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
} // namespace foxglove
} // namespace sentova
