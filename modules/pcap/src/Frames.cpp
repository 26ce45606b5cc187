#include "SentovaPcap/Frames.h"

#include <pcap/dlt.h>

#include <algorithm>
#include <cstdio>

namespace sentova {
namespace pcap {

namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86dd;
constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kEtherTypeQinQ = 0x88a8;
constexpr std::size_t kEthernetHeaderSize = 14;
constexpr std::size_t kVlanTagSize = 4;
constexpr std::size_t kCookedHeaderSize = 16;
constexpr std::size_t kCooked2HeaderSize = 20;
constexpr std::uint16_t kArphrdLoopback = 772;
constexpr unsigned char kProtocolUdp = 17;

std::uint16_t read16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t read32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

void put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v >> 16));
    put16(out, static_cast<std::uint16_t>(v));
}

void set16(std::string& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<char>(v >> 8);
    out[at + 1] = static_cast<char>(v);
}

std::string hex16(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

// The link types read and written: their libpcap values and names.
struct LinkTypeInfo {
    LinkType type;
    int datalink;
    const char* name;
};
constexpr LinkTypeInfo kLinkTypes[] = {
    {LinkType::Ethernet, DLT_EN10MB, "Ethernet"},
    {LinkType::Raw, DLT_RAW, "raw IP"},
    {LinkType::LinuxCooked, DLT_LINUX_SLL, "Linux cooked v1"},
    {LinkType::Ipv4, DLT_IPV4, "raw IPv4"},
    {LinkType::LinuxCooked2, DLT_LINUX_SLL2, "Linux cooked v2"},
};

ParsedFrame refuse(FrameProblem problem, std::string detail) {
    ParsedFrame frame;
    frame.problem = problem;
    frame.detail = std::move(detail);
    return frame;
}

// A frame that ends before `needed` bytes: cut by the capture's length limit
// when the packet on the wire was long enough, otherwise really short.
ParsedFrame shortFrame(std::size_t needed, std::size_t captured, std::size_t original,
                       const char* what) {
    if (original > captured && original >= needed)
        return refuse(FrameProblem::CutByCapture, "the capture kept " + std::to_string(captured) +
                                                      " of " + std::to_string(original) + " bytes");
    return refuse(FrameProblem::TooShort, std::to_string(captured) + " bytes, " + what + " needs " +
                                              std::to_string(needed));
}

const char* etherTypeName(std::uint16_t type) {
    switch (type) {
    case kEtherTypeIpv6:
        return "IPv6";
    case kEtherTypeArp:
        return "ARP";
    default:
        return "another protocol";
    }
}

ParsedFrame parseIpv4(const unsigned char* data, std::size_t captured, std::size_t original,
                      std::size_t offset) {
    if (captured < offset + kIpv4HeaderSize)
        return shortFrame(offset + kIpv4HeaderSize, captured, original, "an IPv4 header");
    const unsigned char* ip = data + offset;
    const unsigned version = ip[0] >> 4;
    if (version == 6)
        return refuse(FrameProblem::NotIpv4, "IPv6");
    if (version != 4)
        return refuse(FrameProblem::NotIpv4, "IP version " + std::to_string(version));
    const std::size_t headerLength = std::size_t(ip[0] & 0x0f) * 4;
    const std::size_t totalLength = read16(ip + 2);
    if (headerLength < kIpv4HeaderSize)
        return refuse(FrameProblem::BadHeader,
                      "IPv4 header length " + std::to_string(headerLength) + " below 20");
    if (totalLength < headerLength)
        return refuse(FrameProblem::BadHeader, "IPv4 total length " + std::to_string(totalLength) +
                                                   " below its header length");
    const std::uint16_t fragment = read16(ip + 6);
    const bool moreFragments = (fragment & 0x2000) != 0;
    const std::size_t fragmentOffset = std::size_t(fragment & 0x1fff) * 8;
    if (moreFragments || fragmentOffset != 0)
        return refuse(FrameProblem::Fragment, "fragment at offset " +
                                                  std::to_string(fragmentOffset) +
                                                  (moreFragments ? ", more follow" : ", the last"));
    if (ip[9] != kProtocolUdp) {
        const unsigned protocol = ip[9];
        const char* name = protocol == 6 ? "TCP " : protocol == 1 ? "ICMP " : "";
        return refuse(FrameProblem::NotUdp,
                      std::string(name) + "(IP protocol " + std::to_string(protocol) + ")");
    }
    if (totalLength < headerLength + kUdpHeaderSize)
        return refuse(FrameProblem::TooShort, "IPv4 total length " + std::to_string(totalLength) +
                                                  " leaves no room for a UDP header");
    if (captured < offset + totalLength)
        return shortFrame(offset + totalLength, captured, original, "its IPv4 total length");
    const unsigned char* udp = ip + headerLength;
    const std::size_t udpLength = read16(udp + 4);
    if (udpLength < kUdpHeaderSize || udpLength > totalLength - headerLength)
        return refuse(FrameProblem::BadHeader,
                      "UDP length " + std::to_string(udpLength) + " does not fit its IPv4 packet");
    ParsedFrame frame;
    frame.datagram.sourceAddress = read32(ip + 12);
    frame.datagram.destinationAddress = read32(ip + 16);
    frame.datagram.sourcePort = read16(udp);
    frame.datagram.destinationPort = read16(udp + 2);
    frame.datagram.bytes.assign(reinterpret_cast<const char*>(udp + kUdpHeaderSize),
                                udpLength - kUdpHeaderSize);
    return frame;
}

ParsedFrame parseByEtherType(std::uint16_t etherType, const unsigned char* data,
                             std::size_t captured, std::size_t original, std::size_t offset) {
    if (etherType != kEtherTypeIpv4)
        return refuse(FrameProblem::NotIpv4, std::string(etherTypeName(etherType)) +
                                                 " (EtherType " + hex16(etherType) + ")");
    return parseIpv4(data, captured, original, offset);
}

} // namespace

bool linkTypeFromDatalink(int datalink, LinkType& type) {
    for (const LinkTypeInfo& info : kLinkTypes)
        if (info.datalink == datalink) {
            type = info.type;
            return true;
        }
    return false;
}

int datalinkOf(LinkType type) {
    for (const LinkTypeInfo& info : kLinkTypes)
        if (info.type == type)
            return info.datalink;
    return DLT_RAW;
}

const char* linkTypeName(LinkType type) {
    for (const LinkTypeInfo& info : kLinkTypes)
        if (info.type == type)
            return info.name;
    return "unknown";
}

std::uint16_t internetChecksum(const unsigned char* data, std::size_t length,
                               std::uint32_t initialSum) {
    std::uint64_t sum = initialSum;
    std::size_t i = 0;
    for (; i + 1 < length; i += 2)
        sum += read16(data + i);
    if (i < length)
        sum += std::uint32_t(data[i]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void appendIpv4Udp(std::string& out, std::uint32_t sourceAddress, std::uint16_t sourcePort,
                   std::uint32_t destinationAddress, std::uint16_t destinationPort,
                   const char* payload, std::size_t size, std::uint16_t identification) {
    size = std::min(size, kMaximumUdpPayload);
    const auto udpLength = static_cast<std::uint16_t>(kUdpHeaderSize + size);
    const auto totalLength = static_cast<std::uint16_t>(kIpv4HeaderSize + udpLength);
    const std::size_t ip = out.size();
    out.reserve(ip + totalLength);
    out.push_back(0x45); // version 4, five 32-bit words of header
    out.push_back(0);
    put16(out, totalLength);
    put16(out, identification);
    put16(out, 0x4000); // don't fragment, offset 0
    out.push_back(64);  // time to live
    out.push_back(static_cast<char>(kProtocolUdp));
    put16(out, 0); // header checksum, below
    put32(out, sourceAddress);
    put32(out, destinationAddress);
    set16(
        out, ip + 10,
        internetChecksum(reinterpret_cast<const unsigned char*>(out.data()) + ip, kIpv4HeaderSize));

    const std::size_t udp = ip + kIpv4HeaderSize;
    put16(out, sourcePort);
    put16(out, destinationPort);
    put16(out, udpLength);
    put16(out, 0); // checksum, below
    out.append(payload, size);

    // The UDP checksum covers a pseudo-header of both addresses, the protocol
    // and the UDP length; a computed 0 is sent as all ones (0 means "none").
    const std::uint32_t pseudo = (sourceAddress >> 16) + (sourceAddress & 0xffff) +
                                 (destinationAddress >> 16) + (destinationAddress & 0xffff) +
                                 kProtocolUdp + udpLength;
    std::uint16_t checksum = internetChecksum(
        reinterpret_cast<const unsigned char*>(out.data()) + udp, udpLength, pseudo);
    if (checksum == 0)
        checksum = 0xffff;
    set16(out, udp + 6, checksum);
}

std::string encodeIpv4Udp(const Datagram& datagram, std::uint16_t identification) {
    std::string out;
    appendIpv4Udp(out, datagram.sourceAddress, datagram.sourcePort, datagram.destinationAddress,
                  datagram.destinationPort, datagram.bytes.data(), datagram.bytes.size(),
                  identification);
    return out;
}

std::string linkHeader(LinkType type) {
    std::string out;
    switch (type) {
    case LinkType::Raw:
    case LinkType::Ipv4:
        break;
    case LinkType::Ethernet:
        out.assign(12, '\0');
        put16(out, kEtherTypeIpv4);
        break;
    case LinkType::LinuxCooked:
        put16(out, 4); // sent by this host
        put16(out, kArphrdLoopback);
        put16(out, 6); // address length
        out.append(8, '\0');
        put16(out, kEtherTypeIpv4);
        break;
    case LinkType::LinuxCooked2:
        put16(out, kEtherTypeIpv4);
        put16(out, 0); // reserved
        put32(out, 1); // interface index
        put16(out, kArphrdLoopback);
        out.push_back(4); // sent by this host
        out.push_back(6); // address length
        out.append(8, '\0');
        break;
    }
    return out;
}

const char* problemText(FrameProblem problem) {
    switch (problem) {
    case FrameProblem::None:
        return "accepted";
    case FrameProblem::TooShort:
        return "shorter than its headers";
    case FrameProblem::CutByCapture:
        return "cut short by the capture";
    case FrameProblem::NotIpv4:
        return "not IPv4";
    case FrameProblem::BadHeader:
        return "damaged IPv4 or UDP header";
    case FrameProblem::Fragment:
        return "fragmented";
    case FrameProblem::NotUdp:
        return "not UDP";
    }
    return "unknown";
}

ParsedFrame parseFrame(LinkType type, const unsigned char* data, std::size_t capturedLength,
                       std::size_t originalLength) {
    const std::size_t n = capturedLength;
    switch (type) {
    case LinkType::Raw:
    case LinkType::Ipv4:
        if (n < 1)
            return shortFrame(1, n, originalLength, "an IP header");
        return parseIpv4(data, n, originalLength, 0);
    case LinkType::Ethernet: {
        if (n < kEthernetHeaderSize)
            return shortFrame(kEthernetHeaderSize, n, originalLength, "an Ethernet header");
        std::size_t offset = kEthernetHeaderSize;
        std::uint16_t etherType = read16(data + 12);
        // 802.1Q / 802.1ad tags: each inserts four bytes before the real type.
        for (int tags = 0; (etherType == kEtherTypeVlan || etherType == kEtherTypeQinQ) && tags < 2;
             ++tags) {
            if (n < offset + kVlanTagSize)
                return shortFrame(offset + kVlanTagSize, n, originalLength, "its VLAN tag");
            etherType = read16(data + offset + 2);
            offset += kVlanTagSize;
        }
        return parseByEtherType(etherType, data, n, originalLength, offset);
    }
    case LinkType::LinuxCooked:
        if (n < kCookedHeaderSize)
            return shortFrame(kCookedHeaderSize, n, originalLength, "a Linux cooked header");
        return parseByEtherType(read16(data + 14), data, n, originalLength, kCookedHeaderSize);
    case LinkType::LinuxCooked2:
        if (n < kCooked2HeaderSize)
            return shortFrame(kCooked2HeaderSize, n, originalLength, "a Linux cooked v2 header");
        return parseByEtherType(read16(data), data, n, originalLength, kCooked2HeaderSize);
    }
    return refuse(FrameProblem::NotIpv4, "unknown link type");
}

std::string addressText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
           std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

} // namespace pcap
} // namespace sentova
