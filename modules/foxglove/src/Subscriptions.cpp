#include "SentovaFoxglove/Subscriptions.h"

#include <algorithm>

namespace sentova {
namespace foxglove {

std::vector<std::string> Subscriptions::apply(const ClientRequest& request,
                                              const std::vector<Channel>& channels) {
    std::vector<std::string> refused;
    switch (request.kind) {
    case ClientRequest::Kind::Invalid:
        refused.push_back(request.error);
        break;
    case ClientRequest::Kind::Unsupported:
        refused.push_back("operation \"" + request.op + "\" is not supported by this server");
        break;
    case ClientRequest::Kind::Subscribe:
        for (const Subscription& s : request.subscriptions) {
            const bool known = std::any_of(channels.begin(), channels.end(),
                                           [&](const Channel& c) { return c.id == s.channelId; });
            if (!known) {
                refused.push_back("channel " + std::to_string(s.channelId) + " is not advertised");
            } else if (m_channelOf.count(s.id) != 0) {
                refused.push_back("subscription id " + std::to_string(s.id) + " is in use");
            } else {
                m_channelOf[s.id] = s.channelId;
            }
        }
        break;
    case ClientRequest::Kind::Unsubscribe:
        for (const std::uint32_t id : request.subscriptionIds) {
            if (m_channelOf.erase(id) == 0) {
                refused.push_back("no subscription " + std::to_string(id));
            }
        }
        break;
    }
    return refused;
}

std::vector<std::uint32_t> Subscriptions::of(std::uint32_t channelId) const {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, channel] : m_channelOf) {
        if (channel == channelId) {
            ids.push_back(id);
        }
    }
    return ids;
}

} // namespace foxglove
} // namespace sentova
