#include "SentovaPcap/Frames.h"
#include "ByteString.h"
#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

using namespace sentova::pcap;
using pcaptest::datagram;
using testing_support::Bytes;

namespace {

const unsigned char* bytesOf(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

ParsedFrame parse(LinkType type, const std::string& frame, std::size_t original = 0) {
    return parseFrame(type, bytesOf(frame), frame.size(), original ? original : frame.size());
}

// The UDP checksum over the pseudo-header, recomputed the long way: it must be 0
// for a correct packet.
std::uint16_t udpChecksumResidue(const std::string& ip) {
    std::string pseudo = ip.substr(12, 8);
    pseudo += Bytes({0, 17});
    pseudo += ip.substr(kIpv4HeaderSize + 4, 2); // UDP length
    pseudo += ip.substr(kIpv4HeaderSize);
    return internetChecksum(bytesOf(pseudo), pseudo.size());
}

} // namespace

TEST(Frames, ChecksumOfAKnownHeader) {
    // A textbook IPv4 header whose checksum field holds b861.
    const std::string header = Bytes({0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                                      0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7});
    EXPECT_EQ(internetChecksum(bytesOf(header), header.size()), 0xb861);
    // An odd length counts the last byte as a high byte.
    EXPECT_EQ(internetChecksum(bytesOf(Bytes({0x01})), 1), 0xfeff);
}

TEST(Frames, SynthesisedHeadersCarryTheDatagramWithValidChecksums) {
    for (const std::string& payload :
         {std::string(), std::string("SVHOME"), std::string("EBRBEP") + std::string(881, '\0')}) {
        const Datagram d = datagram(payload, 0, 4365, 51234);
        const std::string ip = encodeIpv4Udp(d, 0x1234);
        ASSERT_EQ(ip.size(), kIpv4HeaderSize + kUdpHeaderSize + payload.size());
        EXPECT_EQ(ip[0], 0x45);
        EXPECT_EQ((unsigned char)ip[2] << 8 | (unsigned char)ip[3], int(ip.size()));
        EXPECT_EQ(ip.substr(4, 2), Bytes({0x12, 0x34}));
        EXPECT_EQ(ip[9], 17);
        EXPECT_EQ(ip.substr(12, 8), Bytes({127, 0, 0, 2, 127, 0, 0, 1}));
        EXPECT_EQ(internetChecksum(bytesOf(ip), kIpv4HeaderSize), 0) << "IP header checksum";
        EXPECT_EQ(ip.substr(20, 4), Bytes({0x11, 0x0d, 0xc8, 0x22}));
        EXPECT_EQ(udpChecksumResidue(ip), 0) << "UDP checksum";
        EXPECT_EQ(ip.substr(kIpv4HeaderSize + kUdpHeaderSize), payload);
    }
}

TEST(Frames, EveryLinkTypeRoundTrips) {
    Datagram d = datagram(std::string("ER\0\0GEAA", 8) + Bytes({0x40, 0, 0, 0}), 0, 4365, 40000);
    for (LinkType type : {LinkType::Raw, LinkType::Ipv4, LinkType::Ethernet, LinkType::LinuxCooked,
                          LinkType::LinuxCooked2}) {
        const std::string frame = linkHeader(type) + encodeIpv4Udp(d);
        const ParsedFrame parsed = parse(type, frame);
        ASSERT_EQ(parsed.problem, FrameProblem::None)
            << linkTypeName(type) << ": " << parsed.detail;
        EXPECT_EQ(parsed.datagram.bytes, d.bytes);
        EXPECT_EQ(parsed.datagram.sourceAddress, d.sourceAddress);
        EXPECT_EQ(parsed.datagram.destinationAddress, d.destinationAddress);
        EXPECT_EQ(parsed.datagram.sourcePort, 4365);
        EXPECT_EQ(parsed.datagram.destinationPort, 40000);
        LinkType back;
        ASSERT_TRUE(linkTypeFromDatalink(datalinkOf(type), back));
        EXPECT_EQ(back, type);
    }
    EXPECT_EQ(linkHeader(LinkType::Ethernet).size(), 14u);
    EXPECT_EQ(linkHeader(LinkType::LinuxCooked).size(), 16u);
    EXPECT_EQ(linkHeader(LinkType::LinuxCooked2).size(), 20u);
}

TEST(Frames, EthernetPaddingAndVlanTags) {
    const Datagram d = datagram("ab");
    // Short frames are padded to the Ethernet minimum; the IP length tells the truth.
    std::string padded =
        linkHeader(LinkType::Ethernet) + encodeIpv4Udp(d) + std::string(16, '\x55');
    ParsedFrame parsed = parse(LinkType::Ethernet, padded);
    ASSERT_EQ(parsed.problem, FrameProblem::None);
    EXPECT_EQ(parsed.datagram.bytes, "ab");

    std::string tagged =
        std::string(12, '\0') + Bytes({0x81, 0x00, 0x00, 0x05, 0x08, 0x00}) + encodeIpv4Udp(d);
    parsed = parse(LinkType::Ethernet, tagged);
    ASSERT_EQ(parsed.problem, FrameProblem::None) << parsed.detail;
    EXPECT_EQ(parsed.datagram.bytes, "ab");
}

TEST(Frames, PacketsThatAreNotIpv4UdpDatagramsAreRefusedWithTheReason) {
    const std::string ip = encodeIpv4Udp(datagram("payload"));
    const std::string ether = std::string(12, '\0');
    struct Case {
        const char* name;
        LinkType type;
        std::string frame;
        std::size_t original;
        FrameProblem problem;
        const char* detail;
    };
    std::string tcp = ip;
    tcp[9] = 6;
    std::string moreFragments = ip;
    moreFragments[6] = 0x20;
    std::string laterFragment = ip;
    laterFragment[6] = 0x00;
    laterFragment[7] = 0xb9; // offset 185 * 8
    std::string badLength = ip;
    badLength[0] = 0x44;
    std::string udpTooLong = ip;
    udpTooLong[kIpv4HeaderSize + 5] = char(0xff);
    std::string ipv6(40, '\0');
    ipv6[0] = 0x60;
    const Case cases[] = {
        {"empty raw", LinkType::Raw, "", 0, FrameProblem::TooShort, "0 bytes"},
        {"half an IP header", LinkType::Raw, ip.substr(0, 12), 0, FrameProblem::TooShort,
         "needs 20"},
        {"IP total beyond the frame", LinkType::Raw, ip.substr(0, 30), 0, FrameProblem::TooShort,
         "needs 35"},
        {"cut by the snap length", LinkType::Raw, ip.substr(0, 30), ip.size(),
         FrameProblem::CutByCapture, "kept 30 of 35"},
        {"short Ethernet", LinkType::Ethernet, ether, 0, FrameProblem::TooShort, "Ethernet"},
        {"short cooked", LinkType::LinuxCooked, std::string(15, '\0'), 0, FrameProblem::TooShort,
         "cooked"},
        {"short cooked v2", LinkType::LinuxCooked2, std::string(19, '\0'), 0,
         FrameProblem::TooShort, "cooked v2"},
        {"IPv6 raw", LinkType::Raw, ipv6, 0, FrameProblem::NotIpv4, "IPv6"},
        {"IPv6 on Ethernet", LinkType::Ethernet, ether + Bytes({0x86, 0xdd}) + ipv6, 0,
         FrameProblem::NotIpv4, "0x86dd"},
        {"ARP", LinkType::Ethernet, ether + Bytes({0x08, 0x06}) + std::string(28, '\0'), 0,
         FrameProblem::NotIpv4, "ARP"},
        {"TCP", LinkType::Raw, tcp, 0, FrameProblem::NotUdp, "TCP (IP protocol 6)"},
        {"first fragment", LinkType::Raw, moreFragments, 0, FrameProblem::Fragment, "more follow"},
        {"later fragment", LinkType::Raw, laterFragment, 0, FrameProblem::Fragment, "offset 1480"},
        {"header length 16", LinkType::Raw, badLength, 0, FrameProblem::BadHeader, "16"},
        {"UDP length beyond IP", LinkType::Raw, udpTooLong, 0, FrameProblem::BadHeader,
         "UDP length"},
    };
    for (const Case& c : cases) {
        const ParsedFrame parsed = parse(c.type, c.frame, c.original);
        EXPECT_EQ(parsed.problem, c.problem) << c.name << ": " << parsed.detail;
        EXPECT_NE(parsed.detail.find(c.detail), std::string::npos)
            << c.name << ": \"" << parsed.detail << "\"";
    }
}

TEST(Frames, OversizedPayloadIsCutToTheLargestUdpDatagram) {
    const std::string ip = encodeIpv4Udp(datagram(std::string(70000, 'x')));
    EXPECT_EQ(ip.size(), 65535u);
    const ParsedFrame parsed = parse(LinkType::Raw, ip);
    ASSERT_EQ(parsed.problem, FrameProblem::None);
    EXPECT_EQ(parsed.datagram.bytes.size(), kMaximumUdpPayload);
}

TEST(Frames, AddressText) {
    EXPECT_EQ(addressText(0x7f000001), "127.0.0.1");
    EXPECT_EQ(addressText(0xc0a80afe), "192.168.10.254");
}
