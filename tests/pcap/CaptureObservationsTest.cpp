// A recording's observations cut into scan frames as the file is read.
#include "CaptureTestSupport.h"

#include "Sentova/LaserPacket.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"

#include <gtest/gtest.h>

using namespace sentova::pcap;
using pcaptest::TempFile;

namespace {

constexpr std::uint32_t kDevice = 0x0a000002;
constexpr std::uint32_t kHost = 0x0a000001;
constexpr unsigned kLines = 5;
constexpr unsigned kDatagramsPerLine = 10;
constexpr unsigned kRecords = 40;
constexpr unsigned kFramePoints = kLines * kDatagramsPerLine * kRecords;

struct Session {
    unsigned frames = 60;
    bool notifications = false;
    long skipDatagram = -1; // lost on the way, never recorded
};

// A raster of bottom-to-top lines, 40 µs between measurements, written as the device sends it.
void writeSession(const std::string& path, const Session& s) {
    Writer w(path);
    std::uint32_t stamp = 1000;
    std::uint64_t time = 1700000000000000;
    long datagram = 0;
    const auto notify = [&](char event) {
        const std::string n = std::string("EBAACK") + event + std::string(4, '\0');
        w.write(time, kDevice, 4365, kHost, 40000, n.data(), n.size());
    };
    std::vector<tavrel::LaserRecord> records(kRecords);
    for (unsigned f = 0; f < s.frames; ++f) {
        if (s.notifications)
            notify('\0');
        for (unsigned line = 0; line < kLines; ++line) {
            for (unsigned d = 0; d < kDatagramsPerLine; ++d, ++datagram) {
                for (unsigned r = 0; r < kRecords; ++r) {
                    records[r].timestamp = stamp;
                    records[r].azimuth = -180.0 + 0.9 * (d * kRecords + r);
                    records[r].elevation = -20.0 + 10.0 * line;
                    records[r].range = 5000;
                    stamp += 40;
                }
                time += 1600;
                if (datagram == s.skipDatagram)
                    continue;
                const std::string p = tavrel::encodeLaserPacket(records);
                w.write(time, kDevice, 4365, kHost, 4366, p.data(), p.size());
            }
        }
        if (s.notifications)
            notify('\1');
    }
    w.close();
}

CaptureRead read(const std::string& path, const FrameSink& frames = {},
                 const formats::Progress& progress = {}) {
    return readCaptureObservations(
        path,
        [](const std::vector<tavrel::tavrel_rbe_obs_t>&,
           const std::vector<tavrel::scan_frame_piece_t>&) {},
        frames, progress);
}

} // namespace

TEST(CaptureObservations, FirstFramesGoOutBeforeTheFileIsReadThrough) {
    TempFile file("long.pcap");
    writeSession(file.path(), Session{});
    std::uint64_t progressed = 0;
    std::uint64_t progressAtFirstFrame = 1000;
    const CaptureRead r = read(
        file.path(),
        [&](const tavrel::scan_frame_t& f) {
            if (f.index == 0)
                progressAtFirstFrame = progressed;
            return true;
        },
        [&](std::uint64_t done, std::uint64_t) { progressed = done; });
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_LT(progressAtFirstFrame, 700u);
    EXPECT_EQ(progressed, 1000u);
    ASSERT_EQ(r.frames.size(), 60u);
    // Without notifications the first start and the last end are not seen.
    EXPECT_FALSE(r.frames.front().complete());
    EXPECT_FALSE(r.frames.back().complete());
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        EXPECT_EQ(r.frames[i].points, kFramePoints) << i;
        if (i > 0 && i + 1 < r.frames.size()) {
            EXPECT_TRUE(r.frames[i].complete()) << i;
        }
    }
    EXPECT_EQ(r.points, 60u * kFramePoints);
    EXPECT_EQ(r.device, "10.0.0.2");
}

TEST(CaptureObservations, RecordedNotificationsMakeTheOuterFramesWhole) {
    TempFile file("notified.pcap");
    Session s;
    s.frames = 3;
    s.notifications = true;
    writeSession(file.path(), s);
    const CaptureRead r = read(file.path());
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.frames.size(), 3u);
    for (const auto& f : r.frames)
        EXPECT_TRUE(f.complete()) << f.index;
}

TEST(CaptureObservations, ALostDatagramMarksItsFrameOnly) {
    TempFile file("lost.pcap");
    Session s;
    s.frames = 5;
    s.notifications = true;
    s.skipDatagram = 2 * kLines * kDatagramsPerLine + 17; // inside frame 2
    writeSession(file.path(), s);
    const CaptureRead r = read(file.path());
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.frames.size(), 5u);
    for (const auto& f : r.frames) {
        EXPECT_EQ(f.complete(), f.index != 2) << f.index;
        EXPECT_EQ(f.points, f.index == 2 ? kFramePoints - kRecords : kFramePoints) << f.index;
    }
}

TEST(CaptureObservations, AFrameSinkStopsTheReadingAndDamageKeepsWhatCameBefore) {
    TempFile file("stop.pcap");
    writeSession(file.path(), Session{});
    std::size_t seen = 0;
    const CaptureRead stopped =
        read(file.path(), [&](const tavrel::scan_frame_t&) { return ++seen < 3; });
    EXPECT_TRUE(stopped.ok);
    EXPECT_EQ(stopped.frames.size(), 3u);
    EXPECT_LT(stopped.points, 60u * kFramePoints / 2);

    const std::string bytes = file.read();
    file.write(bytes.substr(0, bytes.size() / 2 + 5));
    const CaptureRead cut = read(file.path());
    ASSERT_TRUE(cut.ok) << cut.error;
    EXPECT_EQ(cut.problems.rfind("damaged after", 0), 0u) << cut.problems;
    ASSERT_GE(cut.frames.size(), 29u);
    EXPECT_EQ(cut.frames[cut.frames.size() - 2].points, kFramePoints);
    EXPECT_FALSE(cut.frames.back().complete());
}
