// Which senders a command channel takes datagrams from. A channel aimed at one
// device dispatches only what comes from the device's address; one aimed at a
// broadcast address cannot know the device's own address in advance, so it
// takes any sender.
//
// The source port is not checked: it is no harder to forge than the address,
// and what the device is relied on to do fixes only where its replies go, not
// which of its ports sends them (notifications and trigger records included).
// The laser data port judges its senders the same way.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrel {

// An IPv4 address of this host with its netmask, host byte order.
struct interface_address_t {
    std::uint32_t address = 0;
    std::uint32_t netmask = 0;
};

// The limited broadcast address, or the directed broadcast address of one of
// the interfaces' networks (host bits all ones; networks of 31 and 32 bits
// have none). Host byte order.
bool IsBroadcastAddress(std::uint32_t address, const std::vector<interface_address_t>& interfaces);

// The IPv4 addresses of this host's interfaces; empty when they cannot be read.
std::vector<interface_address_t> LocalInterfaceAddresses();

// A channel aimed at device (host byte order) takes datagrams from any sender:
// device is a broadcast address of this host's networks, or the unspecified
// address 0.0.0.0, which names no host (the system delivers to this one).
bool AcceptsAnySender(std::uint32_t device);

} // namespace tavrel
