// Points gathered per scan frame behind the splitter: the bound on what the open frames hold, the
// frame the stream's end leaves open, and drops inside a frame.
#include "SentovaPcap/FrameCollector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

using sentova::pcap::FrameCollector;
using tavrel::tavrel_rbe_obs_t;

namespace {

constexpr std::uint32_t kInterval = 40; // microseconds between measurements
constexpr unsigned kLines = 4;
constexpr unsigned kPointsPerLine = 250;
constexpr std::size_t kFramePoints = kLines * kPointsPerLine;
constexpr std::size_t kDatagram = 50;

// Bottom line first, as the simulated device scans; time stamps count up from 1000.
std::vector<tavrel_rbe_obs_t> raster(unsigned frames) {
    std::vector<tavrel_rbe_obs_t> out;
    std::uint32_t t = 1000;
    for (unsigned f = 0; f < frames; ++f) {
        for (unsigned line = 0; line < kLines; ++line) {
            for (unsigned p = 0; p < kPointsPerLine; ++p) {
                const double azimuth = -180.0 + 360.0 * p / kPointsPerLine;
                out.push_back({azimuth, -30.0 + 20.0 * line, 5000.0, t, 100.0, 0.0, 0.0});
                t += kInterval;
            }
        }
    }
    return out;
}

std::uint64_t timestampOf(const tavrel_rbe_obs_t& o) {
    return o.timestamp;
}

template <class Points> struct Feed {
    explicit Feed(FrameCollector<Points>& c) : collector(c) {}

    // The observations [begin, end) in datagrams; dropsBefore: the live drop count rises before
    // the datagram that begins there.
    void datagrams(const std::vector<tavrel_rbe_obs_t>& obs, std::size_t begin, std::size_t end,
                   std::size_t dropsBefore = SIZE_MAX) {
        for (std::size_t at = begin; at < end; at += kDatagram) {
            const std::size_t count = std::min(kDatagram, end - at);
            drops += at == dropsBefore ? 1 : 0;
            splitter.AddBatch(&obs[at], count, obs[at].timestamp, drops, &pieces);
            // Each batch timed by where it begins in the stream.
            collector.add(&obs[at], pieces, timestampOf, at);
            take();
        }
    }
    void finish() {
        splitter.Finish();
        take();
    }
    // The whole stream, then its end.
    void stream(const std::vector<tavrel_rbe_obs_t>& obs) {
        datagrams(obs, 0, obs.size());
        finish();
    }
    void take() {
        for (auto& f : collector.close(splitter.TakeClosed())) {
            frames.push_back(std::move(f));
        }
    }

    FrameCollector<Points>& collector;
    tavrel::ScanFrameSplitter splitter;
    std::vector<tavrel::scan_frame_piece_t> pieces;
    std::uint64_t drops = 0;
    std::vector<typename FrameCollector<Points>::Frame> frames;
};

// The frame's points are the stream's [first, first + count), in order.
template <class Points>
void expectRun(const Points& points, const std::vector<tavrel_rbe_obs_t>& obs, std::size_t first,
               std::size_t count) {
    ASSERT_EQ(points.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(points[i], obs[first + i].timestamp) << "point " << i;
    }
}

} // namespace

TEST(FrameCollector, EachFrameHandsOutExactlyItsOwnPointsWithItsCounts) {
    const std::vector<tavrel_rbe_obs_t> obs = raster(3);
    FrameCollector<std::vector<std::uint64_t>> collector;
    Feed feed(collector);
    feed.stream(obs);
    ASSERT_EQ(feed.frames.size(), 3u);
    for (std::size_t f = 0; f < 3; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        EXPECT_EQ(feed.frames[f].info.index, f);
        EXPECT_EQ(feed.frames[f].info.points, kFramePoints);
        EXPECT_EQ(feed.frames[f].info.firstTimestamp, obs[f * kFramePoints].timestamp);
        expectRun(feed.frames[f].points, obs, f * kFramePoints, kFramePoints);
        // Timed by the last batch that held its points, not the one that showed it was over.
        EXPECT_EQ(feed.frames[f].lastWhen, (f + 1) * kFramePoints - kDatagram);
    }
    // The middle one was seen from its start to its end.
    EXPECT_TRUE(feed.frames[1].info.complete());
    EXPECT_EQ(collector.heldPoints(), 0u);
    EXPECT_EQ(collector.droppedPoints(), 0u);
}

TEST(FrameCollector, AFrameAcrossTheBoundKeepsItsFirstPointsAndIsNoLongerWhole) {
    const std::vector<tavrel_rbe_obs_t> obs = raster(3);
    // Not a whole number of datagrams: the bound falls inside one.
    const std::size_t limit = kFramePoints - 75;
    FrameCollector<std::deque<std::uint64_t>> collector(limit);
    Feed feed(collector);
    feed.stream(obs);
    ASSERT_EQ(feed.frames.size(), 3u);
    for (std::size_t f = 0; f < 3; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        // Its count says what the device sent; its points are those that had room.
        EXPECT_EQ(feed.frames[f].info.points, kFramePoints);
        EXPECT_TRUE(feed.frames[f].info.dropInside);
        EXPECT_FALSE(feed.frames[f].info.complete());
    }
    expectRun(feed.frames[0].points, obs, 0, limit);
    // The datagram that begins a frame comes while the points of the one it ends are still
    // held (they are handed out after it): it finds no room.
    for (std::size_t f = 1; f < 3; ++f) {
        expectRun(feed.frames[f].points, obs, f * kFramePoints + kDatagram, limit);
    }
    EXPECT_EQ(collector.droppedPoints(), 3 * (kFramePoints - limit));
    EXPECT_EQ(collector.heldPoints(), 0u);
}

TEST(FrameCollector, ClosingAFrameGivesItsRoomToTheNext) {
    const std::vector<tavrel_rbe_obs_t> obs = raster(3);
    // Room for one frame and the datagram that shows it is over.
    FrameCollector<std::vector<std::uint64_t>> collector(kFramePoints + kDatagram);
    Feed feed(collector);
    feed.stream(obs);
    ASSERT_EQ(feed.frames.size(), 3u);
    for (std::size_t f = 0; f < 3; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        expectRun(feed.frames[f].points, obs, f * kFramePoints, kFramePoints);
        EXPECT_FALSE(feed.frames[f].info.dropInside);
    }
    EXPECT_EQ(collector.droppedPoints(), 0u);
}

TEST(FrameCollector, TheFrameOpenAtTheStreamsEndIsHandedOutAsIncomplete) {
    const std::vector<tavrel_rbe_obs_t> obs = raster(2);
    // The stream stops half-way through the second frame.
    const std::size_t end = kFramePoints + kFramePoints / 2;
    FrameCollector<std::vector<std::uint64_t>> collector;
    Feed feed(collector);
    feed.datagrams(obs, 0, end);
    ASSERT_EQ(feed.frames.size(), 1u);
    EXPECT_EQ(collector.heldPoints(), kFramePoints / 2);
    feed.finish();
    ASSERT_EQ(feed.frames.size(), 2u);
    const auto& last = feed.frames[1];
    EXPECT_EQ(last.info.index, 1u);
    EXPECT_TRUE(last.info.startSeen);
    EXPECT_FALSE(last.info.endSeen);
    EXPECT_FALSE(last.info.complete());
    EXPECT_EQ(last.info.lastTimestamp, obs[end - 1].timestamp);
    expectRun(last.points, obs, kFramePoints, kFramePoints / 2);
    EXPECT_EQ(collector.heldPoints(), 0u);
}

TEST(FrameCollector, ADropInsideAFrameMarksItAndKeepsWhatArrived) {
    const std::vector<tavrel_rbe_obs_t> obs = raster(3);
    FrameCollector<std::vector<std::uint64_t>> collector;
    Feed feed(collector);
    // Two datagrams of the middle frame are lost; the count rises before the one after them.
    const std::size_t lostFrom = kFramePoints + 5 * kDatagram;
    const std::size_t lostTo = lostFrom + 2 * kDatagram;
    feed.datagrams(obs, 0, lostFrom);
    feed.datagrams(obs, lostTo, obs.size(), lostTo);
    feed.finish();
    ASSERT_EQ(feed.frames.size(), 3u);
    const auto& cut = feed.frames[1];
    EXPECT_TRUE(cut.info.dropInside);
    EXPECT_FALSE(cut.info.complete());
    ASSERT_EQ(cut.points.size(), kFramePoints - 2 * kDatagram);
    expectRun(std::vector<std::uint64_t>(cut.points.begin(), cut.points.begin() + 5 * kDatagram),
              obs, kFramePoints, 5 * kDatagram);
    EXPECT_EQ(cut.points[5 * kDatagram], obs[lostTo].timestamp);
    // Not joined to the next one, which stays whole of its own.
    expectRun(feed.frames[2].points, obs, 2 * kFramePoints, kFramePoints);
    EXPECT_FALSE(feed.frames[2].info.dropInside);
    // A drop the source reported is not one of the collector's.
    EXPECT_EQ(collector.droppedPoints(), 0u);
}

TEST(FrameCollector, OneFrameAloneIsGatheredAndTheOthersPassedOverUncounted) {
    const std::vector<tavrel_rbe_obs_t> obs = raster(3);
    FrameCollector<std::vector<std::uint64_t>> collector(kDatagram, 1);
    // The bound counts only the frame gathered: it holds one datagram of it.
    Feed feed(collector);
    feed.stream(obs);
    ASSERT_EQ(feed.frames.size(), 3u);
    EXPECT_TRUE(feed.frames[0].points.empty());
    EXPECT_TRUE(feed.frames[2].points.empty());
    EXPECT_FALSE(feed.frames[0].info.dropInside);
    expectRun(feed.frames[1].points, obs, kFramePoints, kDatagram);
    EXPECT_TRUE(feed.frames[1].info.dropInside);
    EXPECT_EQ(collector.droppedPoints(), kFramePoints - kDatagram);
}
