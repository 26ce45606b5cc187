// The live feed's server in process, read by Beast WebSocket clients on loopback: what a client
// is sent, and a client that does not read losing messages while another loses none.
#include "SentovaFoxglove/LiveServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace sentova::foxglove;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

class Client {
public:
    explicit Client(unsigned short port, bool offerProtocol = true) : m_ws(m_io) {
        m_ws.next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        if (offerProtocol) {
            m_ws.set_option(websocket::stream_base::decorator([](websocket::request_type& r) {
                r.set(beast::http::field::sec_websocket_protocol, kSubprotocol);
            }));
        }
        m_ws.handshake(m_response, "127.0.0.1", "/");
    }

    // The next message: text, or binary; is it binary.
    std::string read(bool* binary = nullptr) {
        beast::flat_buffer buffer;
        m_ws.read(buffer);
        if (binary != nullptr) {
            *binary = m_ws.got_binary();
        }
        return beast::buffers_to_string(buffer.data());
    }
    void send(const std::string& text) {
        m_ws.text(true);
        m_ws.write(asio::buffer(text));
    }
    const websocket::response_type& response() const { return m_response; }

private:
    asio::io_context m_io;
    websocket::stream<tcp::socket> m_ws;
    websocket::response_type m_response;
};

ServerOptions options() {
    ServerOptions o;
    o.port = 0;
    o.queueLimit = 2;
    o.channels = {{1, "/points", "json", "foxglove.PointCloud", "{}", "jsonschema"}};
    return o;
}

template <class P> bool eventually(P&& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace

TEST(LiveServer, AClientIsGreetedAndGetsWhatItSubscribedTo) {
    LiveServer server(options());
    Client client(server.port());
    EXPECT_EQ(client.response()[beast::http::field::sec_websocket_protocol], kSubprotocol);
    EXPECT_NE(client.read().find("\"op\":\"serverInfo\""), std::string::npos);
    EXPECT_NE(client.read().find("\"topic\":\"/points\""), std::string::npos);

    client.send(R"({"op":"subscribe","subscriptions":[{"id":5,"channelId":1}]})");
    ASSERT_TRUE(eventually([&] { return server.subscribed(1); }));
    server.publish(1, 0x0102030405060708ull, std::make_shared<const std::string>("{\"a\":1}"));
    bool binary = false;
    const std::string m = client.read(&binary);
    ASSERT_TRUE(binary);
    EXPECT_EQ(m.substr(0, kMessageDataHeaderSize), messageDataHeader(5, 0x0102030405060708ull));
    EXPECT_EQ(m.substr(kMessageDataHeaderSize), "{\"a\":1}");

    // A bad request gets a status, and the client is still served.
    client.send(R"({"op":"subscribe","subscriptions":[{"id":6,"channelId":2}]})");
    EXPECT_NE(client.read().find("\"op\":\"status\""), std::string::npos);
    server.publish(1, 1, std::make_shared<const std::string>("{}"));
    EXPECT_EQ(client.read(&binary).size(), kMessageDataHeaderSize + 2);

    client.send(R"({"op":"unsubscribe","subscriptionIds":[5]})");
    ASSERT_TRUE(eventually([&] { return !server.subscribed(1); }));
}

TEST(LiveServer, AClientWithoutTheSubprotocolIsRefused) {
    LiveServer server(options());
    EXPECT_THROW(Client(server.port(), false), boost::system::system_error);
    ASSERT_TRUE(eventually([&] { return server.clients().size() == 1; }));
    EXPECT_TRUE(eventually([&] { return !server.clients()[0].connected; }));
}

TEST(LiveServer, AClientThatDoesNotReadLosesMessagesAndTheOtherNone) {
    LiveServer server(options());
    Client slow(server.port());
    Client fast(server.port());
    for (Client* c : {&slow, &fast}) {
        c->read();
        c->read();
        // Requests are answered in order: the status of the bad one shows the subscription made.
        c->send(R"({"op":"subscribe","subscriptions":[{"id":0,"channelId":1}]})");
        c->send("{");
        EXPECT_NE(c->read().find("\"op\":\"status\""), std::string::npos);
    }
    // Large enough that the slow client's socket buffers fill after a few; published at the
    // fast client's pace, one at a time, so that its own queue never overflows.
    const auto payload = std::make_shared<const std::string>(1 << 20, 'x');
    constexpr int kMessages = 40;
    for (int i = 0; i < kMessages; ++i) {
        server.publish(1, static_cast<std::uint64_t>(i), payload);
        bool binary = false;
        const std::string m = fast.read(&binary);
        ASSERT_TRUE(binary);
        ASSERT_EQ(m.substr(0, kMessageDataHeaderSize), messageDataHeader(0, i));
    }
    ASSERT_TRUE(eventually([&] { return server.clients().at(1).sent == kMessages; }));
    const auto clients = server.clients();
    EXPECT_GT(clients[0].dropped, 0u);
    EXPECT_LT(clients[0].sent, static_cast<std::uint64_t>(kMessages));
    EXPECT_EQ(clients[1].dropped, 0u);
    EXPECT_TRUE(clients[0].connected);
}
