// The frames and points a recording's playback shows with the current frame in each display mode.
#include "PlaybackFrames.h"

#include <gtest/gtest.h>

using viewer::DisplayMode;

namespace {

// A frame of n points whose time stamps run from first, step apart.
std::vector<DataPoint> frame(std::size_t n, std::uint64_t first, std::uint64_t step) {
    std::vector<DataPoint> points(n);
    for (std::size_t i = 0; i < n; ++i) {
        points[i].timestamp = (first + i * step) & 0xffffffffu;
    }
    return points;
}

} // namespace

TEST(PlaybackFrames, LastNFramesReachesBackNAndStopsAtTheStart) {
    const auto none = [](std::size_t) -> std::uint64_t { return 0; };
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LastFrames, 3, 10, none), 8u);
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LastFrames, 3, 1, none), 0u);
    // N of 0 is taken as 1, and the reach is bounded whatever N asks.
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LastFrames, 0, 10, none), 10u);
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LastFrames, 100000, 5000, none),
              5000u - (viewer::kMostPlaybackFrames - 1));
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LatestFrame, 3, 10, none), 10u);
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::AllPoints, 3, 10, none), 10u);
}

TEST(PlaybackFrames, LastSecondsReachesBackByDeviceTimeAcrossTheWrap) {
    // Frames end 0.4 s apart, the counter wrapping between frames 5 and 6.
    const auto last = [](std::size_t i) -> std::uint64_t {
        return (0xffffffffull - 2000000 + 400000 * i) & 0xffffffffu;
    };
    // Within 1 s of frame 8's end: frames 6 and 7 (0.8 s and 0.4 s before), not 5 (1.2 s).
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LastSeconds, 1, 8, last), 6u);
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LastSeconds, 2, 8, last), 4u);
    EXPECT_EQ(viewer::firstPlaybackFrame(DisplayMode::LastSeconds, 60, 8, last), 0u);
}

TEST(PlaybackFrames, PointsOfTheLastSecondsAndTheCapKeepTheCurrentFrameWhole) {
    // Three frames of 500 points 1 ms apart, 0.6 s from start to start; the counter wraps inside
    // the third.
    const std::uint64_t start = 0xffffffffull - 1500000;
    const std::deque<std::vector<DataPoint>> frames = {frame(500, start, 1000),
                                                       frame(500, start + 600000, 1000),
                                                       frame(500, start + 1200000, 1000)};

    // Within 1 s of the newest point (1.699 s after the first): the second frame from 0.7 s on.
    const std::deque<DataPoint> recent =
        viewer::playbackPoints(DisplayMode::LastSeconds, 1, frames, 1000000);
    ASSERT_EQ(recent.size(), 900u);
    EXPECT_EQ(recent.front().timestamp, start + 700000);
    EXPECT_EQ(recent.back().timestamp, frames.back().back().timestamp);
    // A cap inside the recent points of an older frame keeps its newest ones, in order.
    const std::deque<DataPoint> recentCapped =
        viewer::playbackPoints(DisplayMode::LastSeconds, 1, frames, 700);
    ASSERT_EQ(recentCapped.size(), 700u);
    EXPECT_EQ(recentCapped.front().timestamp, start + 900000);
    EXPECT_EQ(recentCapped[199].timestamp, start + 1099000);
    EXPECT_EQ(recentCapped[200].timestamp, frames.back().front().timestamp);

    const std::deque<DataPoint> all =
        viewer::playbackPoints(DisplayMode::LastFrames, 3, frames, 1000000);
    ASSERT_EQ(all.size(), 1500u);
    EXPECT_EQ(all.front().timestamp, start);

    // The cap drops the oldest points first, but not below the current frame.
    const std::deque<DataPoint> capped =
        viewer::playbackPoints(DisplayMode::LastFrames, 3, frames, 1000);
    ASSERT_EQ(capped.size(), 1000u);
    EXPECT_EQ(capped.front().timestamp, start + 600000);
    EXPECT_EQ(viewer::playbackPoints(DisplayMode::LastFrames, 3, frames, 10).size(), 500u);
    EXPECT_TRUE(viewer::playbackPoints(DisplayMode::LatestFrame, 1, {}, 10).empty());
}
