#include "DeviceStatusText.h"
#include "StreamHealth.h"

#include <gtest/gtest.h>

using namespace viewer;
using sentova::session::Channel;
using Answer = DeviceActivity::Answer;
using Laser = DeviceActivity::Laser;

namespace {

std::string bytes(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

// A command on a channel answered "EA" (or as given) after 5 ms.
void exchange(DeviceActivity& a, Channel ch, const std::string& command, std::int64_t& now,
              const std::string& status = "EA", const std::string& payload = {}) {
    a.sent(ch, command, now);
    now += 5;
    a.received(ch, status + command.substr(2, 4) + payload, now);
    now += 5;
}

} // namespace

TEST(DeviceActivity, AnsweringFollowsRepliesAndTimeOuts) {
    DeviceActivity a;
    EXPECT_EQ(a.answer(0), Answer::Unknown);
    a.sent(Channel::Control, "SVCQRE", 1000);
    EXPECT_EQ(a.answer(1500), Answer::Unknown) << "still within its time-out";
    EXPECT_EQ(a.answer(1800), Answer::NotAnswering);
    EXPECT_EQ(answerText(a.answer(1800), a.lastReplyMs(), 1800), "not answering, no reply yet");

    std::int64_t now = 2000;
    exchange(a, Channel::Events, "SVERST", now);
    EXPECT_EQ(a.answer(now), Answer::Answering) << "the device answered since";
    EXPECT_EQ(answerText(a.answer(now + 1195), a.lastReplyMs(), now + 1200),
              "answering, last reply 1.2 s ago");

    // A home takes the motion time-out, not the response one.
    a.sent(Channel::Control, "SVHOME", 5000);
    EXPECT_EQ(a.answer(6000), Answer::Answering);
    EXPECT_EQ(a.answer(7800), Answer::NotAnswering);
    EXPECT_EQ(answerText(a.answer(40000), a.lastReplyMs(), 40000),
              "not answering, last reply 37 s ago");
    // A late answer of the home counts again.
    a.received(Channel::Control, "EAHOME", 8000);
    EXPECT_EQ(a.answer(8000), Answer::Answering);

    // The event manager waits 5 s for its replies.
    a.sent(Channel::Events, "SVERST", 9000);
    EXPECT_EQ(a.answer(13000), Answer::Answering);
    EXPECT_EQ(a.answer(14300), Answer::NotAnswering);
}

TEST(DeviceActivity, QuietChannelsCallForAQuery) {
    DeviceActivity a;
    EXPECT_TRUE(a.quietFor(5000, 0));
    a.sent(Channel::Control, "SVCQRE", 1000);
    EXPECT_FALSE(a.quietFor(5000, 5999));
    a.received(Channel::Control, "ERCQRE" + std::string("LX30-31"), 3000);
    EXPECT_FALSE(a.quietFor(5000, 7999));
    EXPECT_TRUE(a.quietFor(5000, 8000));
}

TEST(DeviceActivity, SerialAndFirmware) {
    DeviceActivity a;
    std::int64_t now = 0;
    exchange(a, Channel::Control, "SVCQRE", now, "ER", "LX30-31-SIM0001");
    EXPECT_EQ(a.serial(), "LX30-31-SIM0001");
    EXPECT_EQ(describeSerial(a.serial()), "LX30, firmware 31");
    EXPECT_EQ(describeSerial("SN-LX20-29"), "LX20, firmware unknown") << "read after the first '-'";
    EXPECT_EQ(describeSerial("SV-31-SIM0001"), "generic model, firmware 31");
    EXPECT_EQ(describeSerial("33LX20"), "LX20, firmware 33");
    EXPECT_EQ(describeSerial("LX20-7x"), "LX20, firmware 7");
    EXPECT_EQ(describeSerial(""), "unknown");

    // A failed query leaves the serial as it was.
    exchange(a, Channel::Control, "SVCQRE", now, "EE", bytes({3}));
    EXPECT_EQ(a.serial(), "LX30-31-SIM0001");
}

TEST(DeviceActivity, LaserAndScanAsThisProgramSetThem) {
    DeviceActivity a;
    std::int64_t now = 0;
    EXPECT_EQ(laserText(a.laser()), "stopped");
    exchange(a, Channel::Events, "SVRRBE" + bytes({0, 0, 0, 0x11, 0x0e}), now);
    EXPECT_EQ(a.laser(), Laser::Started);
    EXPECT_TRUE(a.streamStarted());
    exchange(a, Channel::Events, "SVSRBE", now);
    EXPECT_FALSE(a.streamStarted());

    // Refused starts change nothing; a reply for another command neither.
    exchange(a, Channel::Events, "SVRRBE" + bytes({0, 0, 0, 0x11, 0x0e}), now, "EE", bytes({5}));
    EXPECT_FALSE(a.streamStarted());
    a.sent(Channel::Events, "SVRRBE" + bytes({0, 0, 0, 0x11, 0x0e}), now);
    a.received(Channel::Events, "EASTOP", now + 1);
    EXPECT_FALSE(a.streamStarted());

    exchange(a, Channel::Control, "SVSFFS" + bytes({0, 5, 0, 0, 0, 99, 0, 0}), now);
    EXPECT_TRUE(a.scanStarted());
    exchange(a, Channel::Control, "SVSTOP", now);
    EXPECT_FALSE(a.scanStarted());
    exchange(a, Channel::Control, "SVSRES" + std::string(24, '\0'), now);
    EXPECT_TRUE(a.scanStarted());
}

TEST(DeviceActivity, GetFrameArmsStreamsAndStopsByTheDevicesEvents) {
    DeviceActivity a;
    std::int64_t now = 0;
    const std::string start = "SVRRBE" + bytes({1, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x0e});
    exchange(a, Channel::Events, "SVERST", now);
    exchange(a, Channel::Events, "SVECCF" + bytes({128}) + start, now);
    exchange(a, Channel::Events, "SVECCF" + bytes({129}) + "SVSRBE", now);
    exchange(a, Channel::Events, "SVECCF" + bytes({130}) + "SVSTOP", now);
    EXPECT_EQ(a.laser(), Laser::Stopped);
    exchange(a, Channel::Events, "SVEENB" + bytes({0, 128, 0}), now);
    EXPECT_EQ(a.laser(), Laser::Armed);
    EXPECT_EQ(laserText(a.laser()), "armed by Get Frame");
    EXPECT_TRUE(a.streamStarted()) << "an armed start counts for the stops at quit";
    exchange(a, Channel::Events, "SVEENB" + bytes({1, 129, 0}), now);
    exchange(a, Channel::Events, "SVEENB" + bytes({1, 130, 0}), now);
    exchange(a, Channel::Control, "SVSFFS" + bytes({0, 10, 0, 0, 0, 3, 0, 0}), now);
    EXPECT_TRUE(a.scanStarted());

    a.received(Channel::Events, "EBAACK" + bytes({0, 0, 0, 0, 1}), now);
    EXPECT_EQ(a.laser(), Laser::StreamingFrame);
    a.received(Channel::Events, "EBAACK" + bytes({1, 0, 0, 0, 1}), now);
    EXPECT_EQ(a.laser(), Laser::Stopped);
    EXPECT_FALSE(a.scanStarted());
    // The bindings ran once: the next frame starts nothing.
    a.received(Channel::Events, "EBAACK" + bytes({0, 0, 0, 0, 2}), now);
    EXPECT_EQ(a.laser(), Laser::Stopped);

    // Armed again, then the operator's next command resets the events: nothing is armed.
    exchange(a, Channel::Events, "SVECCF" + bytes({128}) + start, now);
    exchange(a, Channel::Events, "SVEENB" + bytes({0, 128, 0}), now);
    EXPECT_EQ(a.laser(), Laser::Armed);
    exchange(a, Channel::Events, "SVERST", now);
    EXPECT_EQ(a.laser(), Laser::Stopped);
}

TEST(StreamHealth, RatesAndTroubleColours) {
    StreamHealth h;
    h.update({}, 0);
    EXPECT_EQ(h.figures().kernelDrops, Severity::Normal);
    h.update({250, 10000, 0, 0, 0}, 1000);
    EXPECT_DOUBLE_EQ(h.figures().datagramsPerSecond, 250.0);
    EXPECT_EQ(h.figures().refused, Severity::Normal);

    // A burst the system could not take, gaps in the time stamps, a stranger's datagram.
    h.update({500, 20000, 3, 40, 1600}, 2000);
    StreamFigures f = h.figures();
    EXPECT_EQ(f.kernelDrops, Severity::Trouble);
    EXPECT_EQ(f.refused, Severity::Warning);
    EXPECT_EQ(f.totals.kernelDrops, 40u);
    EXPECT_EQ(f.totals.gaps, 1600u);

    // Gaps alone, however many (a scan of open sky returns nothing for most beams), signal
    // nothing: only the drops the listener knows of do.
    StreamHealth sky;
    sky.update({}, 0);
    sky.update({250, 1000, 0, 0, 9000}, 1000);
    sky.update({500, 2000, 0, 0, 18000}, 2000);
    const StreamFigures skyFigures = sky.figures();
    EXPECT_EQ(skyFigures.totals.gaps, 18000u);
    EXPECT_EQ(skyFigures.kernelDrops, Severity::Normal);
    EXPECT_EQ(skyFigures.queueDrops, Severity::Normal);
    EXPECT_EQ(skyFigures.refused, Severity::Normal);
    // Fewer gaps than before is a listener started again, as for every counter.
    sky.update({10, 40, 0, 0, 5}, 3000);
    EXPECT_EQ(sky.figures().totals.gaps, 5u);
    EXPECT_DOUBLE_EQ(sky.figures().datagramsPerSecond, 10.0);

    // Steady for a while: still shown, no longer as loss happening now.
    h.update({750, 30000, 3, 40, 1600}, 11000);
    EXPECT_EQ(h.figures().kernelDrops, Severity::Trouble);
    h.update({1000, 40000, 3, 40, 1600}, 12500);
    EXPECT_EQ(h.figures().kernelDrops, Severity::Warning);
    EXPECT_NEAR(h.figures().datagramsPerSecond, 250.0 / 1.5, 1e-9);

    // The window fell behind the stream: the listener's drops are loss as well.
    h.update({1100, 44000, 3, 40, 1600, 7}, 13000);
    EXPECT_EQ(h.figures().queueDrops, Severity::Trouble);
    EXPECT_EQ(h.figures().totals.queueDrops, 7u);
    h.update({1200, 48000, 3, 40, 1600, 7}, 23500);
    EXPECT_EQ(h.figures().queueDrops, Severity::Warning);

    // The listener started again: counters from zero, no negative rate.
    h.update({100, 4000, 0, 0, 0}, 24500);
    EXPECT_DOUBLE_EQ(h.figures().datagramsPerSecond, 100.0);
    EXPECT_EQ(h.figures().kernelDrops, Severity::Normal);
    EXPECT_EQ(h.figures().queueDrops, Severity::Normal);
}

TEST(DeviceStatusText, Ages) {
    EXPECT_EQ(ageText(400), "0.4 s");
    EXPECT_EQ(ageText(9940), "9.9 s");
    EXPECT_EQ(ageText(37000), "37 s");
    EXPECT_EQ(ageText(180000), "3 min");
    EXPECT_EQ(ageText(3 * 3600000LL), "3 h");
    EXPECT_EQ(ageText(-5), "0.0 s");
}
