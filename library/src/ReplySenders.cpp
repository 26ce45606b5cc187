#include "ReplySenders.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace tavrel {

bool IsBroadcastAddress(std::uint32_t address, const std::vector<interface_address_t>& interfaces) {
    if (address == 0xFFFFFFFFu)
        return true;
    for (const interface_address_t& i : interfaces) {
        const std::uint32_t hostBits = ~i.netmask;
        // A /31 or /32 network has no broadcast address.
        if (hostBits <= 1u)
            continue;
        if (address == (i.address | hostBits))
            return true;
    }
    return false;
}

std::vector<interface_address_t> LocalInterfaceAddresses() {
    std::vector<interface_address_t> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr ||
            i->ifa_addr->sa_family != AF_INET)
            continue;
        interface_address_t a;
        a.address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        a.netmask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
        found.push_back(a);
    }
    ::freeifaddrs(list);
    return found;
}

bool AcceptsAnySender(std::uint32_t device) {
    return device == 0 || IsBroadcastAddress(device, LocalInterfaceAddresses());
}

} // namespace tavrel
