// The live feed's protocol messages and one client's subscriptions, and the server's refusal of
// an address it cannot listen on.
#include "SentovaFoxglove/LiveServer.h"
#include "SentovaFoxglove/Protocol.h"
#include "SentovaFoxglove/Subscriptions.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace sentova::foxglove;
using Kind = ClientRequest::Kind;

namespace {

boost::property_tree::ptree parsed(const std::string& json) {
    boost::property_tree::ptree tree;
    std::istringstream in(json);
    boost::property_tree::read_json(in, tree);
    return tree;
}

std::vector<Channel> twoChannels() {
    return {{1, "/points", "json", "foxglove.PointCloud", "{}", "jsonschema"},
            {2, "/log", "json", "foxglove.Log", "{\"title\":\"x\"}", "jsonschema"}};
}

} // namespace

TEST(FoxgloveMessages, ServerMessagesAreJsonWithTheProtocolsFields) {
    const auto info = parsed(serverInfoMessage("sentova \"A\"", "42"));
    EXPECT_EQ(info.get<std::string>("op"), "serverInfo");
    EXPECT_EQ(info.get<std::string>("name"), "sentova \"A\"");
    EXPECT_EQ(info.get<std::string>("sessionId"), "42");

    const auto advertised = parsed(advertiseMessage(twoChannels()));
    EXPECT_EQ(advertised.get<std::string>("op"), "advertise");
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& c : advertised.get_child("channels")) {
        seen.emplace_back(c.second.get<std::string>("id"), c.second.get<std::string>("schema"));
        EXPECT_EQ(c.second.get<std::string>("encoding"), "json");
        EXPECT_EQ(c.second.get<std::string>("schemaEncoding"), "jsonschema");
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], std::make_pair(std::string("2"), std::string("{\"title\":\"x\"}")));

    const auto status = parsed(statusMessage(StatusLevel::Error, "bad \x01 thing"));
    EXPECT_EQ(status.get<int>("level"), 2);
    EXPECT_EQ(status.get<std::string>("message"), "bad \x01 thing");
}

TEST(FoxgloveMessages, MessageDataHeaderIsOpcodeSubscriptionAndTimeLittleEndian) {
    const std::string h = messageDataHeader(0x01020304u, 0x1122334455667788ull);
    ASSERT_EQ(h.size(), kMessageDataHeaderSize);
    const unsigned char expected[] = {0x01, 0x04, 0x03, 0x02, 0x01, 0x88, 0x77,
                                      0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(std::memcmp(h.data(), expected, sizeof expected), 0);
}

TEST(FoxgloveMessages, TheSubprotocolIsFoundAmongOthersOffered) {
    EXPECT_TRUE(offersSubprotocol("foxglove.websocket.v1"));
    EXPECT_TRUE(offersSubprotocol("chat,  foxglove.websocket.v1 ,x"));
    EXPECT_FALSE(offersSubprotocol(""));
    EXPECT_FALSE(offersSubprotocol("foxglove.websocket.v10"));
    EXPECT_FALSE(offersSubprotocol("foxglove.websocket"));
}

TEST(FoxgloveRequests, SubscribeAndUnsubscribeAreRead) {
    const ClientRequest s = parseClientMessage(
        R"({"op":"subscribe","subscriptions":[{"id":0,"channelId":1},{"id":4294967295,"channelId":2}]})");
    ASSERT_EQ(s.kind, Kind::Subscribe);
    ASSERT_EQ(s.subscriptions.size(), 2u);
    EXPECT_EQ(s.subscriptions[1].id, 4294967295u);
    EXPECT_EQ(s.subscriptions[1].channelId, 2u);

    const ClientRequest u = parseClientMessage(R"({"op":"unsubscribe","subscriptionIds":[3,0]})");
    ASSERT_EQ(u.kind, Kind::Unsubscribe);
    EXPECT_EQ(u.subscriptionIds, (std::vector<std::uint32_t>{3, 0}));
    EXPECT_EQ(parseClientMessage(R"({"op":"unsubscribe","subscriptionIds":[]})").kind,
              Kind::Unsubscribe);
}

TEST(FoxgloveRequests, MalformedRequestsAreInvalidWithAReason) {
    for (const char* text :
         {"", "{", "not json", "[1,2]", R"({"subscriptions":[]})", R"({"op":{"a":1}})",
          R"({"op":"subscribe"})", R"({"op":"subscribe","subscriptions":{"a":1}})",
          R"({"op":"subscribe","subscriptions":[{"id":1}]})",
          R"({"op":"subscribe","subscriptions":[{"id":-1,"channelId":1}]})",
          R"({"op":"subscribe","subscriptions":[{"id":4294967296,"channelId":1}]})",
          R"({"op":"subscribe","subscriptions":[{"id":1.5,"channelId":1}]})",
          R"({"op":"subscribe","subscriptions":[{"id":"1","channelId":true}]})",
          R"({"op":"unsubscribe","subscriptionIds":["x"]})"}) {
        const ClientRequest r = parseClientMessage(text);
        EXPECT_EQ(r.kind, Kind::Invalid) << text;
        EXPECT_FALSE(r.error.empty()) << text;
    }
    EXPECT_EQ(parseClientMessage(R"({"op":"getParameters","parameterNames":[]})").kind,
              Kind::Unsupported);
}

TEST(FoxgloveSubscriptions, RefusalsAreReportedAndTheRestApplied) {
    Subscriptions subs;
    const auto channels = twoChannels();
    auto refused = subs.apply(
        parseClientMessage(
            R"({"op":"subscribe","subscriptions":[{"id":7,"channelId":1},{"id":8,"channelId":9},{"id":9,"channelId":1}]})"),
        channels);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("channel 9"), std::string::npos);
    EXPECT_EQ(subs.of(1), (std::vector<std::uint32_t>{7, 9}));
    EXPECT_TRUE(subs.of(2).empty());

    // An id in use keeps its channel.
    refused = subs.apply(
        parseClientMessage(R"({"op":"subscribe","subscriptions":[{"id":7,"channelId":2}]})"),
        channels);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(subs.of(1), (std::vector<std::uint32_t>{7, 9}));

    refused = subs.apply(parseClientMessage(R"({"op":"unsubscribe","subscriptionIds":[7,70]})"),
                         channels);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("70"), std::string::npos);
    EXPECT_EQ(subs.of(1), (std::vector<std::uint32_t>{9}));

    // Requests that are not subscriptions change nothing and still get an answer.
    EXPECT_EQ(subs.apply(parseClientMessage("{"), channels).size(), 1u);
    EXPECT_EQ(
        subs.apply(parseClientMessage(R"({"op":"advertise","channels":[]})"), channels).size(), 1u);
    EXPECT_EQ(subs.of(1), (std::vector<std::uint32_t>{9}));
}

TEST(FoxgloveServer, AnAddressInUseOrNotLocalIsAListenError) {
    ServerOptions options;
    options.port = 0;
    LiveServer first(options);
    ASSERT_NE(first.port(), 0);
    options.port = first.port();
    EXPECT_THROW(LiveServer{options}, ListenError);
    options.port = 0;
    options.address = "192.0.2.1"; // a documentation address no interface has
    EXPECT_THROW(LiveServer{options}, ListenError);
    options.address = "localhost:1";
    EXPECT_THROW(LiveServer{options}, ListenError);
}
