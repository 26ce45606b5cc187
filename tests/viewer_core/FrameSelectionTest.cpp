#include "FrameSelection.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>

using namespace viewer;

namespace {

FrameSpan span(std::uint64_t index, std::uint64_t begin, std::uint64_t end, bool closed,
               std::uint64_t lastArrival = 0) {
    FrameSpan s;
    s.index = index;
    s.begin = begin;
    s.end = end;
    s.closed = closed;
    s.complete = closed;
    s.lastArrivalMicros = lastArrival;
    return s;
}

// count points with time stamps first, first + step, ... (taken modulo 2^32, as the device
// counts).
std::deque<DataPoint> stamped(std::size_t count, std::uint64_t first, std::uint64_t step) {
    std::deque<DataPoint> points(count);
    for (std::size_t i = 0; i < count; ++i) {
        points[i].timestamp = (first + i * step) & 0xffffffffu;
    }
    return points;
}

} // namespace

TEST(FrameSelection, LatestFrameIsTheLastClosedOneWithTheOpenOneOverIt) {
    const std::deque<DataPoint> buffer(100);
    const std::deque<FrameSpan> frames{span(0, 0, 30, true), span(1, 30, 70, true),
                                       span(2, 70, 100, false)};
    const ShownPoints latest = shownPoints(DisplayMode::LatestFrame, 5, frames, buffer, 100);
    EXPECT_EQ(latest.begin, 30u);
    EXPECT_EQ(latest.end, 100u);
    EXPECT_EQ(latest.frames, 2u);

    const ShownPoints two = shownPoints(DisplayMode::LastFrames, 2, frames, buffer, 100);
    EXPECT_EQ(two.begin, 0u);
    EXPECT_EQ(two.frames, 3u);
    // More frames asked for than the buffer holds: all of them.
    EXPECT_EQ(shownPoints(DisplayMode::LastFrames, 50, frames, buffer, 100).begin, 0u);
    // A count of 0 is taken as 1.
    EXPECT_EQ(shownPoints(DisplayMode::LastFrames, 0, frames, buffer, 100).begin, 30u);

    const ShownPoints all = shownPoints(DisplayMode::AllPoints, 1, frames, buffer, 100);
    EXPECT_EQ(all.begin, 0u);
    EXPECT_EQ(all.end, 100u);
}

TEST(FrameSelection, WithoutAClosedFrameTheOpenOneShows) {
    // A laser-only stream never climbs: one open frame, begun after the buffer was cleared.
    const std::deque<DataPoint> buffer(40);
    const std::deque<FrameSpan> frames{span(3, 1010, 1040, false)};
    const ShownPoints shown = shownPoints(DisplayMode::LatestFrame, 1, frames, buffer, 1040);
    EXPECT_EQ(shown.begin, 1010u);
    EXPECT_EQ(shown.frames, 1u);
    EXPECT_EQ(shownPoints(DisplayMode::LastFrames, 3, frames, buffer, 1040).begin, 1010u);
}

TEST(FrameSelection, AFramePartlyEvictedShowsWhatIsLeftAndNoFramesShowAll) {
    const std::deque<DataPoint> buffer(50);
    // The buffer holds arrivals 150..200; the closed frame began at 120.
    const std::deque<FrameSpan> frames{span(0, 120, 180, true), span(1, 180, 200, false)};
    EXPECT_EQ(shownPoints(DisplayMode::LatestFrame, 1, frames, buffer, 200).begin, 150u);
    // A loaded file's points belong to no frame.
    const ShownPoints file = shownPoints(DisplayMode::LatestFrame, 1, {}, buffer, 200);
    EXPECT_EQ(file.begin, 150u);
    EXPECT_EQ(file.end, 200u);
}

TEST(FrameSelection, LastSecondsDecaysByDeviceTimeAcrossTheCounterWrap) {
    // 10 points a second of device time, the counter wrapping past 2^32 in the middle.
    const std::uint64_t first = 0xffffffffu - 2'500'000u;
    const std::deque<DataPoint> buffer = stamped(60, first, 100'000);
    const std::deque<FrameSpan> frames{span(0, 0, 30, true), span(1, 30, 60, false)};
    const ShownPoints shown = shownPoints(DisplayMode::LastSeconds, 2, frames, buffer, 60);
    // The newest point and the 20 before it are at most two seconds old.
    EXPECT_EQ(shown.begin, 39u);
    EXPECT_EQ(shown.end, 60u);
    EXPECT_EQ(shown.frames, 1u);
    const ShownPoints longer = shownPoints(DisplayMode::LastSeconds, 4, frames, buffer, 60);
    EXPECT_EQ(longer.begin, 19u);
    EXPECT_EQ(longer.frames, 2u);
    // Longer than the buffer: everything.
    EXPECT_EQ(shownPoints(DisplayMode::LastSeconds, 3600, frames, buffer, 60).begin, 0u);
    EXPECT_EQ(shownPoints(DisplayMode::LastSeconds, 2, frames, {}, 60).begin, 60u);
}

TEST(FrameSelection, AgeAcrossTheWrap) {
    EXPECT_EQ(ageMicros(0xfffffff0u, 0x10u), 0x20u);
    EXPECT_EQ(ageMicros(5, 5), 0u);
    // Only the counter's 32 bits count.
    EXPECT_EQ(ageMicros(0x1'0000'0005u, 0x2'0000'0009u), 4u);
}

TEST(FrameSelection, FrameRateFromTheLastClosedFrames) {
    std::deque<FrameSpan> frames;
    // Frames closing every 100 ms from 1 s to 2 s, then every 250 ms to 4.5 s; the last is open.
    std::uint64_t at = 1'000'000u;
    for (int i = 0; i <= 20; ++i) {
        frames.push_back(span(i, i * 10, i * 10 + 10, true, at));
        at += i < 10 ? 100'000u : 250'000u;
    }
    frames.push_back(span(21, 210, 215, false, at));
    // The last ten closed frames, all 250 ms apart.
    EXPECT_NEAR(frameRate(frames, at), 4.0, 1e-9);
    // Slow frames are still counted a while after the last one closed...
    EXPECT_NEAR(frameRate(frames, at + 1'500'000u), 4.0, 1e-9);
    // ...but not once the stream has plainly stopped.
    EXPECT_EQ(frameRate(frames, at + 5'000'000u), 0.0);
    // One closed frame gives no rate.
    EXPECT_EQ(frameRate({span(0, 0, 5, true, 10), span(1, 5, 9, false, 20)}, 30), 0.0);
    EXPECT_EQ(frameRate({}, 0), 0.0);
}
