// Motion replies through the library: a replaced motion never answers for its
// successor, long motions answer within the channel's time-out, and what the
// device reports of its timer, roll and target error is what runs.
#include "SimTestSupport.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>

using namespace sentova::sim;
using simtest::waitUntil;
using tavrel::Sentova;
using Clock = std::chrono::steady_clock;

namespace {

struct MotionSim {
    explicit MotionSim(SimulatorConfig c) : sim(std::move(c)) { sim.start(); }
    Simulator sim;
};

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Remembers the one result and when it came.
class TimedNotification : public tavrel::SentovaNotificationCallbackClass {
public:
    void NotificationCallback(tavrel::tavrel_error_t result) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_result) {
            m_result = result;
            m_at = Clock::now();
        }
    }
    std::optional<tavrel::tavrel_error_t> result() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_result;
    }
    Clock::time_point at() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_at;
    }

private:
    std::mutex m_mutex; // guards the two fields below
    std::optional<tavrel::tavrel_error_t> m_result;
    Clock::time_point m_at;
};

} // namespace

TEST(MotionReplies, MoveAfterATimedOutMoveAnswersWhenItHasArrived) {
    const std::string address = SIM_TEST_NET ".4.1";
    MotionSim f(simtest::quietConfig(address));
    Sentova device(address);
    ASSERT_EQ(device.Home(), tavrel::NoError);
    device.SetMotionTimeout(300);
    // 180 degrees at 50 degrees per second: a move of several seconds.
    const auto slow = device.SetApertureAngles(180.0, 0.0, 50.0);
    EXPECT_TRUE(slow == tavrel::NoError || slow == tavrel::Timeout) << slow;

    // A short move replaces it; its own answer comes when it has arrived.
    device.SetMotionTimeout(2500);
    const auto t0 = Clock::now();
    EXPECT_EQ(device.SetApertureAngles(20.0, 5.0, 200.0), tavrel::NoError);
    double az = 0.0, el = 0.0;
    ASSERT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_NEAR(az, 20.0, 1e-3) << "answered after " << msSince(t0) << " ms";
    EXPECT_NEAR(el, 5.0, 1e-3);
}

TEST(MotionReplies, ReplacedNonBlockingMoveNeverAnswersForTheNewOne) {
    const std::string address = SIM_TEST_NET ".4.2";
    MotionSim f(simtest::quietConfig(address));
    Sentova device(address);
    ASSERT_EQ(device.Home(), tavrel::NoError);
    TimedNotification first, second;
    ASSERT_EQ(device.SetApertureAngles(90.0, 0.0, 90.0, &first), tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().azimuth > 1.0; }));
    // The library replaces the outstanding move: only the second callback counts.
    const auto t0 = Clock::now();
    ASSERT_EQ(device.SetApertureAngles(-60.0, 0.0, 120.0, &second), tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return second.result().has_value(); }, 3000));
    EXPECT_EQ(*second.result(), tavrel::NoError);
    // From a few degrees past 0 to -60 at 120 degrees per second: about half a second.
    const double answeredAfter =
        std::chrono::duration<double, std::milli>(second.at() - t0).count();
    EXPECT_GT(answeredAfter, 400.0);
    double az = 0.0, el = 0.0;
    ASSERT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_NEAR(az, -60.0, 1e-3);
    EXPECT_FALSE(first.result().has_value());
}

TEST(MotionReplies, LongMotionsAnswerWithinTheMotionTimeout) {
    const std::string address = SIM_TEST_NET ".4.3";
    SimulatorConfig c = simtest::quietConfig(address);
    c.device.homeTimeMs = 3500;
    MotionSim f(c);
    Sentova device(address);

    auto t0 = Clock::now();
    EXPECT_EQ(device.Home(), tavrel::NoError);
    EXPECT_LT(msSince(t0), 2500.0);
    // Homing goes on: the device is not ready for a scan until it has finished.
    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::NotReady);
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().homed; }, 5000));
    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::NoError);
    EXPECT_EQ(device.Stop(), tavrel::NoError);

    double az0 = 0.0, el = 0.0;
    ASSERT_EQ(device.GetApertureAngles(az0, el), tavrel::NoError);
    t0 = Clock::now();
    // Half a turn at 50 degrees per second takes over three and a half seconds.
    EXPECT_EQ(device.SetApertureAngles(wrapDegrees(az0 + 179.0), 0.0, 50.0), tavrel::NoError);
    EXPECT_LT(msSince(t0), 2500.0);
    double az = 0.0;
    ASSERT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    const double away = std::fabs(wrapDegrees(az - az0));
    EXPECT_GT(away, 0.0);
    EXPECT_LT(away, 179.0);
    EXPECT_EQ(f.sim.status().motion, "moving");
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().motion == "idle"; }, 6000));
    ASSERT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_NEAR(std::fabs(wrapDegrees(az - az0)), 179.0, 1e-3);
}

TEST(MotionReplies, TimerReportsWhatRunsAndRollAndErrorFollowTheMotion) {
    const std::string address = SIM_TEST_NET ".4.4";
    MotionSim f(simtest::quietConfig(address));
    tavrel::SentovaEventManager events(address);
    unsigned frequency = 0;
    EXPECT_EQ(events.StartTimer(1000), tavrel::NoError);
    EXPECT_EQ(events.GetTimerFrequency(frequency), tavrel::NoError);
    EXPECT_EQ(frequency, 1000u);
    // Faster than the timer can tick: refused, and the running timer stays.
    EXPECT_EQ(events.StartTimer(40000), tavrel::ArgumentOutOfRange);
    EXPECT_EQ(events.GetTimerFrequency(frequency), tavrel::NoError);
    EXPECT_EQ(frequency, 1000u);

    Sentova device(address);
    ASSERT_EQ(device.Home(), tavrel::NoError);
    double restingRoll = 0.0, distance = 0.0;
    ASSERT_EQ(device.GetStabilisedTargetDistance(distance), tavrel::NoError);
    EXPECT_NEAR(distance, 0.0, 0.05);
    ASSERT_EQ(device.GetStabilisedRoll(restingRoll), tavrel::NoError);

    // A long move: the target error is the way still to go, the roll leans
    // with the turn.
    ASSERT_EQ(device.SetApertureAngles(150.0, 0.0, 60.0), tavrel::NoError);
    // Near full speed, and far from the end.
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().azimuth >= 10.0; }));
    double movingRoll = 0.0;
    ASSERT_EQ(device.GetStabilisedTargetDistance(distance), tavrel::NoError);
    ASSERT_EQ(device.GetStabilisedRoll(movingRoll), tavrel::NoError);
    EXPECT_GT(distance, 90.0);
    EXPECT_LT(distance, 150.0);
    EXPECT_GT(std::fabs(movingRoll - restingRoll), 0.1);
    EXPECT_LT(std::fabs(movingRoll), 2.0);
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().motion == "idle"; }, 5000));
    ASSERT_EQ(device.GetStabilisedTargetDistance(distance), tavrel::NoError);
    EXPECT_NEAR(distance, 0.0, 0.05);
}

TEST(MotionReplies, AnsweringOnArrivalHoweverLongIsAFault) {
    for (bool onArrival : {false, true}) {
        SCOPED_TRACE(onArrival ? "on arrival" : "within the bound");
        const std::string address = onArrival ? SIM_TEST_NET ".4.5" : SIM_TEST_NET ".4.6";
        SimulatorConfig c = simtest::quietConfig(address);
        c.device.motionReplyWithinMs = 300;
        c.device.answerMotionsOnArrival = onArrival;
        MotionSim f(c);
        Sentova device(address);
        ASSERT_EQ(device.Home(), tavrel::NoError);
        device.SetMotionTimeout(600);
        // 60 degrees at 60 per second: about a second.
        const auto t0 = Clock::now();
        EXPECT_EQ(device.SetApertureAngles(60.0, 0.0, 60.0),
                  onArrival ? tavrel::Timeout : tavrel::NoError);
        EXPECT_LT(msSince(t0), onArrival ? 700.0 : 300.0);
        ASSERT_TRUE(waitUntil([&] { return f.sim.status().motion == "idle"; }, 3000));
        double az = 0.0, el = 0.0;
        EXPECT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
        EXPECT_NEAR(az, 60.0, 1e-3);
    }
}

// The acceleration ("SVSEAC") and the stabilised speed ("SVSSSP") shape how the aperture moves.
// Every reading is checked against bounds that hold however late the test's threads run: a
// motion starts between the sending of its command and the arrival of the reply, and a reading
// is taken between the sending of the query and its answer.
TEST(MotionReplies, AccelerationAndStabilisedSpeedShapeTheMotion) {
    const std::string address = SIM_TEST_NET ".4.7";
    SimulatorConfig c = simtest::quietConfig(address);
    c.device.homeTimeMs = 50;
    MotionSim f(c);
    Sentova device(address);
    ASSERT_EQ(device.Home(), tavrel::NoError);
    const auto seconds = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    // One reading of the azimuth with the times around it.
    struct Reading {
        Clock::time_point sent, answered;
        double azimuth;
    };
    const auto read = [&] {
        Reading r;
        double elevation = 0.0;
        r.sent = Clock::now();
        EXPECT_EQ(device.GetApertureAngles(r.azimuth, elevation), tavrel::NoError);
        r.answered = Clock::now();
        return r;
    };

    // At 2 degrees per second squared, 90 degrees take 13.4 s (speeding up for the first half):
    // too long to wait for, so the move is answered at once, and it creeps away, 0.5 a t^2,
    // where the default acceleration would have covered 80 degrees after a second.
    ASSERT_EQ(device.SetAcceleration(2.0), tavrel::NoError);
    const Clock::time_point sent = Clock::now();
    ASSERT_EQ(device.SetApertureAngles(90.0, 0.0, 90.0), tavrel::NoError);
    const Clock::time_point accepted = Clock::now();
    std::string state;
    ASSERT_EQ(device.GetState(state), tavrel::NoError);
    EXPECT_NE(state.find("moving"), std::string::npos) << state;
    EXPECT_NE(state.find("acceleration 2"), std::string::npos) << state;
    int checked = 0;
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const Reading r = read();
        const double earliest = seconds(accepted, r.sent);
        const double latest = seconds(sent, r.answered);
        if (latest > 6.0) {
            break; // past the half way, where it brakes
        }
        EXPECT_GE(r.azimuth, 0.5 * 2.0 * earliest * earliest - 1e-6);
        EXPECT_LE(r.azimuth, 0.5 * 2.0 * latest * latest + 1e-6);
        ++checked;
    }
    EXPECT_GT(checked, 0);
    ASSERT_EQ(device.Stop(), tavrel::NoError);

    // Stabilised at 5 degrees per second, with an acceleration so high that the speed is
    // reached within a thousandth of a degree: the azimuth grows by 5 a second.
    ASSERT_EQ(device.SetAcceleration(10000.0), tavrel::NoError);
    const double start = read().azimuth;
    ASSERT_EQ(device.SetStabilisedSpeed(5.0), tavrel::NoError);
    ASSERT_EQ(device.SetStabilisedTarget(start + 30.0, 0.0, 0.0), tavrel::NoError);
    const Clock::time_point runSent = Clock::now();
    ASSERT_EQ(device.StartStabilisation(), tavrel::NoError);
    const Clock::time_point running = Clock::now();
    constexpr double kRamp = 0.05; // degrees lost to speeding up (0.02 at 20 a second)
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Reading slow = read();
    if (seconds(runSent, slow.answered) < 5.0) {
        EXPECT_GE(slow.azimuth - start, 5.0 * seconds(running, slow.sent) - kRamp);
        EXPECT_LE(slow.azimuth - start, 5.0 * seconds(runSent, slow.answered) + kRamp);
    }
    // A new speed applies at once, from where the aperture is.
    const Clock::time_point changeSent = Clock::now();
    ASSERT_EQ(device.SetStabilisedSpeed(20.0), tavrel::NoError);
    const Clock::time_point changed = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Reading fast = read();
    const double before = 5.0 * seconds(running, changeSent);
    if (before + 20.0 * seconds(changeSent, fast.answered) < 29.0) {
        EXPECT_GE(fast.azimuth - start, before + 20.0 * seconds(changed, fast.sent) - 2 * kRamp);
        EXPECT_LE(fast.azimuth - start, 5.0 * seconds(runSent, changed) +
                                            20.0 * seconds(changeSent, fast.answered) + 2 * kRamp);
    }
    ASSERT_EQ(device.GetState(state), tavrel::NoError);
    EXPECT_NE(state.find("stabilising"), std::string::npos) << state;
    ASSERT_EQ(device.StopStabilisation(), tavrel::NoError);
}
