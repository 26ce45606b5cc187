// The logic behind the window's file commands, without a window: the save dialog's filters and
// names, telling captures from point files, the slice-wise copy of a buffer that keeps changing,
// and the points of a recording decoded as the live stream is.
#include "BufferSnapshot.h"
#include "FileChoice.h"
#include "SentovaPcap/CapturePoints.h"

#include "CaptureTestSupport.h"
#include "ObservationPoint.h"
#include "ScratchFiles.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using formats::Format;
using pcaptest::PcapBytes;
using testing_support::ScratchDir;
using testing_support::writeBytes;
using viewer::BufferSnapshot;

TEST(SaveChoice, EveryFormatIsOfferedWithTheAsciiPcdFirst) {
    const auto& filters = viewer::saveFilters();
    ASSERT_EQ(filters.size(), formats::allFormats().size());
    EXPECT_EQ(filters.front().text, "Point cloud data (*.pcd)");
    EXPECT_EQ(filters.front().format, Format::PcdAscii);
    EXPECT_EQ(viewer::saveFilterList(),
              "Point cloud data (*.pcd);;PCD binary (*.pcd);;PCD binary compressed (*.pcd);;"
              "PLY binary (*.ply);;PLY ascii (*.ply);;LAS 1.4 (*.las);;CSV (*.csv)");
}

TEST(SaveChoice, TheFilterPicksTheFormatAndItsExtensionIsAddedUnlessThere) {
    const std::string pcd = "Point cloud data (*.pcd)";
    EXPECT_EQ(viewer::saveTarget("scan", pcd).path, "scan.pcd");
    EXPECT_EQ(viewer::saveTarget("scan.PCD", pcd).path, "scan.PCD");
    EXPECT_EQ(viewer::saveTarget("scan.pcd.txt", pcd).path, "scan.pcd.txt.pcd");
    EXPECT_EQ(viewer::saveTarget("scan", pcd).format, Format::PcdAscii);

    const viewer::SaveTarget las = viewer::saveTarget("/data/hall.LAS", "LAS 1.4 (*.las)");
    EXPECT_EQ(las.path, "/data/hall.LAS");
    EXPECT_EQ(las.format, Format::Las);
    EXPECT_EQ(viewer::saveTarget("hall.pcd", "PLY ascii (*.ply)").path, "hall.pcd.ply");
    EXPECT_EQ(viewer::saveTarget("hall", "PLY ascii (*.ply)").format, Format::PlyAscii);
    EXPECT_EQ(viewer::saveTarget("hall", "PCD binary compressed (*.pcd)").format,
              Format::PcdBinaryCompressed);
    // A filter the dialog made up (or none) stands for the default.
    EXPECT_EQ(viewer::saveTarget("hall", "").format, Format::PcdAscii);
    EXPECT_EQ(viewer::saveTarget("hall", "").path, "hall.pcd");
}

TEST(LoadChoice, CapturesAreKnownByNameOrByTheirFirstBytes) {
    ScratchDir dir;
    EXPECT_EQ(viewer::loadKind((dir / "missing.PCAP").string()), viewer::LoadKind::Capture);
    EXPECT_EQ(viewer::loadKind((dir / "missing.pcapng").string()), viewer::LoadKind::Capture);
    EXPECT_EQ(viewer::loadKind((dir / "missing.pcd").string()), viewer::LoadKind::PointFile);

    writeBytes(dir / "renamed.dat", PcapBytes().bytes());
    EXPECT_EQ(viewer::loadKind((dir / "renamed.dat").string()), viewer::LoadKind::Capture);
    writeBytes(dir / "renamed.ng", pcaptest::PcapngBytes().bytes());
    EXPECT_EQ(viewer::loadKind((dir / "renamed.ng").string()), viewer::LoadKind::Capture);
    std::string swapped = PcapBytes().bytes();
    std::reverse(swapped.begin(), swapped.begin() + 4);
    writeBytes(dir / "big-endian.dat", swapped);
    EXPECT_EQ(viewer::loadKind((dir / "big-endian.dat").string()), viewer::LoadKind::Capture);

    writeBytes(dir / "cloud.dat", "# .PCD v0.7 - Point Cloud Data file format\n");
    EXPECT_EQ(viewer::loadKind((dir / "cloud.dat").string()), viewer::LoadKind::PointFile);
    writeBytes(dir / "tiny.dat", "\xa1\xb2");
    EXPECT_EQ(viewer::loadKind((dir / "tiny.dat").string()), viewer::LoadKind::PointFile);
}

TEST(LoadChoice, McapFilesAreKnownByNameOrByTheirMagic) {
    ScratchDir dir;
    EXPECT_EQ(viewer::loadKind((dir / "missing.MCAP").string()), viewer::LoadKind::Mcap);
    writeBytes(dir / "renamed.dat", std::string("\x89MCAP0\r\n", 8) + "rest of the file");
    EXPECT_EQ(viewer::loadKind((dir / "renamed.dat").string()), viewer::LoadKind::Mcap);
    // The magic cut short, or one byte off, is no MCAP file.
    writeBytes(dir / "short.dat", std::string("\x89MCAP0\r", 7));
    EXPECT_EQ(viewer::loadKind((dir / "short.dat").string()), viewer::LoadKind::PointFile);
    writeBytes(dir / "other.dat", std::string("\x89MCAP1\r\n", 8));
    EXPECT_EQ(viewer::loadKind((dir / "other.dat").string()), viewer::LoadKind::PointFile);
    EXPECT_NE(viewer::loadFilterList().find("MCAP (*.mcap)"), std::string::npos);
}

std::deque<DataPoint> numbered(int from, int count) {
    std::deque<DataPoint> points;
    for (int i = from; i < from + count; ++i) {
        DataPoint p;
        p.timestamp = i;
        points.push_back(p);
    }
    return points;
}

std::vector<int> stamps(const std::deque<DataPoint>& points) {
    std::vector<int> out;
    for (const DataPoint& p : points) {
        out.push_back(static_cast<int>(p.timestamp));
    }
    return out;
}

TEST(BufferSnapshot, KeepsThePointsOfItsMomentWhileTheBufferStreamsOn) {
    std::deque<DataPoint> buffer = numbered(0, 10);
    viewer::BufferLog log;
    BufferSnapshot snapshot(buffer, log);
    EXPECT_EQ(snapshot.copy(buffer, log, 4), BufferSnapshot::Step::More);
    // Three new points arrive at a full buffer: their drops wait for the snapshot.
    for (int i = 10; i < 13; ++i) {
        EXPECT_FALSE(viewer::appendBounded(buffer, numbered(i, 1).front(), 10, log));
    }
    EXPECT_EQ(buffer.size(), 13u);
    EXPECT_EQ(snapshot.copy(buffer, log, 4), BufferSnapshot::Step::More);
    EXPECT_EQ(snapshot.copy(buffer, log, 4), BufferSnapshot::Step::Done);
    EXPECT_EQ(stamps(snapshot.take()), stamps(numbered(0, 10)));

    // The release drops what was deferred: the buffer is what it would have been without it.
    const std::uint64_t evicted = log.evicted;
    EXPECT_TRUE(snapshot.release(buffer, log));
    EXPECT_EQ(stamps(buffer), stamps(numbered(3, 10)));
    EXPECT_EQ(log.evicted, evicted + 3);
    EXPECT_FALSE(snapshot.release(buffer, log)) << "a second release changes nothing";
    EXPECT_TRUE(viewer::appendBounded(buffer, numbered(13, 1).front(), 10, log));
    EXPECT_EQ(buffer.size(), 10u);
}

TEST(BufferSnapshot, OverlappingSnapshotsAndAClearedBuffer) {
    // A buffer a file load left above the cap keeps its points through a snapshot.
    std::deque<DataPoint> buffer = numbered(0, 8);
    viewer::BufferLog log;
    auto first = std::make_unique<BufferSnapshot>(buffer, log);
    BufferSnapshot second(buffer, log);
    viewer::appendBounded(buffer, numbered(8, 1).front(), 5, log);
    EXPECT_FALSE(first->release(buffer, log)) << "the second still holds the buffer";
    EXPECT_EQ(buffer.size(), 9u);
    EXPECT_TRUE(second.release(buffer, log));
    EXPECT_EQ(stamps(buffer), stamps(numbered(1, 8)));

    BufferSnapshot replaced(buffer, log);
    EXPECT_EQ(replaced.copy(buffer, log, 2), BufferSnapshot::Step::More);
    viewer::appendBounded(buffer, numbered(9, 1).front(), 5, log);
    viewer::clearBuffer(buffer, log);
    EXPECT_EQ(replaced.copy(buffer, log, 2), BufferSnapshot::Step::Replaced);
    EXPECT_FALSE(replaced.release(buffer, log)) << "nothing deferred survives a clear";

    std::deque<DataPoint> empty;
    BufferSnapshot nothing(empty, log);
    EXPECT_EQ(nothing.copy(empty, log, 2), BufferSnapshot::Step::Done);
    EXPECT_TRUE(nothing.take().empty());
    nothing.release(empty, log);
    EXPECT_EQ(log.holds, 0u);
}

constexpr std::uint32_t kDevice = 0x0a000005; // 10.0.0.5
constexpr std::uint32_t kStray = 0x0a000009;  // 10.0.0.9
constexpr std::uint32_t kHost = 0x0a000001;

sentova::pcap::Datagram datagramFrom(std::uint32_t source, std::uint16_t toPort,
                                     std::string bytes) {
    sentova::pcap::Datagram d;
    d.sourceAddress = source;
    d.sourcePort = 4365;
    d.destinationAddress = kHost;
    d.destinationPort = toPort;
    d.bytes = std::move(bytes);
    return d;
}

tavrel::LaserRecord record(std::uint32_t timestamp) {
    tavrel::LaserRecord r;
    r.timestamp = timestamp;
    r.azimuth = 12.345678 + timestamp;
    r.elevation = -33.3;
    r.range = 1000 + static_cast<std::int32_t>(timestamp);
    r.amplitude = static_cast<std::uint16_t>(100 + timestamp);
    r.reflectance = -5;
    r.pulseShapeDeviation = 7;
    return r;
}

std::string packet(std::uint32_t first, int count) {
    std::vector<tavrel::LaserRecord> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(record(first + static_cast<std::uint32_t>(i)));
    }
    return tavrel::encodeLaserPacket(records);
}

// A session: the stream start naming port 4366, the device's packets, a stray source's packet,
// and a reply on the command port.
PcapBytes session() {
    PcapBytes bytes;
    sentova::pcap::Datagram start =
        datagramFrom(kHost, 4365, tavrel::CommandSerialiser::SVRRBE({{0, 4366}}));
    start.destinationAddress = kDevice;
    bytes.frame(pcaptest::rawFrame(start), 1000);
    bytes.frame(pcaptest::rawFrame(datagramFrom(kDevice, 4366, packet(1, 3))), 2000);
    bytes.frame(pcaptest::rawFrame(datagramFrom(kStray, 4366, packet(500, 4))), 2500);
    bytes.frame(pcaptest::rawFrame(datagramFrom(kDevice, 50000, "EASRBE")), 2700);
    bytes.frame(pcaptest::rawFrame(datagramFrom(kDevice, 4366, packet(4, 2))), 3000);
    return bytes;
}

TEST(CapturePoints, TheDevicesPacketsBecomeThePointsTheWindowShowsLive) {
    ScratchDir dir;
    const std::string path = (dir / "session.pcap").string();
    writeBytes(path, session().bytes());
    std::vector<std::uint64_t> progress;
    const sentova::pcap::CapturePoints read = sentova::pcap::readCapturePoints(
        path, LIDAR_LX30, false,
        [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); });
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.device, "10.0.0.5");
    EXPECT_EQ(read.sources, 2u);
    EXPECT_EQ(read.problems, "");
    ASSERT_EQ(read.points.size(), 5u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 1000u);

    // Point for point what the listener's decoder and the window's conversion give.
    std::vector<DataPoint> expected;
    for (const std::string& p : {packet(1, 3), packet(4, 2)}) {
        for (const auto& o : tavrel::DecodeLaserDatagram(
                 reinterpret_cast<const unsigned char*>(p.data()), p.size())) {
            expected.push_back(formats::toDataPoint(o, LIDAR_LX30, false));
        }
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const DataPoint& a = read.points[i];
        const DataPoint& b = expected[i];
        EXPECT_EQ(a.timestamp, b.timestamp);
        EXPECT_EQ(a.azimuth, b.azimuth);
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.z, b.z);
        EXPECT_EQ(a.intensity, b.intensity);
        EXPECT_EQ(a.reflectance, b.reflectance);
        EXPECT_EQ(a.timestamp, i + 1);
    }
    // The model shapes the points as it does live: LX20 high-speed points have no intensity.
    const sentova::pcap::CapturePoints fast =
        sentova::pcap::readCapturePoints(path, LIDAR_LX20, true);
    ASSERT_EQ(fast.points.size(), 5u);
    EXPECT_EQ(fast.points[0].intensity, 0.0);
}

TEST(CapturePoints, DamageKeepsWhatCameBeforeAndSaysWhat) {
    ScratchDir dir;
    const std::string path = (dir / "cut.pcap").string();
    // The last packet loses its tail, and a TCP packet sits among the datagrams.
    std::string tcp = pcaptest::rawFrame(datagramFrom(kDevice, 4366, packet(90, 1)));
    tcp[9] = 6;
    PcapBytes bytes = session();
    bytes.frame(tcp);
    bytes.frame(pcaptest::rawFrame(datagramFrom(kDevice, 4366, packet(6, 10))));
    writeBytes(path, bytes.bytes().substr(0, bytes.bytes().size() - 50));

    const sentova::pcap::CapturePoints read =
        sentova::pcap::readCapturePoints(path, LIDAR_LX30, false);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.points.size(), 5u);
    EXPECT_EQ(read.problems.rfind("damaged after 6 packets: ", 0), 0u) << read.problems;
    EXPECT_NE(read.problems.find("1 not UDP"), std::string::npos) << read.problems;
    EXPECT_EQ(read.problems.find(path), std::string::npos) << "the window names the file";
}

TEST(CapturePoints, FilesWithoutLaserDataOrNotReadableAreErrors) {
    ScratchDir dir;
    const std::string quiet = (dir / "quiet.pcap").string();
    writeBytes(
        quiet,
        PcapBytes().frame(pcaptest::rawFrame(datagramFrom(kDevice, 50000, "EAHOME"))).bytes());
    sentova::pcap::CapturePoints read = sentova::pcap::readCapturePoints(quiet, LIDAR_LX30, false);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, "it holds no laser data");

    const std::string wifi = (dir / "wifi.pcap").string();
    writeBytes(wifi, PcapBytes(105).frame(std::string(30, '\0')).bytes());
    read = sentova::pcap::readCapturePoints(wifi, LIDAR_LX30, false);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error.rfind("link type 105 (IEEE802_11", 0), 0u) << read.error;

    const std::string header = (dir / "header.pcap").string();
    writeBytes(header, PcapBytes().bytes().substr(0, 10));
    read = sentova::pcap::readCapturePoints(header, LIDAR_LX30, false);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error.rfind("not a readable pcap or pcapng file", 0), 0u) << read.error;

    const std::string whole = (dir / "session.pcap").string();
    writeBytes(whole, session().bytes());
    read = sentova::pcap::readCapturePoints(whole, LIDAR_LX30, false, {}, [] { return true; });
    EXPECT_TRUE(read.cancelled);
    EXPECT_TRUE(read.points.empty());
}

} // namespace
