// Link-layer frames of capture files, as pure functions: building IPv4/UDP
// packets around datagrams for writing, and taking IPv4/UDP datagrams out of
// the frames of the link types this module reads. No state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sentova {
namespace pcap {

// One UDP datagram with when it crossed the wire. Addresses and ports in host
// byte order.
struct Datagram {
    std::uint64_t timeMicros = 0; // microseconds since the Unix epoch
    std::uint32_t sourceAddress = 0;
    std::uint16_t sourcePort = 0;
    std::uint32_t destinationAddress = 0;
    std::uint16_t destinationPort = 0;
    std::string bytes; // the UDP payload
};

// The link types read and written, by their values in capture files.
enum class LinkType : std::uint32_t {
    Ethernet = 1,       // Ethernet II, optionally with 802.1Q tags
    Raw = 101,          // raw IP, no link header
    LinuxCooked = 113,  // Linux "cooked" capture, version 1 (16-byte header)
    Ipv4 = 228,         // raw IPv4
    LinuxCooked2 = 276, // Linux "cooked" capture, version 2 (20-byte header)
};

// The link type for a link-layer value as libpcap reports it (pcap_datalink),
// false when this module cannot read it.
bool linkTypeFromDatalink(int datalink, LinkType& type);
// The libpcap link-layer value for writing the type.
int datalinkOf(LinkType type);
// "Ethernet", "raw IP", "Linux cooked v1", ...
const char* linkTypeName(LinkType type);

constexpr std::size_t kIpv4HeaderSize = 20;
constexpr std::size_t kUdpHeaderSize = 8;
// The largest payload an IPv4 UDP datagram carries.
constexpr std::size_t kMaximumUdpPayload = 65535 - kIpv4HeaderSize - kUdpHeaderSize;

// The Internet checksum (ones' complement of the ones' complement sum of the
// 16-bit words) of the bytes; an odd last byte counts as its word's high byte.
std::uint16_t internetChecksum(const unsigned char* data, std::size_t length,
                               std::uint32_t initialSum = 0);

// An IPv4 packet carrying the datagram in UDP: a 20-byte IP header without
// options (time to live 64, "don't fragment", the given identification, header
// checksum filled in), the UDP header with its checksum, then the payload.
// Payloads above kMaximumUdpPayload are cut to it.
std::string encodeIpv4Udp(const Datagram& datagram, std::uint16_t identification = 0);
// The same packet appended to out, from the datagram's parts.
void appendIpv4Udp(std::string& out, std::uint32_t sourceAddress, std::uint16_t sourcePort,
                   std::uint32_t destinationAddress, std::uint16_t destinationPort,
                   const char* payload, std::size_t size, std::uint16_t identification = 0);

// The link header placed before an IPv4 packet in a frame of the type: nothing
// for the raw types, an Ethernet II header with zero addresses, or a Linux
// cooked header describing a packet sent by this host on a loopback device.
std::string linkHeader(LinkType type);

enum class FrameProblem {
    None,
    TooShort,     // shorter than its link, IP or UDP header says it must be
    CutByCapture, // the capture kept fewer bytes than the packet had
    NotIpv4,      // another network protocol (IPv6, ARP, ...)
    BadHeader,    // an IPv4 or UDP header that cannot be right
    Fragment,     // a fragment of a larger IP packet
    NotUdp,       // another transport protocol (TCP, ICMP, ...)
};
// "shorter than its headers", "not IPv4", ... for messages.
const char* problemText(FrameProblem problem);

struct ParsedFrame {
    FrameProblem problem = FrameProblem::None;
    std::string detail; // what exactly, for messages; empty when accepted
    Datagram datagram;  // filled when problem is None; timeMicros left 0
};

// Takes the IPv4 UDP datagram out of one captured frame. capturedLength bytes
// are at data; originalLength is the frame's length on the wire. Never reads
// beyond capturedLength bytes.
ParsedFrame parseFrame(LinkType type, const unsigned char* data, std::size_t capturedLength,
                       std::size_t originalLength);

// Dotted decimal text of a host-order IPv4 address.
std::string addressText(std::uint32_t address);

} // namespace pcap
} // namespace sentova
