// The messages of the foxglove.websocket.v1 protocol that a server sends and the client requests
// it answers, as pure functions over their JSON and binary forms. No state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sentova {
namespace foxglove {

// The WebSocket subprotocol a client must offer.
constexpr const char* kSubprotocol = "foxglove.websocket.v1";

enum class StatusLevel { Info = 0, Warning = 1, Error = 2 };

struct Channel {
    std::uint32_t id = 0;
    std::string topic;
    std::string encoding; // of the messages: "json"
    std::string schemaName;
    std::string schema;
    std::string schemaEncoding; // "jsonschema"
};

std::string serverInfoMessage(const std::string& name, const std::string& sessionId);
std::string advertiseMessage(const std::vector<Channel>& channels);
std::string statusMessage(StatusLevel level, const std::string& message);

// Opcode 1, the subscription id and the receive time (ns since the Unix epoch), little-endian;
// the message's payload follows it in the same binary WebSocket message.
constexpr std::size_t kMessageDataHeaderSize = 13;
std::string messageDataHeader(std::uint32_t subscriptionId, std::uint64_t receiveTimeNanos);

// Whether a Sec-WebSocket-Protocol header value ("a, b") offers kSubprotocol.
bool offersSubprotocol(const std::string& headerValue);

struct Subscription {
    std::uint32_t id = 0;
    std::uint32_t channelId = 0;
};

// A text message from a client. Operations this server does not take (client publishing,
// parameters, services) are Unsupported; anything that is not a well-formed request is Invalid.
struct ClientRequest {
    enum class Kind { Subscribe, Unsubscribe, Unsupported, Invalid };
    Kind kind = Kind::Invalid;
    std::string op;
    std::vector<Subscription> subscriptions;    // Subscribe
    std::vector<std::uint32_t> subscriptionIds; // Unsubscribe
    std::string error;                          // Invalid: why
};

ClientRequest parseClientMessage(const std::string& text);

} // namespace foxglove
} // namespace sentova
