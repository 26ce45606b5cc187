// A recording's frame index: entries found by one pass over files written by the capture writer
// (rasters of the simulator's own scan patterns among them), and each entry's points read back
// from the file.
#include "CaptureTestSupport.h"

#include "Raster.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/Recorder.h"
#include "SentovaPcap/RecordingIndex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <set>

using namespace sentova::pcap;
using pcaptest::TempFile;

namespace {

constexpr std::uint32_t kDevice = 0x0a000002;
constexpr std::uint32_t kHost = 0x0a000001;
constexpr unsigned kRecords = 40;         // per datagram
constexpr std::uint32_t kStepMicros = 40; // between measurements
constexpr std::uint32_t kFirstStamp = 1000;
constexpr std::uint64_t kStartMicros = 1700000000000000;

struct Pointing {
    double azimuth;
    double elevation;
};

// Measurement n as the device sends it: its time stamp is kStepMicros apart from the one
// before, datagrams of kRecords leave when full, stamped with the capture time of their last
// measurement. Datagrams in lost never reach the file.
void writeStream(const std::string& path, std::uint64_t measurements,
                 const std::function<Pointing(std::uint64_t)>& at,
                 const std::set<std::uint64_t>& lost = {}) {
    Writer w(path);
    std::vector<tavrel::LaserRecord> records;
    for (std::uint64_t n = 0; n < measurements; ++n) {
        tavrel::LaserRecord r;
        const Pointing p = at(n);
        r.azimuth = p.azimuth;
        r.elevation = p.elevation;
        r.timestamp = static_cast<std::uint32_t>(kFirstStamp + n * kStepMicros);
        r.range = 5000;
        r.amplitude = static_cast<std::uint16_t>(n % 60000);
        records.push_back(r);
        if (records.size() == kRecords || n + 1 == measurements) {
            const std::uint64_t datagram = n / kRecords;
            if (lost.count(datagram) == 0) {
                const std::string bytes = tavrel::encodeLaserPacket(records);
                w.write(kStartMicros + n * kStepMicros, kDevice, 4365, kHost, 4366, bytes.data(),
                        bytes.size());
            }
            records.clear();
        }
    }
    w.close();
}

// Bottom-to-top lines of 400 measurements, five lines a frame.
constexpr unsigned kLinePoints = 400;
constexpr unsigned kLines = 5;
constexpr unsigned kFramePoints = kLinePoints * kLines;
Pointing raster(std::uint64_t n) {
    const unsigned line = static_cast<unsigned>(n / kLinePoints) % kLines;
    return {-180.0 + 0.9 * double(n % kLinePoints), -20.0 + 10.0 * line};
}

std::vector<RecordingFrame> indexOf(const std::string& path, LaserFilter* filter = nullptr,
                                    const RecordingIndexOptions& options = {}) {
    std::vector<RecordingFrame> frames;
    RecordingSinks sinks;
    sinks.frames = [&](const std::vector<RecordingFrame>& f) {
        frames.insert(frames.end(), f.begin(), f.end());
    };
    sinks.filter = [&](const LaserFilter& f) {
        if (filter)
            *filter = f;
    };
    indexRecording(path, sinks, options);
    return frames;
}

std::uint32_t stampOf(std::uint64_t n) {
    return static_cast<std::uint32_t>(kFirstStamp + n * kStepMicros);
}

// The entry's points read back are the measurements [first, first + count) of the stream.
void expectMeasurements(const std::string& path, const LaserFilter& filter,
                        const RecordingFrame& frame, std::uint64_t first, std::uint64_t count) {
    const std::vector<tavrel::tavrel_rbe_obs_t> points = readRecordingFrame(path, filter, frame);
    ASSERT_EQ(points.size(), count);
    EXPECT_EQ(frame.points, count);
    EXPECT_EQ(frame.firstTimestamp, stampOf(first));
    EXPECT_EQ(frame.lastTimestamp, stampOf(first + count - 1));
    for (std::uint64_t i = 0; i < count; ++i)
        ASSERT_EQ(points[i].timestamp, stampOf(first + i)) << "point " << i;
}

} // namespace

TEST(RecordingIndex, FramesOfARasterWithACutEnd) {
    TempFile file("raster.pcap");
    // Three and a half frames: the recording stops in the middle of the fourth.
    writeStream(file.path(), 3 * kFramePoints + kFramePoints / 2, raster);
    LaserFilter filter;
    const std::vector<RecordingFrame> frames = indexOf(file.path(), &filter);
    EXPECT_EQ(filter.deviceAddress, kDevice);
    ASSERT_EQ(frames.size(), 4u);
    // The first frame's start was seen only by the raster starting over, which the first frame
    // of a file cannot show; the last was never ended.
    EXPECT_EQ(frames[0].flags, unsigned(kFrameStartMissing));
    EXPECT_TRUE(frames[1].complete());
    EXPECT_TRUE(frames[2].complete());
    EXPECT_EQ(frames[3].flags, unsigned(kFrameEndCut));
    for (unsigned f = 0; f < 3; ++f)
        expectMeasurements(file.path(), filter, frames[f], f * kFramePoints, kFramePoints);
    expectMeasurements(file.path(), filter, frames[3], 3 * kFramePoints, kFramePoints / 2);
    // Capture times: the datagram with the frame's first point and the one with its last.
    EXPECT_EQ(frames[1].firstHostMicros,
              kStartMicros + (kFramePoints + kRecords - 1) * kStepMicros);
    EXPECT_EQ(frames[1].lastHostMicros, kStartMicros + (2 * kFramePoints - 1) * kStepMicros);
}

TEST(RecordingIndex, ADropInsideAFrameMarksThatFrameOnly) {
    TempFile file("drop.pcap");
    // Datagram 7 of the second frame is lost.
    const std::uint64_t lost = kFramePoints / kRecords + 7;
    writeStream(file.path(), 4 * kFramePoints, raster, {lost});
    LaserFilter filter;
    const std::vector<RecordingFrame> frames = indexOf(file.path(), &filter);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1].flags, unsigned(kFrameDropInside));
    EXPECT_EQ(frames[1].points, kFramePoints - kRecords);
    EXPECT_TRUE(frames[2].complete());
    EXPECT_EQ(frames[3].flags, unsigned(kFrameEndCut));
    const auto points = readRecordingFrame(file.path(), filter, frames[1]);
    ASSERT_EQ(points.size(), kFramePoints - kRecords);
    EXPECT_EQ(points[7 * kRecords - 1].timestamp, stampOf(kFramePoints + 7 * kRecords - 1));
    EXPECT_EQ(points[7 * kRecords].timestamp, stampOf(kFramePoints + 8 * kRecords));
    expectMeasurements(file.path(), filter, frames[2], 2 * kFramePoints, kFramePoints);
}

TEST(RecordingIndex, ARecordingOfTheLibrarysTrafficIndexesTheStreamItStarted) {
    // What the window's recorder writes: the stream start naming data port 5001, the device's
    // laser data to it, and laser data of an older stream still going to port 6000.
    TempFile file("traffic.pcap");
    {
        Recorder recorder(file.path(), RecorderOptions{LinkType::Ethernet, 50});
        const auto observe = [&](std::uint64_t time, std::uint32_t from, std::uint16_t fromPort,
                                 std::uint32_t to, std::uint16_t toPort, const std::string& b) {
            recorder.TrafficCallback({time, from, fromPort, to, toPort, b.data(), b.size()});
        };
        observe(kStartMicros, kHost, 40000, kDevice, 4365,
                tavrel::CommandSerialiser::SVRRBE({{1, 5}, {0, 5001}}));
        std::vector<tavrel::LaserRecord> records(kRecords);
        std::vector<tavrel::LaserRecord> stale(kRecords);
        for (std::uint64_t n = 0; n < 3 * kFramePoints; n += kRecords) {
            for (unsigned r = 0; r < kRecords; ++r) {
                const Pointing p = raster(n + r);
                records[r].azimuth = p.azimuth;
                records[r].elevation = p.elevation;
                records[r].timestamp = stampOf(n + r);
                stale[r].azimuth = 10.0;
                stale[r].elevation = 80.0 - double(n % 7);
                stale[r].timestamp = 7;
            }
            const std::uint64_t time = kStartMicros + (n + kRecords) * kStepMicros;
            observe(time, kDevice, 4366, kHost, 5001, tavrel::encodeLaserPacket(records));
            observe(time, kDevice, 4366, kHost, 6000, tavrel::encodeLaserPacket(stale));
        }
        const RecorderStatus status = recorder.stop();
        ASSERT_FALSE(status.failed) << status.error;
    }
    LaserFilter filter;
    const std::vector<RecordingFrame> frames = indexOf(file.path(), &filter);
    EXPECT_EQ(filter.dataPorts, (std::set<std::uint16_t>{5001}));
    ASSERT_EQ(frames.size(), 3u);
    for (unsigned f = 0; f < 3; ++f)
        expectMeasurements(file.path(), filter, frames[f], f * kFramePoints, kFramePoints);
    EXPECT_TRUE(frames[1].complete());
}

TEST(RecordingIndex, NotificationsMakeTheFirstAndLastFramesWhole) {
    // Frames given to the cutter directly, with the device's start and end notifications
    // around each: nothing of the recording's ends is missing then.
    RecordingFrameCutter cutter;
    std::vector<tavrel::tavrel_rbe_obs_t> batch(kRecords);
    std::uint64_t n = 0;
    std::uint64_t host = kStartMicros;
    std::uint64_t offset = 24;
    for (unsigned f = 0; f < 3; ++f) {
        cutter.addEvent(tavrel::kFrameStartEvent, host);
        for (unsigned d = 0; d < kFramePoints / kRecords; ++d) {
            for (tavrel::tavrel_rbe_obs_t& o : batch) {
                const Pointing p = raster(n);
                o.azimuth = p.azimuth;
                o.elevation = p.elevation;
                o.timestamp = stampOf(n++);
            }
            host += kRecords * kStepMicros;
            cutter.addDatagram(offset, host, batch.data(), batch.size());
            offset += 1000;
        }
        cutter.addEvent(tavrel::kFrameEndEvent, host);
    }
    cutter.finish();
    const std::vector<RecordingFrame> frames = cutter.take();
    ASSERT_EQ(frames.size(), 3u);
    for (unsigned f = 0; f < 3; ++f) {
        SCOPED_TRACE(f);
        EXPECT_TRUE(frames[f].complete());
        EXPECT_EQ(frames[f].points, kFramePoints);
        EXPECT_EQ(frames[f].offset, 24 + f * (kFramePoints / kRecords) * 1000);
        EXPECT_EQ(frames[f].skip, 0u);
    }
    EXPECT_TRUE(cutter.take().empty());
}

TEST(RecordingIndex, ARegionScanOfTheSimulatorsPatternSplitsWhereItsFramesBegin) {
    namespace sim = sentova::sim;
    sim::ScanPattern pattern;
    ASSERT_EQ(
        sim::makeScanPattern(sim::ScanKind::Region, 2.0, 150.0, -160.0, -10.0, 12.0, 4, pattern),
        tavrel::NoError);
    const double seconds = 3.5 * sim::frameDuration(pattern);
    const auto measurements = static_cast<std::uint64_t>(seconds * 1e6 / kStepMicros);
    const auto at = [&](std::uint64_t n) {
        const sim::RasterPosition p = sim::rasterAt(pattern, double(n) * kStepMicros / 1e6);
        return Pointing{p.azimuth, p.elevation};
    };
    // Where the simulator's frames begin (the region's lines cross the ±180° seam and alternate
    // their direction; neither may cut a frame).
    std::vector<std::uint64_t> starts{0};
    for (std::uint64_t n = 1; n < measurements; ++n)
        if (sim::rasterAt(pattern, double(n) * kStepMicros / 1e6).frame !=
            sim::rasterAt(pattern, double(n - 1) * kStepMicros / 1e6).frame)
            starts.push_back(n);
    ASSERT_EQ(starts.size(), 4u);
    starts.push_back(measurements);

    TempFile file("region.pcap");
    writeStream(file.path(), measurements, at);
    LaserFilter filter;
    const std::vector<RecordingFrame> frames = indexOf(file.path(), &filter);
    ASSERT_EQ(frames.size(), 4u);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        SCOPED_TRACE(f);
        EXPECT_FALSE(frames[f].piece());
        expectMeasurements(file.path(), filter, frames[f], starts[f], starts[f + 1] - starts[f]);
    }
    EXPECT_TRUE(frames[1].complete());
    EXPECT_TRUE(frames[2].complete());
}

TEST(RecordingIndex, ALaserStreamWithTheApertureAtRestIsCutIntoPiecesOfTime) {
    TempFile file("still.pcap");
    // 3.5 s with the aperture at rest but for the range finder's jitter.
    const std::uint64_t perSecond = 1000000 / kStepMicros;
    const std::uint64_t measurements = 3 * perSecond + perSecond / 2;
    writeStream(file.path(), measurements, [](std::uint64_t n) {
        return Pointing{179.95 + 0.1 * double(n % 2), 5.0};
    });
    LaserFilter filter;
    const std::vector<RecordingFrame> frames = indexOf(file.path(), &filter);
    ASSERT_EQ(frames.size(), 4u);
    std::uint64_t first = 0;
    for (const RecordingFrame& f : frames) {
        EXPECT_TRUE(f.piece());
        EXPECT_LE(f.lastHostMicros - f.firstHostMicros, 1000000u);
        expectMeasurements(file.path(), filter, f, first, f.points);
        first += f.points;
    }
    EXPECT_EQ(first, measurements);
    EXPECT_TRUE(frames[0].flags & kFrameStartMissing);
    EXPECT_TRUE(frames[1].complete());
    EXPECT_TRUE(frames[3].flags & kFrameEndCut);
}

TEST(RecordingIndex, EachPieceWithADropIsMarked) {
    TempFile file("still-drops.pcap");
    const std::uint64_t perSecond = 1000000 / kStepMicros;
    const std::uint64_t perDatagram = kRecords;
    // A datagram lost in the second second and one in the third.
    const std::set<std::uint64_t> lost{(perSecond + perSecond / 2) / perDatagram,
                                       (2 * perSecond + perSecond / 2) / perDatagram};
    writeStream(
        file.path(), 4 * perSecond,
        [](std::uint64_t) {
            return Pointing{30.0, 5.0};
        },
        lost);
    const std::vector<RecordingFrame> frames = indexOf(file.path());
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_FALSE(frames[0].flags & kFrameDropInside);
    EXPECT_TRUE(frames[1].flags & kFrameDropInside);
    EXPECT_TRUE(frames[2].flags & kFrameDropInside);
    EXPECT_FALSE(frames[3].flags & kFrameDropInside);
}

TEST(RecordingIndex, NoEntryHoldsMoreThanTheLargestPointCount) {
    TempFile file("long-frame.pcap");
    writeStream(file.path(), 2 * kFramePoints, raster);
    RecordingIndexOptions options;
    options.maximumPoints = 600;
    LaserFilter filter;
    const std::vector<RecordingFrame> frames = indexOf(file.path(), &filter, options);
    std::uint64_t first = 0;
    for (const RecordingFrame& f : frames) {
        EXPECT_LE(f.points, 600u);
        EXPECT_TRUE(f.piece());
        expectMeasurements(file.path(), filter, f, first, f.points);
        first += f.points;
    }
    EXPECT_EQ(first, 2 * kFramePoints);
}

TEST(RecordingIndex, EntriesOfAPcapngFileReadBackFromTheirPositions) {
    pcaptest::PcapngBytes bytes;
    std::vector<tavrel::LaserRecord> records(kRecords);
    std::uint64_t n = 0;
    for (unsigned d = 0; d < 3 * kFramePoints / kRecords; ++d) {
        for (tavrel::LaserRecord& r : records) {
            const Pointing p = raster(n);
            r.azimuth = p.azimuth;
            r.elevation = p.elevation;
            r.timestamp = stampOf(n++);
        }
        bytes.packet(pcaptest::rawFrame(pcaptest::datagram(tavrel::encodeLaserPacket(records))),
                     kStartMicros + n * kStepMicros);
    }
    TempFile file("raster.pcapng");
    file.write(bytes.bytes());
    LaserFilter filter;
    const std::vector<RecordingFrame> frames = indexOf(file.path(), &filter);
    ASSERT_EQ(frames.size(), 3u);
    expectMeasurements(file.path(), filter, frames[1], kFramePoints, kFramePoints);
    expectMeasurements(file.path(), filter, frames[2], 2 * kFramePoints, kFramePoints);
}

TEST(RecordingIndex, TheFirstFrameIsPublishedBeforeTheFileIsReadThrough) {
    TempFile file("long.pcap");
    writeStream(file.path(), 200 * kFramePoints, raster);
    std::promise<RecordingIndex*> made;
    std::shared_future<RecordingIndex*> index = made.get_future().share();
    std::atomic<int> calls{0};
    std::promise<RecordingIndexStatus> atFirstCall;
    RecordingIndex recording(file.path(), {}, [&] {
        // On the indexing thread, which publishes nothing while this runs.
        if (calls++ == 0 && index.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
            atFirstCall.set_value(index.get()->status());
    });
    made.set_value(&recording);
    auto first = atFirstCall.get_future();
    ASSERT_EQ(first.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const RecordingIndexStatus early = first.get();
    EXPECT_GE(early.frames, 1u);
    EXPECT_FALSE(early.complete);
    EXPECT_LT(early.progress, 1.0);
    EXPECT_EQ(recording.readFrame(0).size(), kFramePoints);
    // Read as the window shows them while the index is still being built.
    const std::vector<DataPoint> shown = readFramePoints(recording, 0, LIDAR_LX30, false);
    ASSERT_EQ(shown.size(), kFramePoints);
    EXPECT_EQ(shown.back().timestamp, stampOf(kFramePoints - 1));

    ASSERT_TRUE(recording.waitForComplete(std::chrono::seconds(60)));
    const RecordingIndexStatus s = recording.status();
    EXPECT_EQ(s.frames, 200u);
    EXPECT_TRUE(s.error.empty());
    EXPECT_EQ(s.device, kDevice);
    EXPECT_DOUBLE_EQ(s.progress, 1.0);
    EXPECT_EQ(recording.readFrame(199).back().timestamp, stampOf(200 * kFramePoints - 1));
}

TEST(RecordingIndex, CancelledReadingKeepsWhatWasPublished) {
    TempFile file("cancelled.pcap");
    writeStream(file.path(), 300 * kFramePoints, raster);
    std::promise<RecordingIndex*> made;
    std::shared_future<RecordingIndex*> index = made.get_future().share();
    RecordingIndex recording(file.path(), {}, [&] {
        if (index.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
            index.get()->cancel();
    });
    made.set_value(&recording);
    ASSERT_TRUE(recording.waitForComplete(std::chrono::seconds(60)));
    const RecordingIndexStatus s = recording.status();
    EXPECT_TRUE(s.cancelled);
    EXPECT_GE(s.frames, 1u);
    EXPECT_LT(s.frames, 300u);
    EXPECT_TRUE(s.error.empty());
    EXPECT_EQ(recording.readFrame(0).size(), kFramePoints);
}

TEST(RecordingIndex, FilesWithoutLaserDataEndTheIndexWithAnError) {
    TempFile empty("commands.pcap");
    {
        Writer w(empty.path());
        w.write(kStartMicros, kHost, 40000, kDevice, 4365, "SVHOME", 6);
        w.close();
    }
    RecordingIndex none(empty.path());
    ASSERT_TRUE(none.waitForComplete(std::chrono::seconds(10)));
    EXPECT_NE(none.status().error.find("no laser data"), std::string::npos);
    EXPECT_EQ(none.frameCount(), 0u);

    RecordingIndex missing("/nonexistent/recording.pcap");
    ASSERT_TRUE(missing.waitForComplete(std::chrono::seconds(10)));
    EXPECT_NE(missing.status().error.find("/nonexistent/recording.pcap"), std::string::npos);
}
