// Playing a recording: frames due at their capture times scaled by the speed, the end of the
// recording, an index that is still growing, and the texts the timeline shows.
#include "PlaybackClock.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kStart = 1700000000000000; // capture clock
constexpr std::uint64_t kNow = 5000000;            // steady clock of the player

// n frames, one every 100 ms of capture time, each 80 ms long.
std::vector<PlaybackFrameTimes> frames(std::size_t n, std::size_t from = 0) {
    std::vector<PlaybackFrameTimes> out;
    for (std::size_t i = from; i < from + n; ++i)
        out.push_back({kStart + i * 100000, kStart + i * 100000 + 80000});
    return out;
}

PlaybackClock clockOf(std::size_t n, bool complete = true) {
    PlaybackClock c;
    c.addFrames(frames(n));
    c.setIndexComplete(complete);
    return c;
}

} // namespace

TEST(PlaybackClock, FramesFallDueAtTheirCaptureTimesScaledByTheSpeed) {
    PlaybackClock c = clockOf(10);
    c.play(kNow);
    EXPECT_EQ(c.untilNextMicros(kNow), 100000);
    EXPECT_FALSE(c.update(kNow + 99999));
    EXPECT_EQ(c.current(), 0u);
    EXPECT_TRUE(c.update(kNow + 100000));
    EXPECT_EQ(c.current(), 1u);
    // A late update skips the frames whose time has passed.
    EXPECT_TRUE(c.update(kNow + 450000));
    EXPECT_EQ(c.current(), 4u);
    EXPECT_EQ(c.untilNextMicros(kNow + 450000), 50000);

    PlaybackClock slow = clockOf(10);
    slow.setSpeed(PlaybackSpeed::Quarter, kNow);
    slow.play(kNow);
    EXPECT_EQ(slow.untilNextMicros(kNow), 400000);
    EXPECT_FALSE(slow.update(kNow + 399999));
    EXPECT_TRUE(slow.update(kNow + 400000));

    PlaybackClock fast = clockOf(10);
    fast.setSpeed(PlaybackSpeed::Octuple, kNow);
    fast.play(kNow);
    EXPECT_EQ(fast.untilNextMicros(kNow), 12500);
    EXPECT_TRUE(fast.update(kNow + 12500));
    EXPECT_EQ(fast.current(), 1u);
}

TEST(PlaybackClock, ChangingTheSpeedGoesOnFromWhereTheRecordingStands) {
    PlaybackClock c = clockOf(10);
    c.play(kNow);
    // Half way to frame 1 at 1x, then 2x: the other 50 ms of capture take 25 ms.
    c.setSpeed(PlaybackSpeed::Double, kNow + 50000);
    EXPECT_EQ(c.untilNextMicros(kNow + 50000), 25000);
    EXPECT_FALSE(c.update(kNow + 74999));
    EXPECT_TRUE(c.update(kNow + 75000));
    EXPECT_EQ(c.current(), 1u);
}

TEST(PlaybackClock, AsFastAsPossibleStepsOnEveryUpdate) {
    PlaybackClock c = clockOf(3);
    c.setSpeed(PlaybackSpeed::AsFastAsPossible, kNow);
    c.play(kNow);
    EXPECT_EQ(c.untilNextMicros(kNow), 0);
    EXPECT_TRUE(c.update(kNow));
    EXPECT_TRUE(c.update(kNow));
    EXPECT_EQ(c.current(), 2u);
    // Stopping is news too: the play button changes.
    EXPECT_TRUE(c.update(kNow));
    EXPECT_FALSE(c.playing());
    EXPECT_EQ(c.untilNextMicros(kNow), -1);
}

TEST(PlaybackClock, TheEndStopsOnTheLastFrameOrLoopsToTheFirst) {
    PlaybackClock c = clockOf(3);
    c.play(kNow);
    c.update(kNow + 200000);
    EXPECT_EQ(c.current(), 2u);
    // The last frame is shown for its own length before playback ends.
    EXPECT_EQ(c.untilNextMicros(kNow + 200000), 80000);
    EXPECT_FALSE(c.update(kNow + 279999));
    EXPECT_TRUE(c.playing());
    EXPECT_TRUE(c.update(kNow + 280000));
    EXPECT_FALSE(c.playing());
    EXPECT_EQ(c.current(), 2u);
    // Play again at the end starts over.
    c.play(kNow + 500000);
    EXPECT_EQ(c.current(), 0u);
    EXPECT_TRUE(c.playing());

    PlaybackClock loop = clockOf(3);
    loop.setLoop(true);
    loop.play(kNow);
    loop.update(kNow + 200000);
    EXPECT_TRUE(loop.update(kNow + 280000));
    EXPECT_EQ(loop.current(), 0u);
    EXPECT_TRUE(loop.playing());
    EXPECT_TRUE(loop.update(kNow + 380000));
    EXPECT_EQ(loop.current(), 1u);
}

TEST(PlaybackClock, AtTheLastFrameOfAGrowingIndexPlaybackWaitsForTheNext) {
    PlaybackClock c = clockOf(2, false);
    c.play(kNow);
    c.update(kNow + 100000);
    EXPECT_FALSE(c.update(kNow + 180000));
    // Neither stopped nor looped: there is more to come, but nothing is due until it does.
    EXPECT_TRUE(c.playing());
    EXPECT_EQ(c.current(), 1u);
    EXPECT_EQ(c.untilNextMicros(kNow + 180000), -1);
    EXPECT_FALSE(c.update(kNow + 900000));

    // The next frame, found late, is shown at once and timing goes on from it.
    c.addFrames(frames(2, 2));
    EXPECT_EQ(c.untilNextMicros(kNow + 1000000), 0);
    EXPECT_TRUE(c.update(kNow + 1000000));
    EXPECT_EQ(c.current(), 2u);
    EXPECT_EQ(c.untilNextMicros(kNow + 1000000), 100000);
    EXPECT_TRUE(c.update(kNow + 1100000));
    EXPECT_EQ(c.current(), 3u);
    c.setIndexComplete(true);
    EXPECT_TRUE(c.update(kNow + 1180000));
    EXPECT_FALSE(c.playing());
}

TEST(PlaybackClock, StepsPauseAndStayWithinTheFrames) {
    PlaybackClock c = clockOf(3);
    c.stepBack();
    EXPECT_EQ(c.current(), 0u);
    c.play(kNow);
    c.stepForward();
    EXPECT_FALSE(c.playing());
    EXPECT_EQ(c.current(), 1u);
    c.stepForward();
    c.stepForward();
    EXPECT_EQ(c.current(), 2u);
    c.stepBack();
    EXPECT_EQ(c.current(), 1u);
    EXPECT_FALSE(c.update(kNow + 10000000));

    // A seek while playing goes on from the frame chosen.
    c.seek(99, kNow);
    EXPECT_EQ(c.current(), 2u);
    c.seek(0, kNow);
    c.play(kNow);
    c.seek(1, kNow + 30000);
    EXPECT_EQ(c.untilNextMicros(kNow + 30000), 100000);

    PlaybackClock none;
    none.stepForward();
    none.seek(3, kNow);
    none.play(kNow);
    EXPECT_FALSE(none.update(kNow + 1000000));
    EXPECT_EQ(none.current(), 0u);
    EXPECT_EQ(none.text(), "No frames yet");
}

TEST(PlaybackClock, Texts) {
    PlaybackClock c = clockOf(3);
    EXPECT_EQ(c.text(), "Frame 1 of 3 (0:00.000)");
    c.stepForward();
    EXPECT_EQ(c.text(), "Frame 2 of 3 (0:00.100)");
    EXPECT_EQ(frameCountText(0, 1), "Frame 1 of 1");
    EXPECT_EQ(recordingTimeText(61250999), "1:01.250");
    EXPECT_EQ(recordingTimeText(3723004000), "1:02:03.004");
    EXPECT_STREQ(playbackSpeedText(PlaybackSpeed::Quarter), "\u00bc\u00d7");
    EXPECT_STREQ(playbackSpeedText(PlaybackSpeed::Half), "\u00bd\u00d7");
    EXPECT_STREQ(playbackSpeedText(PlaybackSpeed::Octuple), "8\u00d7");
    EXPECT_STREQ(playbackSpeedText(PlaybackSpeed::AsFastAsPossible), "As fast as possible");
}
