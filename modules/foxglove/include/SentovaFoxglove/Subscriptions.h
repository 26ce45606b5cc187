// One client's subscriptions: the requests it sent applied against the channels advertised,
// each refusal a text for a status message. Pure state; used by one thread.
#pragma once

#include "SentovaFoxglove/Protocol.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sentova {
namespace foxglove {

class Subscriptions {
public:
    // Applies a subscribe or unsubscribe request; returns what was refused (an unknown channel,
    // a subscription id in use or not known), one text per entry. Other requests change
    // nothing and give their own text.
    std::vector<std::string> apply(const ClientRequest& request,
                                   const std::vector<Channel>& channels);

    // The subscription ids on the channel, in increasing order.
    std::vector<std::uint32_t> of(std::uint32_t channelId) const;
    bool empty() const { return m_channelOf.empty(); }

private:
    std::map<std::uint32_t, std::uint32_t> m_channelOf; // subscription id: channel id
};

} // namespace foxglove
} // namespace sentova
