// The library's device facade and event manager against the simulator over
// loopback: the exchanges the viewer relies on, and what each injected fault
// turns into on the library's side.
#include "SimTestSupport.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace sentova::sim;
using simtest::waitUntil;
using tavrel::CommandSerialiser;
using tavrel::Sentova;
using tavrel::SentovaEventManager;

namespace {

// Starts a simulator on a loopback address of its own at the device port.
struct SimFixture {
    explicit SimFixture(SimulatorConfig c) : sim(std::move(c)) { sim.start(); }
    Simulator sim;
};

SimulatorConfig config(const std::string& address) {
    return simtest::quietConfig(address);
}

class RecordingNotification : public tavrel::SentovaNotificationCallbackClass {
public:
    void NotificationCallback(tavrel::tavrel_error_t result) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_results.push_back(result);
    }
    std::vector<tavrel::tavrel_error_t> results() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results;
    }

private:
    std::mutex m_mutex; // guards m_results
    std::vector<tavrel::tavrel_error_t> m_results;
};

class RecordingEvents : public tavrel::SentovaEventCallbackClass {
public:
    struct Event {
        unsigned kind, event;
    };
    void EventCallback(unsigned int kind, unsigned int event, char* payload) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        EXPECT_EQ(static_cast<unsigned char>(payload[0]), event);
        m_events.push_back({kind, event});
    }
    std::vector<Event> events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex; // guards m_events
    std::vector<Event> m_events;
};

class RecordingTrigger : public tavrel::SentovaHighPerfTriggerCallbackClass {
public:
    void HighPerfTriggerCallback(unsigned int index, unsigned int, double, double elevation,
                                 unsigned int exp) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastIndex = index;
        m_lastElevation = elevation;
        m_lastExp = exp;
        ++m_calls;
    }
    unsigned calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    void last(unsigned& index, double& elevation, unsigned& exp) {
        std::lock_guard<std::mutex> lock(m_mutex);
        index = m_lastIndex;
        elevation = m_lastElevation;
        exp = m_lastExp;
    }

private:
    std::mutex m_mutex; // guards the fields below
    unsigned m_calls = 0, m_lastIndex = 0, m_lastExp = 0;
    double m_lastElevation = 0.0;
};

} // namespace

TEST(LibraryAgainstSim, HomeThenScanAndNotHomedBefore) {
    SimFixture f(config(SIM_TEST_NET ".2.1"));
    Sentova device(SIM_TEST_NET ".2.1");
    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::NotHomed);
    EXPECT_EQ(device.StartRegionScan(5.0, 15, 345, -35, 35, 99.99), tavrel::NotHomed);
    EXPECT_EQ(device.Home(), tavrel::NoError);
    EXPECT_TRUE(f.sim.status().homed);
    EXPECT_EQ(device.StartFullFieldScan(5.0, 99.99), tavrel::NoError);
    EXPECT_EQ(device.StartFullFieldScan(30.0, 10.0), tavrel::ArgumentOutOfRange);
    EXPECT_EQ(device.StartBoundedElevationScan(5.0, -10.0, 20.0, 4.0), tavrel::NoError);
    EXPECT_EQ(device.StartRegionScan(5.0, 15, 345, -35, 35, 99.99), tavrel::NoError);
    EXPECT_EQ(f.sim.status().motion, "scanning");
    double az = 1000.0, el = 1000.0;
    EXPECT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_GE(el, -35.0);
    EXPECT_LE(el, 35.0);
    EXPECT_EQ(device.Stop(), tavrel::NoError);
    EXPECT_EQ(f.sim.status().motion, "idle");

    EXPECT_EQ(device.SetApertureAngles(45.0, 10.0, 900.0), tavrel::NoError); // answered on arrival
    EXPECT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_NEAR(az, 45.0, 1e-6);
    EXPECT_NEAR(el, 10.0, 1e-6);

    // The facade sends whole lines: 99.99 lines arrive as 99.
    const auto last = f.sim.received();
    bool sawScan = false;
    for (const auto& c : last)
        if (c.bytes == CommandSerialiser::SVSFFS(5.0, 99.0))
            sawScan = true;
    EXPECT_TRUE(sawScan);
}

TEST(LibraryAgainstSim, NonBlockingHomeReportsWhenDone) {
    SimulatorConfig c = config(SIM_TEST_NET ".2.2");
    c.device.homeTimeMs = 200;
    SimFixture f(c);
    Sentova device(SIM_TEST_NET ".2.2");
    RecordingNotification done;
    EXPECT_EQ(device.Home(&done), tavrel::NoError);
    EXPECT_TRUE(done.results().empty());
    ASSERT_TRUE(waitUntil([&] { return !done.results().empty(); }));
    EXPECT_EQ(done.results(), std::vector<tavrel::tavrel_error_t>{tavrel::NoError});
    EXPECT_EQ(device.GetLastNonBlockingError(), tavrel::NoError);
}

TEST(LibraryAgainstSim, SerialAndVersionCheck) {
    SimFixture current(config(SIM_TEST_NET ".2.3"));
    SimulatorConfig old = config(SIM_TEST_NET ".2.4");
    old.device.serial = defaultSerial(LIDAR_LX20, 29);
    SimFixture outdated(old);

    Sentova a(SIM_TEST_NET ".2.3");
    std::string serial;
    EXPECT_EQ(a.GetSerial(serial), tavrel::NoError);
    EXPECT_EQ(serial, "LX30-31-SIM0001");
    EXPECT_EQ(a.VerifyLibVersion(), tavrel::NoError);

    Sentova b(SIM_TEST_NET ".2.4");
    EXPECT_EQ(b.GetSerial(serial), tavrel::NoError);
    EXPECT_NE(serial.find("LX20"), std::string::npos);
    EXPECT_EQ(b.VerifyLibVersion(), tavrel::LibraryIncompatible);
}

TEST(LibraryAgainstSim, FaultsBecomeTheDocumentedResults) {
    SimulatorConfig dropping = config(SIM_TEST_NET ".2.5");
    dropping.faults.dropReplies = 1.0;
    SimFixture silent(dropping);
    Sentova lost(SIM_TEST_NET ".2.5");
    lost.SetResponseTimeout(150);
    std::string serial = "unchanged";
    EXPECT_EQ(lost.GetSerial(serial), tavrel::Timeout);
    EXPECT_EQ(serial, "unchanged");
    EXPECT_EQ(lost.Stop(), tavrel::Timeout);

    SimulatorConfig erring = config(SIM_TEST_NET ".2.6");
    erring.faults.errors["SVSFFS"] = tavrel::ScanTooSparse;
    erring.faults.errors["SVSTOP"] = 255;
    erring.faults.errors["SVECCF"] = tavrel::InvalidArgument;
    erring.faults.wrongStem.insert("SVCQRE");
    erring.faults.duplicateReplies = true;
    SimFixture faulty(erring);
    Sentova device(SIM_TEST_NET ".2.6");
    device.SetResponseTimeout(150);
    EXPECT_EQ(device.Home(), tavrel::NoError);
    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::ScanTooSparse);
    EXPECT_EQ(device.Stop(), tavrel::OtherError);
    EXPECT_EQ(device.GetSerial(serial), tavrel::Timeout); // a wrong stem matches nothing
    // Duplicated replies do not confuse the next transaction.
    EXPECT_EQ(device.StartBoundedElevationScan(5.0, 0.0, 10.0, 2.0), tavrel::NoError);
    EXPECT_EQ(device.StartBoundedElevationScan(5.0, 0.0, 10.0, 2.0), tavrel::NoError);
    SentovaEventManager events(SIM_TEST_NET ".2.6");
    EXPECT_EQ(events.ConfigureCommandBuffer(129, "SVSRBE"), tavrel::InvalidArgument);

    SimulatorConfig slow = config(SIM_TEST_NET ".2.7");
    slow.faults.delayRepliesMs = 300;
    SimFixture late(slow);
    Sentova delayed(SIM_TEST_NET ".2.7");
    delayed.SetResponseTimeout(150);
    EXPECT_EQ(delayed.GetSerial(serial), tavrel::Timeout);
    delayed.SetResponseTimeout(1000);
    // Let the late reply to the first request pass before asking again: every
    // reply of this simulator is delayed, and counted when it leaves.
    ASSERT_TRUE(waitUntil([&] {
        const auto c = late.sim.counters();
        return c.repliesSent == c.repliesDelayed;
    }));
    EXPECT_EQ(delayed.GetSerial(serial), tavrel::NoError);
}

TEST(LibraryAgainstSim, HomeLongerThanTheMotionTimeoutTimesOut) {
    SimulatorConfig c = config(SIM_TEST_NET ".2.8");
    c.device.homeTimeMs = 600;
    SimFixture f(c);
    Sentova device(SIM_TEST_NET ".2.8");
    device.SetMotionTimeout(300);
    EXPECT_EQ(device.Home(), tavrel::Timeout);
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().homed; }));
    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::NoError);
}

TEST(LibraryAgainstSim, TriggerRecordsReachTheCallback) {
    SimFixture f(config(SIM_TEST_NET ".2.9"));
    Sentova device(SIM_TEST_NET ".2.9");
    RecordingTrigger trigger;
    EXPECT_EQ(device.TestHighPerformanceTrigger(1, 2), tavrel::InvalidCallback);
    ASSERT_EQ(device.RegisterHighPerfTriggerCallback(&trigger), tavrel::NoError);
    EXPECT_EQ(device.TestHighPerformanceTrigger(3, 42), tavrel::NoError);
    unsigned index = 0, exp = 0;
    double elevation = 0.0;
    ASSERT_TRUE(waitUntil([&] {
        trigger.last(index, elevation, exp);
        return trigger.calls() > 0 && index == 2;
    }));
    EXPECT_EQ(exp, 42u);

    ASSERT_EQ(device.Home(), tavrel::NoError);
    EXPECT_EQ(device.SetApertureAnglesWithTrigger(0.0, 20.0, 200.0, 4, 7), tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] {
        trigger.last(index, elevation, exp);
        return exp == 7 && index == 3;
    }));
    EXPECT_NEAR(elevation, 20.0, 1e-6);
}

TEST(LibraryAgainstSim, OneFrameCaptureThroughCommandBuffersAndEvents) {
    SimFixture f(config(SIM_TEST_NET ".2.10"));
    Sentova device(SIM_TEST_NET ".2.10");
    SentovaEventManager events(SIM_TEST_NET ".2.10");
    RecordingEvents seen;
    events.RegisterEventCallback(0, &seen);
    events.RegisterEventCallback(1, &seen);
    simtest::UdpClient data;

    ASSERT_EQ(device.Home(), tavrel::NoError);
    // The viewer's "Get Frame" sequence.
    ASSERT_EQ(events.ResetEvents(), tavrel::NoError);
    const auto laserStart =
        CommandSerialiser::SVRRBE({{1, 1}, {2, 0}, {0, static_cast<int>(data.port())}});
    ASSERT_EQ(events.ConfigureCommandBuffer(128, laserStart), tavrel::NoError);
    ASSERT_EQ(events.ConfigureCommandBuffer(129, "SVSRBE"), tavrel::NoError);
    ASSERT_EQ(events.ConfigureCommandBuffer(130, "SVSTOP"), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(128, 0, false), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(129, 1, false), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(130, 1, false), tavrel::NoError);
    bool armed = false, fired = true;
    ASSERT_EQ(events.EventStatus(128, 0, armed, fired), tavrel::NoError);
    EXPECT_TRUE(armed);
    EXPECT_FALSE(fired);
    // Three lines at 15 turns per second: a frame of 0.2 s.
    ASSERT_EQ(device.StartFullFieldScan(15.0, 3.0), tavrel::NoError);

    ASSERT_TRUE(waitUntil([&] { return f.sim.status().framesCompleted == 1; }));
    ASSERT_TRUE(waitUntil([&] { return seen.events().size() == 2; }));
    EXPECT_EQ(seen.events()[0].kind, 0u);
    EXPECT_EQ(seen.events()[0].event, 0u);
    EXPECT_EQ(seen.events()[1].event, 1u);
    const auto status = f.sim.status();
    EXPECT_FALSE(status.streaming);
    EXPECT_EQ(status.motion, "idle");
    EXPECT_EQ(status.framesStarted, 1u);

    // Every point of the frame arrived, from the frame's 0.2 s at 5000 per second.
    std::size_t points = 0;
    while (auto packet = data.receive(200))
        points += tavrel::examineLaserPacket(reinterpret_cast<const unsigned char*>(packet->data()),
                                             packet->size())
                      .records;
    EXPECT_EQ(points, status.pointsSent);
    EXPECT_GT(points, 900u);
    EXPECT_LE(points, 1001u);
    ASSERT_EQ(events.EventStatus(128, 0, armed, fired), tavrel::NoError);
    EXPECT_FALSE(armed);
    EXPECT_TRUE(fired);
}

TEST(LibraryAgainstSim, EventTimerAndIsolatedIO) {
    SimFixture f(config(SIM_TEST_NET ".2.11"));
    SentovaEventManager events(SIM_TEST_NET ".2.11");
    unsigned frequency = 0;
    EXPECT_EQ(events.StartTimer(250), tavrel::NoError);
    EXPECT_EQ(events.GetTimerFrequency(frequency), tavrel::NoError);
    EXPECT_EQ(frequency, 250u);
    EXPECT_EQ(events.StopTimer(), tavrel::NoError);
    EXPECT_EQ(events.IsolatedIOSet(0x21), tavrel::NoError);
    EXPECT_EQ(events.IsolatedIOToggle(0), tavrel::NoError);
    unsigned char out = 0, in = 0;
    EXPECT_EQ(events.IsolatedIOGet(out, in), tavrel::NoError);
    EXPECT_EQ(out, 0x20);
    EXPECT_EQ(events.IsolatedIOSetEventInput(1, 2), tavrel::NoError);
    EXPECT_EQ(events.IsolatedIOGetEventInput(out, in), tavrel::NoError);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(in, 2);
    double az = -1.0, el = -1.0;
    EXPECT_EQ(events.IsolatedIOGetCapturedAngles(az, el), tavrel::NoError);
    EXPECT_EQ(az, 0.0);
    EXPECT_EQ(el, 0.0);
    EXPECT_EQ(events.ManagerSendCommand("SVNOPE"), tavrel::UnknownCommand);
}

TEST(LibraryAgainstSim, EveryEventManagerThatConfiguredEventsIsNotified) {
    SimFixture f(config(SIM_TEST_NET ".2.12"));
    Sentova device(SIM_TEST_NET ".2.12");
    SentovaEventManager first(SIM_TEST_NET ".2.12"), second(SIM_TEST_NET ".2.12");
    RecordingEvents seenFirst, seenSecond;
    first.RegisterEventCallback(0, &seenFirst);
    second.RegisterEventCallback(0, &seenSecond);
    ASSERT_EQ(device.Home(), tavrel::NoError);
    ASSERT_EQ(first.ConfigureCommandBuffer(1, "SVIIOT\x01"), tavrel::NoError);
    ASSERT_EQ(first.EventEnable(1, 0, true), tavrel::NoError);
    // The second one only looks: disabling a binding that is not there is enough.
    ASSERT_EQ(second.EventDisable(9, 3), tavrel::NoError);
    ASSERT_EQ(device.StartFullFieldScan(10.0, 1.0), tavrel::NoError);
    ASSERT_TRUE(waitUntil(
        [&] { return seenFirst.events().size() >= 2 && seenSecond.events().size() >= 2; }));
    EXPECT_EQ(device.Stop(), tavrel::NoError);
    EXPECT_EQ(f.sim.status().eventChannels.size(), 2u);
}
