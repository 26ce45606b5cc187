#include "SentovaFoxglove/Protocol.h"

#include "SentovaMcap/Foxglove.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cstring>
#include <optional>
#include <sstream>

namespace sentova {
namespace foxglove {

namespace {

using boost::property_tree::ptree;
using mcap::jsonString;

// The parser gives every value as text: a JSON number within uint32, nothing else.
std::optional<std::uint32_t> unsignedValue(const ptree& node) {
    const std::string& text = node.data();
    if (!node.empty() || text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// A JSON array: children without names. An empty array and an empty string look alike.
bool isArray(const ptree& node) {
    for (const auto& child : node) {
        if (!child.first.empty()) {
            return false;
        }
    }
    return node.data().empty();
}

ClientRequest invalid(const std::string& op, const std::string& why) {
    ClientRequest r;
    r.kind = ClientRequest::Kind::Invalid;
    r.op = op;
    r.error = why;
    return r;
}

} // namespace

std::string serverInfoMessage(const std::string& name, const std::string& sessionId) {
    return R"({"op":"serverInfo","name":)" + jsonString(name) +
           R"(,"capabilities":[],"supportedEncodings":[],"metadata":{},"sessionId":)" +
           jsonString(sessionId) + "}";
}

std::string advertiseMessage(const std::vector<Channel>& channels) {
    std::string out = R"({"op":"advertise","channels":[)";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const Channel& c = channels[i];
        out += (i == 0 ? "" : ",");
        out += R"({"id":)" + std::to_string(c.id) + R"(,"topic":)" + jsonString(c.topic) +
               R"(,"encoding":)" + jsonString(c.encoding) + R"(,"schemaName":)" +
               jsonString(c.schemaName) + R"(,"schema":)" + jsonString(c.schema) +
               R"(,"schemaEncoding":)" + jsonString(c.schemaEncoding) + "}";
    }
    return out + "]}";
}

std::string statusMessage(StatusLevel level, const std::string& message) {
    return R"({"op":"status","level":)" + std::to_string(static_cast<int>(level)) +
           R"(,"message":)" + jsonString(message) + "}";
}

std::string messageDataHeader(std::uint32_t subscriptionId, std::uint64_t receiveTimeNanos) {
    // Every machine this builds for is little-endian, as the protocol is.
    std::string out(kMessageDataHeaderSize, '\0');
    out[0] = 1;
    std::memcpy(&out[1], &subscriptionId, sizeof subscriptionId);
    std::memcpy(&out[5], &receiveTimeNanos, sizeof receiveTimeNanos);
    return out;
}

bool offersSubprotocol(const std::string& headerValue) {
    std::size_t start = 0;
    while (start <= headerValue.size()) {
        const std::size_t comma = std::min(headerValue.find(',', start), headerValue.size());
        std::size_t b = start;
        std::size_t e = comma;
        while (b < e && (headerValue[b] == ' ' || headerValue[b] == '\t')) {
            ++b;
        }
        while (e > b && (headerValue[e - 1] == ' ' || headerValue[e - 1] == '\t')) {
            --e;
        }
        if (headerValue.compare(b, e - b, kSubprotocol) == 0) {
            return true;
        }
        start = comma + 1;
    }
    return false;
}

ClientRequest parseClientMessage(const std::string& text) {
    ptree root;
    try {
        std::istringstream in(text);
        boost::property_tree::read_json(in, root);
    } catch (const boost::property_tree::json_parser_error& e) {
        return invalid("",
                       "malformed JSON: " + e.message() + " at line " + std::to_string(e.line()));
    }
    const auto op = root.get_child_optional("op");
    if (!op || !op->empty() || op->data().empty()) {
        return invalid("", "a request needs an \"op\"");
    }
    const std::string name = op->data();
    if (name == "subscribe") {
        const auto list = root.get_child_optional("subscriptions");
        if (!list || !isArray(*list)) {
            return invalid(name, "subscribe needs a \"subscriptions\" array");
        }
        ClientRequest r;
        r.kind = ClientRequest::Kind::Subscribe;
        r.op = name;
        for (const auto& entry : *list) {
            const auto id = entry.second.get_child_optional("id");
            const auto channel = entry.second.get_child_optional("channelId");
            const auto idValue = id ? unsignedValue(*id) : std::nullopt;
            const auto channelValue = channel ? unsignedValue(*channel) : std::nullopt;
            if (!idValue || !channelValue) {
                return invalid(name, "a subscription needs an \"id\" and a \"channelId\", "
                                     "both unsigned 32-bit numbers");
            }
            r.subscriptions.push_back({*idValue, *channelValue});
        }
        return r;
    }
    if (name == "unsubscribe") {
        const auto list = root.get_child_optional("subscriptionIds");
        if (!list || !isArray(*list)) {
            return invalid(name, "unsubscribe needs a \"subscriptionIds\" array");
        }
        ClientRequest r;
        r.kind = ClientRequest::Kind::Unsubscribe;
        r.op = name;
        for (const auto& entry : *list) {
            const auto id = unsignedValue(entry.second);
            if (!id) {
                return invalid(name, "subscription ids are unsigned 32-bit numbers");
            }
            r.subscriptionIds.push_back(*id);
        }
        return r;
    }
    ClientRequest r;
    r.kind = ClientRequest::Kind::Unsupported;
    r.op = name;
    return r;
}

} // namespace foxglove
} // namespace sentova
