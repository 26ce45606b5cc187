#include "SentovaPcap/LaserCapture.h"
#include "ByteString.h"
#include "CaptureTestSupport.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"

#include <gtest/gtest.h>

using namespace sentova::pcap;
using pcaptest::datagram;
using pcaptest::TempFile;
using testing_support::Bytes;

namespace {

std::string laserPacket(int records, bool header = true) {
    std::vector<tavrel::LaserRecord> r(static_cast<std::size_t>(records));
    for (int i = 0; i < records; ++i)
        r[std::size_t(i)].timestamp = std::uint32_t(i + 1);
    return tavrel::encodeLaserPacket(r, header);
}

Datagram from(std::uint32_t address, std::string bytes, std::uint16_t port = 4366) {
    Datagram d = datagram(std::move(bytes), 0, 50000, port);
    d.sourceAddress = address;
    return d;
}

std::string streamStart(std::uint16_t port) {
    return tavrel::CommandSerialiser::SVRRBE({{1, 5}, {0, port}});
}

} // namespace

TEST(LaserCapture, DataPortOfStreamStarts) {
    std::uint16_t port = 0;
    EXPECT_TRUE(streamStartDataPort(streamStart(4366), port));
    EXPECT_EQ(port, 4366);
    // Stored in a command buffer for a frame capture.
    EXPECT_TRUE(streamStartDataPort(std::string("SVECCF") + char(128) + streamStart(5001), port));
    EXPECT_EQ(port, 5001);
    EXPECT_FALSE(streamStartDataPort(tavrel::CommandSerialiser::SVRRBE({{1, 5}}), port));
    EXPECT_FALSE(streamStartDataPort(streamStart(4366).substr(0, 14), port)) << "cut parameter";
    EXPECT_FALSE(streamStartDataPort("SVSRBE", port));
    EXPECT_FALSE(streamStartDataPort("", port));
}

TEST(LaserCapture, WhatCountsAsLaserData) {
    EXPECT_TRUE(isLaserCandidate(from(1, laserPacket(3))));
    EXPECT_TRUE(isLaserCandidate(from(1, laserPacket(3) + "xy")))
        << "trailing bytes after the header";
    EXPECT_TRUE(isLaserCandidate(from(1, laserPacket(2, false))));
    EXPECT_FALSE(isLaserCandidate(from(1, laserPacket(2, false) + "x"))) << "headerless, not whole";
    EXPECT_FALSE(isLaserCandidate(from(1, "EBRBEP"))) << "no record";
    EXPECT_FALSE(isLaserCandidate(from(1, "EBRBEQ" + std::string(22, '\0'))));
    EXPECT_FALSE(isLaserCandidate(from(1, laserPacket(3), 4365))) << "to the command port";
    Datagram fromCommandPort = from(1, laserPacket(3));
    fromCommandPort.sourcePort = 4365;
    EXPECT_TRUE(isLaserCandidate(fromCommandPort));
    fromCommandPort.bytes = "EAHOME";
    EXPECT_FALSE(isLaserCandidate(fromCommandPort)) << "a reply";
    fromCommandPort.bytes = std::string("EBAACK\x03", 7) + std::string(22, '\0');
    EXPECT_FALSE(isLaserCandidate(fromCommandPort)) << "a notification";
}

TEST(LaserCapture, BusiestSourceIsTheDeviceAndStreamStartsNameThePort) {
    LaserSurvey survey;
    for (int i = 0; i < 3; ++i)
        survey.add(from(0x0a000002, laserPacket(40)));
    for (int i = 0; i < 5; ++i)
        survey.add(from(0x0a000003, laserPacket(1), 9999));
    survey.add(from(0x0a000002, "SVHOME", 4365));
    std::vector<LaserSource> sources = survey.sources();
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].address, 0x0a000003u);
    EXPECT_EQ(sources[0].datagrams, 5u);
    EXPECT_EQ(sources[1].points, 120u);

    // Once a stream start names port 4366, only datagrams to it count.
    Datagram start = datagram(streamStart(4366), 0, 40000, 4365);
    survey.add(start);
    sources = survey.sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].address, 0x0a000002u);
    const LaserFilter filter = survey.filter();
    EXPECT_EQ(filter.deviceAddress, 0x0a000002u);
    EXPECT_TRUE(filter.accepts(from(0x0a000002, laserPacket(2))));
    EXPECT_FALSE(filter.accepts(from(0x0a000002, laserPacket(2), 9999)));
    EXPECT_FALSE(filter.accepts(from(0x0a000003, laserPacket(2))));
    EXPECT_FALSE(LaserSurvey().filter().accepts(from(0, laserPacket(2))));
}

TEST(LaserCapture, ReadsTheDeviceDatagramsOfAFile) {
    TempFile file("laser.pcap");
    {
        Writer writer(file.path());
        writer.write(datagram(streamStart(4366), 1, 40000, 4365));
        for (int i = 0; i < 10000; ++i) {
            Datagram d = from(0x7f000002, laserPacket(1 + i % 40));
            d.timeMicros = 100 + std::uint64_t(i);
            writer.write(d);
            if (i % 100 == 0)
                writer.write(from(0x7f000009, laserPacket(2)));
        }
        writer.close();
    }
    std::vector<Datagram> got;
    std::vector<double> progress;
    const LaserReadResult result = readLaserDatagrams(
        file.path(), [&](const Datagram& d) { got.push_back(d); },
        [&](double p) { progress.push_back(p); });
    EXPECT_EQ(result.deviceAddress, 0x7f000002u);
    ASSERT_EQ(result.sources.size(), 2u);
    EXPECT_EQ(result.sources[1].datagrams, 100u);
    EXPECT_EQ(result.datagrams, 10000u);
    ASSERT_EQ(got.size(), 10000u);
    EXPECT_EQ(got.front().timeMicros, 100u);
    EXPECT_EQ(got.back().timeMicros, 100u + 9999);
    EXPECT_EQ(result.problems, "");
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);

    int calls = 0;
    const LaserReadResult cancelled = readLaserDatagrams(
        file.path(), [](const Datagram&) {}, {}, [&] { return ++calls > 2; });
    EXPECT_TRUE(cancelled.cancelled);
}

TEST(LaserCapture, DamagedFileDeliversWhatCameBefore) {
    TempFile file("damaged.pcap");
    {
        Writer writer(file.path());
        for (int i = 0; i < 5; ++i)
            writer.write(from(0x7f000002, laserPacket(10)));
        writer.close();
    }
    std::string bytes = file.read();
    file.write(bytes.substr(0, bytes.size() - 50));
    std::size_t delivered = 0;
    const LaserReadResult result =
        readLaserDatagrams(file.path(), [&](const Datagram&) { ++delivered; });
    EXPECT_EQ(delivered, 4u);
    EXPECT_EQ(result.points, 40u);
    EXPECT_NE(result.problems.find("damaged after 4 packets"), std::string::npos)
        << result.problems;

    TempFile quiet("commands.pcap");
    {
        Writer writer(quiet.path());
        writer.write(datagram("SVHOME", 1, 40000, 4365));
        writer.close();
    }
    const LaserReadResult none = readLaserDatagrams(quiet.path(), [](const Datagram&) {});
    EXPECT_EQ(none.deviceAddress, 0u);
    EXPECT_TRUE(none.sources.empty());
}
