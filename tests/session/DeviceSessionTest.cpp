// The device session's sequences as the device sees them: the laser stream of each model, the
// armed capture of one frame, and stopping at the end only what the session itself started.
#include "DeviceSession.h"
#include "../sim/SimTestSupport.h"
#include "Simulator.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Protocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>

using sentova::session::DeviceActivity;
using sentova::session::DeviceSession;
using simtest::waitUntil;

namespace {

class CountPoints : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        points += observations.size();
    }
    std::atomic<std::size_t> points{0};
};

struct RunningSim {
    RunningSim(const std::string& host, LIDAR_TYPE model)
        : address(SESSION_TEST_NET "." + host), sim(config(address, model)) {
        sim.start();
    }
    static sentova::sim::SimulatorConfig config(const std::string& address, LIDAR_TYPE model) {
        sentova::sim::SimulatorConfig c = simtest::quietConfig(address);
        c.device.model = model;
        c.device.serial = sentova::sim::defaultSerial(model, 31);
        return c;
    }
    // The commands the device received since `from`, by their codes; a new channel's first
    // datagram ("SVPPPP") is no command of a sequence, and may arrive at any time.
    std::vector<std::string> codesSince(std::size_t from) const {
        std::vector<std::string> codes;
        const auto received = sim.received();
        for (std::size_t i = from; i < received.size(); ++i)
            if (received[i].bytes.compare(0, 6, "SVPPPP") != 0)
                codes.push_back(received[i].bytes.substr(0, 6));
        return codes;
    }
    const std::string address;
    sentova::sim::Simulator sim;
};

// The device has answered a later query: whatever was sent before it has arrived.
void settle(DeviceSession& session) {
    std::string serial;
    ASSERT_EQ(session.device()->GetSerial(serial), tavrel::NoError);
}

} // namespace

TEST(DeviceSession, RefusesAnAddressThatIsNotIPv4) {
    try {
        DeviceSession session("10.0.0");
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "'10.0.0' is not an IPv4 address");
    }
}

TEST(DeviceSession, StreamsEachModelsLaserParameters) {
    const LIDAR_TYPE models[] = {LIDAR_LX30, LIDAR_LX20, LIDAR_GENERIC};
    unsigned short port = SESSION_TEST_PORT_BASE;
    int host = 1;
    for (const LIDAR_TYPE model : models) {
        SCOPED_TRACE(tavrel::ModelName(model));
        RunningSim f("1." + std::to_string(host++), model);
        // Outlives the session, whose listener calls it until it is gone.
        CountPoints points;
        DeviceSession session(f.address);
        std::string serial;
        ASSERT_EQ(session.device()->GetSerial(serial), tavrel::NoError);
        EXPECT_EQ(tavrel::ModelFromSerial(serial), model);

        ASSERT_TRUE(session.listen(port, &points));
        tavrel::LaserSettings laser;
        laser.model = model;
        laser.measurement = 1;
        laser.gain = 2;
        ASSERT_EQ(session.startStream(laser, port), tavrel::NoError);
        EXPECT_EQ(session.activity().laser(), DeviceActivity::Laser::Started);
        const auto received = f.sim.received();
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received.back().bytes,
                  tavrel::CommandSerialiser::SVRRBE(tavrel::LaserStreamParameters(laser, port)));
        EXPECT_TRUE(waitUntil([&] { return points.points > 100; }));

        ASSERT_EQ(session.stopStream(), tavrel::NoError);
        EXPECT_FALSE(f.sim.status().streaming);
        EXPECT_EQ(session.activity().laser(), DeviceActivity::Laser::Stopped);
        session.stopListening();
        ++port;
    }
}

TEST(DeviceSession, AnArmedCaptureStreamsOneFrameAndTheDeviceStopsIt) {
    RunningSim f("2.1", LIDAR_LX30);
    // Outlives the session, whose listener calls it until it is gone.
    CountPoints points;
    DeviceSession session(f.address);
    const unsigned short port = SESSION_TEST_PORT_BASE + 10;
    ASSERT_TRUE(session.listen(port, &points));

    std::vector<std::string> steps;
    DeviceSession::FrameCaptureHooks hooks;
    hooks.before = [&steps](const std::string& step) {
        steps.push_back(step);
        return true;
    };
    tavrel::LaserSettings laser;
    laser.model = LIDAR_LX30;
    const std::size_t before = f.sim.received().size();
    const auto armed = session.armFrameCapture(laser, port, hooks);
    ASSERT_TRUE(armed.completed()) << armed.step << ": " << armed.result;
    EXPECT_EQ(steps, (std::vector<std::string>{"ResetEvents", "ConfigureCommandBuffer(128)",
                                               "ConfigureCommandBuffer(129)",
                                               "ConfigureCommandBuffer(130)", "EventEnable(128)",
                                               "EventEnable(129)", "EventEnable(130)"}));
    EXPECT_EQ(f.codesSince(before),
              (std::vector<std::string>{"SVERST", "SVECCF", "SVECCF", "SVECCF", "SVEENB", "SVEENB",
                                        "SVEENB"}));
    EXPECT_EQ(session.activity().laser(), DeviceActivity::Laser::Armed);
    EXPECT_EQ(points.points, 0u) << "nothing streams before the frame starts";

    ASSERT_EQ(session.device()->Home(), tavrel::NoError);
    ASSERT_EQ(session.device()->StartFullFieldScan(10.0, 5.0), tavrel::NoError);
    // The device's events end the frame: the stream and the aperture stop by themselves.
    ASSERT_TRUE(waitUntil(
        [&] {
            const DeviceActivity a = session.activity();
            return a.laser() == DeviceActivity::Laser::Stopped && !a.scanStarted();
        },
        10000));
    EXPECT_GE(f.sim.status().framesCompleted, 1u);
    EXPECT_FALSE(f.sim.status().streaming);
    EXPECT_GT(points.points, 0u);
    // Nothing is left for the session to stop.
    EXPECT_TRUE(session.stopWhatWasStarted().empty());
}

TEST(DeviceSession, StopsOnlyWhatItStarted) {
    RunningSim f("3.1", LIDAR_GENERIC);
    DeviceSession session(f.address);
    const unsigned short port = SESSION_TEST_PORT_BASE + 20;

    // Another program's stream is not this session's to stop.
    DeviceSession other(f.address);
    ASSERT_EQ(other.startStream(tavrel::LaserSettings{}, port + 1), tavrel::NoError);
    std::size_t mark = f.sim.received().size();
    EXPECT_TRUE(session.stopWhatWasStarted().empty());
    settle(session);
    EXPECT_EQ(f.codesSince(mark), std::vector<std::string>{"SVCQRE"});
    ASSERT_EQ(other.stopStream(), tavrel::NoError);

    // A stream and a scan of its own: both stopped, the stream first.
    ASSERT_EQ(session.startStream(tavrel::LaserSettings{}, port), tavrel::NoError);
    ASSERT_EQ(session.device()->Home(), tavrel::NoError);
    ASSERT_EQ(session.device()->StartFullFieldScan(5.0, 100.0), tavrel::NoError);
    auto stops = session.stopWhatWasStarted();
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[0].what, "Stop Laser");
    EXPECT_EQ(stops[1].what, "Stop");
    for (const auto& stop : stops)
        EXPECT_EQ(stop.result, tavrel::NoError) << stop.what;
    EXPECT_FALSE(f.sim.status().streaming);
    EXPECT_EQ(f.sim.status().motion, "idle");

    // Armed events would start a stream at the next scan, whoever starts it: reset.
    ASSERT_TRUE(session.armFrameCapture(tavrel::LaserSettings{}, port).completed());
    stops = session.stopWhatWasStarted();
    ASSERT_FALSE(stops.empty());
    EXPECT_EQ(stops[0].what, "Reset events");
    EXPECT_EQ(stops[0].result, tavrel::NoError);
    mark = f.sim.received().size();
    EXPECT_TRUE(session.stopWhatWasStarted().empty());
    settle(session);
    EXPECT_EQ(f.codesSince(mark), std::vector<std::string>{"SVCQRE"});
}

namespace {

// What the frame notification hooks were given, in order.
struct SeenNotifications {
    std::mutex mutex;
    std::vector<unsigned> events;
    std::vector<std::uint64_t> arrivals;
    std::atomic<int> quiet{0};
    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return events.size();
    }
};

sentova::session::FrameNotifications::Hooks hooksInto(SeenNotifications& seen) {
    sentova::session::FrameNotifications::Hooks hooks;
    hooks.notified = [&seen](unsigned event, std::uint64_t micros) {
        std::lock_guard<std::mutex> lock(seen.mutex);
        seen.events.push_back(event);
        seen.arrivals.push_back(micros);
    };
    hooks.quiet = [&seen](std::uint64_t) { ++seen.quiet; };
    hooks.quietMicros = 50000;
    return hooks;
}

} // namespace

TEST(DeviceSession, FrameNotificationsReachTheHooksInOrderWhileTheScanRuns) {
    RunningSim f("4.1", LIDAR_GENERIC);
    CountPoints points;
    SeenNotifications seen;
    DeviceSession session(f.address);
    session.setFrameNotifications(hooksInto(seen));
    const unsigned short port = SESSION_TEST_PORT_BASE + 30;
    ASSERT_TRUE(session.listen(port, &points));
    // A harmless buffered command run on both frame events, with their notifications.
    tavrel::SentovaEventManager& events = *session.eventManager();
    ASSERT_EQ(events.ConfigureCommandBuffer(131, tavrel::CommandSerialiser::SVGEAA()),
              tavrel::NoError);
    ASSERT_EQ(events.EventEnable(131, tavrel::protocol::kFrameStartEvent, true), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(131, tavrel::protocol::kFrameEndEvent, true), tavrel::NoError);
    ASSERT_EQ(session.startStream(tavrel::LaserSettings{}, port), tavrel::NoError);
    ASSERT_EQ(session.device()->Home(), tavrel::NoError);
    // 5 lines at 10 turns per second: a frame every half second.
    ASSERT_EQ(session.device()->StartFullFieldScan(10.0, 5.0), tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return seen.size() >= 4; }, 10000));
    ASSERT_EQ(session.device()->Stop(), tavrel::NoError);
    session.stopStream();
    // Quiet follows the last notification, once it is over.
    ASSERT_TRUE(waitUntil([&] { return seen.quiet > 0; }, 5000));

    std::lock_guard<std::mutex> lock(seen.mutex);
    for (std::size_t i = 0; i < seen.events.size(); ++i) {
        // Starts and ends alternate, a start first.
        EXPECT_EQ(seen.events[i], i % 2 == 0 ? tavrel::protocol::kFrameStartEvent
                                             : tavrel::protocol::kFrameEndEvent)
            << i;
        if (i > 0) {
            EXPECT_GE(seen.arrivals[i], seen.arrivals[i - 1]);
        }
    }
    // Half a second of arrival time from one start to the next.
    EXPECT_NEAR(double(seen.arrivals[2] - seen.arrivals[0]), 500000.0, 100000.0);
    EXPECT_EQ(session.frameNotificationsDropped(), 0u);
    EXPECT_GT(points.points, 0u);
}

TEST(DeviceSession, ASlowFrameHookHoldsUpNeitherTheEventManagerNorLaterNotifications) {
    RunningSim f("4.2", LIDAR_GENERIC);
    DeviceSession session(f.address);
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    std::atomic<int> calls{0};
    sentova::session::FrameNotifications::Hooks hooks;
    hooks.notified = [&](unsigned, std::uint64_t) {
        ++calls;
        std::lock_guard<std::mutex> wait(gate);
    };
    session.setFrameNotifications(hooks);
    tavrel::SentovaEventManager& events = *session.eventManager();
    ASSERT_EQ(events.ConfigureCommandBuffer(131, tavrel::CommandSerialiser::SVGEAA()),
              tavrel::NoError);
    ASSERT_EQ(events.EventEnable(131, tavrel::protocol::kFrameStartEvent, true), tavrel::NoError);
    ASSERT_EQ(session.device()->Home(), tavrel::NoError);
    ASSERT_EQ(session.device()->StartFullFieldScan(10.0, 2.0), tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }, 10000));
    // The hook is blocked; the event manager's transactions still complete, and the frames
    // started meanwhile are queued.
    unsigned frequency = 0;
    EXPECT_EQ(events.GetTimerFrequency(frequency), tavrel::NoError);
    const std::uint64_t framesThen = f.sim.status().framesCompleted;
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().framesCompleted >= framesThen + 2; }, 10000));
    EXPECT_EQ(calls, 1);
    held.unlock();
    ASSERT_TRUE(waitUntil([&] { return calls >= 3; }, 5000));
    ASSERT_EQ(session.device()->Stop(), tavrel::NoError);
}

TEST(FrameNotifications, WhatDoesNotFitIsDroppedAndCountedAndOtherEventsIgnored) {
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    std::atomic<std::size_t> calls{0};
    sentova::session::FrameNotifications::Hooks hooks;
    hooks.notified = [&](unsigned, std::uint64_t) {
        ++calls;
        std::lock_guard<std::mutex> wait(gate);
    };
    using sentova::session::FrameNotifications;
    std::size_t expected = 0;
    {
        FrameNotifications relay(hooks);
        char payload[1] = {0};
        relay.EventCallback(0, tavrel::protocol::kFrameStartEvent, payload);
        ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
        // One is with the blocked hook; the queue takes kCapacity more.
        const std::size_t sent = FrameNotifications::kCapacity + 10;
        for (std::size_t i = 0; i < sent; ++i)
            relay.EventCallback(
                0, i % 2 ? tavrel::protocol::kFrameEndEvent : tavrel::protocol::kFrameStartEvent,
                payload);
        relay.EventCallback(0, tavrel::protocol::kTimerEvent, payload);
        EXPECT_EQ(relay.dropped(), 10u);
        expected = 1 + FrameNotifications::kCapacity;
        held.unlock();
        ASSERT_TRUE(waitUntil([&] { return calls == expected; }));
    }
    EXPECT_EQ(calls, expected);
}
