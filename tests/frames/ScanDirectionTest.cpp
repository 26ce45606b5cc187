// The splitter on rasters of either direction, on synthetic streams: the
// simulated device scans bottom line first only.
#include "Sentova/ScanFrames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using tavrel::scan_frame_t;
using tavrel::tavrel_rbe_obs_t;

namespace {

constexpr std::uint32_t kInterval = 40; // microseconds between measurements

struct Raster {
    unsigned lines = 5;
    double bottom = -30.0;
    double top = 30.0;
    bool topFirst = true;
    bool region = false; // azimuth back and forth, line by line
    unsigned pointsPerLine = 400;
    unsigned frames = 6;
    // Points on the way from the home position (elevation 0) to the first line.
    unsigned approachPoints = 0;
};

double lineElevation(const Raster& r, unsigned line) {
    const double step = (r.top - r.bottom) / (r.lines - 1);
    return r.topFirst ? r.top - step * line : r.bottom + step * line;
}

std::vector<tavrel_rbe_obs_t> stream(const Raster& r, std::uint32_t firstTimestamp = 1000) {
    std::vector<tavrel_rbe_obs_t> out;
    std::uint32_t t = firstTimestamp;
    const auto add = [&](double azimuth, double elevation) {
        out.push_back({azimuth, elevation, 5000.0, t, 100.0, 0.0, 0.0});
        t += kInterval;
    };
    for (unsigned i = 0; i < r.approachPoints; ++i)
        add(0.0, lineElevation(r, 0) * (i + 1) / (r.approachPoints + 1));
    for (unsigned f = 0; f < r.frames; ++f) {
        for (unsigned line = 0; line < r.lines; ++line) {
            for (unsigned p = 0; p < r.pointsPerLine; ++p) {
                const double swept = double(p) / r.pointsPerLine;
                const double azimuth =
                    r.region ? (line % 2 == 0 ? -45.0 + 90.0 * swept : 45.0 - 90.0 * swept)
                             : -180.0 + 360.0 * swept;
                add(azimuth, lineElevation(r, line));
            }
        }
    }
    return out;
}

// The stream in datagrams of 50 observations, arriving on the device clock.
std::vector<scan_frame_t> split(const std::vector<tavrel_rbe_obs_t>& observations) {
    tavrel::ScanFrameSplitter splitter;
    for (std::size_t begin = 0; begin < observations.size(); begin += 50) {
        const std::size_t count = std::min<std::size_t>(50, observations.size() - begin);
        splitter.AddBatch(&observations[begin], count, observations[begin].timestamp);
    }
    splitter.Finish();
    return splitter.TakeClosed();
}

std::uint64_t frameStart(const Raster& r, unsigned frame, std::uint32_t firstTimestamp = 1000) {
    return firstTimestamp +
           std::uint64_t(r.approachPoints + frame * r.lines * r.pointsPerLine) * kInterval;
}

// Frames from..r.frames-1 begin at the first line and hold one pass each.
void expectPasses(const std::vector<scan_frame_t>& frames, const Raster& r, unsigned from) {
    ASSERT_EQ(frames.size(), r.frames);
    for (unsigned f = from; f < r.frames; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        EXPECT_EQ(frames[f].firstTimestamp, frameStart(r, f));
        EXPECT_EQ(frames[f].points, std::uint64_t(r.lines) * r.pointsPerLine);
        EXPECT_EQ(frames[f].startSeen, f > 0);
        EXPECT_EQ(frames[f].endSeen, f + 1 < r.frames);
    }
}

void expectPassesAfterTheFirst(const std::vector<scan_frame_t>& frames, const Raster& r) {
    // The approach to the first line may read as a line step: the first pass
    // may be cut while the way the lines step is learnt, never a later one.
    ASSERT_GE(frames.size(), r.frames);
    const std::size_t extra = frames.size() - r.frames;
    EXPECT_LE(extra, 1u);
    for (unsigned f = 1; f < r.frames; ++f) {
        SCOPED_TRACE("pass " + std::to_string(f));
        const scan_frame_t& got = frames[f + extra];
        EXPECT_EQ(got.firstTimestamp, frameStart(r, f));
        EXPECT_EQ(got.points, std::uint64_t(r.lines) * r.pointsPerLine);
    }
    std::uint64_t points = 0;
    for (const scan_frame_t& f : frames)
        points += f.points;
    EXPECT_EQ(points, r.approachPoints + std::uint64_t(r.frames) * r.lines * r.pointsPerLine);
}

} // namespace

TEST(ScanDirection, ATopFirstRasterIsCutAtEachReturnToTheTopLine) {
    for (const unsigned lines : {3u, 5u, 40u}) {
        SCOPED_TRACE(std::to_string(lines) + " lines");
        Raster r;
        r.lines = lines;
        r.pointsPerLine = 12000 / lines;
        expectPasses(split(stream(r)), r, 0);
    }
}

TEST(ScanDirection, RegionScansAlternatingTheirAzimuthSplitTheSameEitherWayUp) {
    for (const bool topFirst : {false, true}) {
        for (const unsigned lines : {3u, 4u, 7u}) {
            SCOPED_TRACE(std::string(topFirst ? "top" : "bottom") + " first, " +
                         std::to_string(lines) + " lines");
            Raster r;
            r.region = true;
            r.topFirst = topFirst;
            r.lines = lines;
            expectPasses(split(stream(r)), r, 0);
        }
    }
}

TEST(ScanDirection, TheApproachToTheTopLineDisturbsTheFirstFrameAtMost) {
    for (const unsigned lines : {3u, 5u}) {
        SCOPED_TRACE(std::to_string(lines) + " lines");
        Raster r;
        r.lines = lines;
        r.approachPoints = 300;
        expectPassesAfterTheFirst(split(stream(r)), r);
    }
}

TEST(ScanDirection, ABottomFirstRasterOfTwoLinesIsNotTippedByItsApproach) {
    Raster r;
    r.lines = 2;
    r.topFirst = false;
    r.approachPoints = 300;
    r.frames = 8;
    expectPassesAfterTheFirst(split(stream(r)), r);
}
TEST(ScanDirection, AScanTheOtherWayUpIsFollowedWithinItsFirstPass) {
    Raster up;
    up.topFirst = false;
    up.frames = 4;
    Raster down = up;
    down.topFirst = true;
    down.frames = 6;
    std::vector<tavrel_rbe_obs_t> observations = stream(up);
    const std::uint32_t next =
        static_cast<std::uint32_t>(observations.back().timestamp) + kInterval;
    const std::vector<tavrel_rbe_obs_t> second = stream(down, next);
    observations.insert(observations.end(), second.begin(), second.end());

    const std::vector<scan_frame_t> frames = split(observations);
    // The bottom-first passes, then the top-first ones from the second on.
    ASSERT_GE(frames.size(), up.frames + down.frames - 1);
    for (unsigned f = 0; f + 1 < up.frames; ++f)
        EXPECT_EQ(frames[f].points, std::uint64_t(up.lines) * up.pointsPerLine) << f;
    const std::size_t last = frames.size() - 1;
    for (unsigned f = 1; f < down.frames; ++f) {
        SCOPED_TRACE("top-first pass " + std::to_string(f));
        const scan_frame_t& got = frames[last - (down.frames - 1 - f)];
        EXPECT_EQ(got.firstTimestamp, frameStart(down, f, next));
        EXPECT_EQ(got.points, std::uint64_t(down.lines) * down.pointsPerLine);
    }
}
