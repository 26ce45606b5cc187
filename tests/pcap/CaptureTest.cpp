#include "SentovaPcap/Capture.h"
#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace sentova::pcap;
using pcaptest::datagram;
using pcaptest::PcapBytes;
using pcaptest::PcapngBytes;
using pcaptest::rawFrame;
using pcaptest::TempFile;

namespace {

std::string errorOf(const std::string& path) {
    try {
        Reader reader(path);
    } catch (const CaptureError& e) {
        return e.what();
    }
    return "";
}

std::vector<Datagram> sample() {
    return {datagram("SVHOME", 1700000000123456, 40000, 4365),
            datagram(std::string("EAHOME"), 1700000000223456, 4365, 40000),
            datagram("EBRBEP" + std::string(22 * 40, '\x01'), 1700000001000001),
            datagram(std::string(), 1700000002000000)};
}

} // namespace

TEST(Capture, WrittenFilesReadBackWithTimesAddressesAndBytes) {
    for (LinkType type : {LinkType::Raw, LinkType::Ethernet, LinkType::LinuxCooked2}) {
        TempFile file("round.pcap");
        const std::vector<Datagram> written = sample();
        {
            Writer writer(file.path(), type);
            for (const Datagram& d : written)
                writer.write(d);
            writer.close();
            EXPECT_EQ(writer.packetsWritten(), written.size());
            EXPECT_EQ(writer.bytesWritten(), file.read().size());
        }
        Reader reader(file.path());
        EXPECT_EQ(reader.linkType(), type);
        std::vector<Datagram> read;
        Datagram d;
        while (reader.next(d))
            read.push_back(d);
        EXPECT_TRUE(reader.damage().empty()) << reader.damage();
        EXPECT_EQ(reader.report(), "");
        ASSERT_EQ(read.size(), written.size()) << linkTypeName(type);
        for (std::size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i].timeMicros, written[i].timeMicros);
            EXPECT_EQ(read[i].sourceAddress, written[i].sourceAddress);
            EXPECT_EQ(read[i].sourcePort, written[i].sourcePort);
            EXPECT_EQ(read[i].destinationAddress, written[i].destinationAddress);
            EXPECT_EQ(read[i].destinationPort, written[i].destinationPort);
            EXPECT_EQ(read[i].bytes, written[i].bytes);
        }
    }
}

TEST(Capture, TruncatedFileKeepsThePacketsBeforeTheDamage) {
    TempFile file("cut.pcap");
    PcapBytes bytes;
    for (const Datagram& d : sample())
        bytes.frame(rawFrame(d), d.timeMicros);
    // The third record loses its last bytes, as when a recording is cut off mid-write.
    const std::size_t cut = bytes.bytes().size() - 16 - rawFrame(sample()[3]).size() - 100;
    file.write(bytes.bytes().substr(0, cut));

    std::string report;
    const std::vector<Datagram> read = readDatagrams(file.path(), &report);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].bytes, "EAHOME");
    EXPECT_EQ(report.rfind(file.path() + ": damaged after 2 packets: ", 0), 0u) << report;
    EXPECT_NE(report.find("truncated"), std::string::npos) << report;
}

TEST(Capture, PacketsThatAreNotDatagramsArePassedOverAndReported) {
    TempFile file("mixed.pcap");
    std::string tcp = rawFrame(datagram("x"));
    tcp[9] = 6;
    std::string fragment = rawFrame(datagram("y"));
    fragment[6] = 0x20;
    PcapBytes bytes;
    bytes.frame(rawFrame(datagram("one")))
        .frame(tcp)
        .frame(rawFrame(datagram("two")))
        .frame(tcp)
        .frame(fragment)
        .frame(rawFrame(datagram("three")).substr(0, 10));
    file.write(bytes.bytes());

    Reader reader(file.path());
    Datagram d;
    std::vector<std::string> payloads;
    while (reader.next(d))
        payloads.push_back(d.bytes);
    EXPECT_EQ(payloads, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(reader.packetsRead(), 6u);
    EXPECT_EQ(reader.skipped().total(), 4u);
    EXPECT_EQ(reader.report(), file.path() +
                                   ": passed over 4 packets that are not IPv4 UDP datagrams: 1 "
                                   "shorter than its headers (first: packet 6, 10 bytes, an IPv4 "
                                   "header needs 20), 1 fragmented (first: packet 5, fragment at "
                                   "offset 0, more follow), 2 not UDP (first: packet 2, TCP (IP "
                                   "protocol 6))");
}

TEST(Capture, FilesThatAreNotReadableCapturesAreRefusedNamingTheFile) {
    TempFile other("wifi.pcap");
    other.write(PcapBytes(105).frame(std::string(30, '\0')).bytes());
    EXPECT_EQ(errorOf(other.path()),
              other.path() + ": link type 105 (IEEE802_11, 802.11) is not read here; captures "
                             "must be Ethernet, raw IP or Linux cooked (v1 or v2)");

    TempFile text("notes.pcap");
    text.write("these are not packets\n");
    std::string error = errorOf(text.path());
    EXPECT_EQ(error.rfind(text.path() + ": not a readable pcap or pcapng file (", 0), 0u) << error;

    TempFile empty("empty.pcap");
    empty.write("");
    error = errorOf(empty.path());
    EXPECT_EQ(error.rfind(empty.path() + ": not a readable pcap or pcapng file (", 0), 0u) << error;

    error = errorOf("/nonexistent/x.pcap");
    EXPECT_EQ(error, "/nonexistent/x.pcap: cannot open: No such file or directory");
    EXPECT_EQ(errorOf("/tmp"), "/tmp: is a folder, not a capture file");
}

TEST(Capture, PcapngFilesAreRead) {
    TempFile file("capture.pcapng");
    const std::vector<Datagram> written = sample();
    PcapngBytes bytes;
    for (const Datagram& d : written)
        bytes.packet(rawFrame(d), d.timeMicros);
    file.write(bytes.bytes());
    const std::vector<Datagram> read = readDatagrams(file.path());
    ASSERT_EQ(read.size(), written.size());
    EXPECT_EQ(read[2].bytes, written[2].bytes);
    EXPECT_EQ(read[2].timeMicros, written[2].timeMicros);
}

TEST(Capture, WriteErrorsAreReportedNotSwallowed) {
    try {
        Writer writer("/nonexistent/folder/x.pcap");
        FAIL() << "created a file in a missing folder";
    } catch (const CaptureError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "/nonexistent/folder/x.pcap: cannot create: No such file or directory");
    }

    // /dev/full refuses every write with "no space", like a full disk.
    Writer writer("/dev/full");
    const Datagram d = datagram(std::string(1000, 'x'));
    try {
        for (int i = 0; i < 2000; ++i)
            writer.write(d);
        writer.flush();
        FAIL() << "a full disk went unnoticed";
    } catch (const CaptureError& e) {
        EXPECT_EQ(std::string(e.what()), "/dev/full: cannot write: No space left on device");
    }
    EXPECT_THROW(writer.write(d), CaptureError);
    EXPECT_NO_THROW(writer.close());
}

TEST(Capture, StreamsAreReadLikeFiles) {
    PcapBytes bytes;
    bytes.frame(rawFrame(datagram("memory")), 5);
    std::string copy = bytes.bytes();
    std::FILE* stream = fmemopen(&copy[0], copy.size(), "rb");
    ASSERT_NE(stream, nullptr);
    Reader reader(stream, "in memory");
    Datagram d;
    ASSERT_TRUE(reader.next(d));
    EXPECT_EQ(d.bytes, "memory");
    EXPECT_EQ(d.timeMicros, 5u);
    EXPECT_FALSE(reader.next(d));
    EXPECT_EQ(reader.position(), copy.size());
}
