// Fault runs against the simulator: what late, doubled and misaddressed
// replies, device error codes and lost laser packets turn into on the
// library's side, and that the library stays usable after each of them.
#include "../sim/SimTestSupport.h"
#include "Simulator.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"
#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

using sentova::sim::Simulator;
using sentova::sim::SimulatorConfig;
using simtest::waitUntil;
using tavrel::CommandSerialiser;
using tavrel::Sentova;
using tavrel::SentovaEventManager;

namespace {

const std::string kSerial = "LX30-31-SIM0001";

SimulatorConfig quietConfig(const std::string& host) {
    SimulatorConfig c;
    c.address = FAULT_TEST_NET "." + host;
    c.echo = false;
    c.device.homeTimeMs = 50;
    return c;
}

// A simulator started on its own address for the length of a test.
struct RunningSim {
    explicit RunningSim(SimulatorConfig c) : address(c.address), sim(std::move(c)) { sim.start(); }
    const std::string address;
    Simulator sim;
};

class CountingListener : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        for (const auto& o : observations)
            if (o.range > 0.0)
                ++positiveRanges;
        points += observations.size();
    }
    std::atomic<std::uint64_t> points{0};
    std::atomic<std::uint64_t> positiveRanges{0};
};

} // namespace

TEST(FaultRun, LateReplyWithinTheTimeoutSucceeds) {
    SimulatorConfig c = quietConfig("1.1");
    c.faults.delayRepliesMs = 150;
    RunningSim f(c);
    Sentova device(f.address);
    device.SetResponseTimeout(600);
    std::string serial;
    EXPECT_EQ(device.GetSerial(serial), tavrel::NoError);
    EXPECT_EQ(serial, kSerial);
    EXPECT_EQ(device.Home(), tavrel::NoError);
    SentovaEventManager events(f.address);
    EXPECT_EQ(events.ResetEvents(), tavrel::NoError);
    EXPECT_EQ(events.ConfigureCommandBuffer(128, "SVSRBE"), tavrel::NoError);
}

TEST(FaultRun, LateReplyPastTheTimeoutTimesOutAndTheNextCommandStillWorks) {
    SimulatorConfig c = quietConfig("1.2");
    c.faults.delayRepliesMs = 300;
    RunningSim f(c);
    Sentova device(f.address);
    device.SetResponseTimeout(150);
    std::string serial = "unchanged";
    EXPECT_EQ(device.GetSerial(serial), tavrel::Timeout);
    EXPECT_EQ(serial, "unchanged");

    // At once, with the late serial reply still on its way: it must not be
    // taken for the answer to the next command.
    device.SetResponseTimeout(1000);
    double az = 1000.0, el = 1000.0;
    EXPECT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_EQ(az, 0.0);
    EXPECT_EQ(el, 0.0);
    EXPECT_EQ(device.GetSerial(serial), tavrel::NoError);
    EXPECT_EQ(serial, kSerial);

    // The motion time-out likewise: the device homes, the answer comes too late.
    device.SetMotionTimeout(200);
    EXPECT_EQ(device.Home(), tavrel::Timeout);
    device.SetMotionTimeout(2500);
    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::NoError);
    EXPECT_EQ(device.Stop(), tavrel::NoError);
}

TEST(FaultRun, DuplicatedRepliesEachCommandGetsItsOwnAnswer) {
    SimulatorConfig c = quietConfig("1.3");
    c.faults.duplicateReplies = true;
    RunningSim f(c);
    Sentova device(f.address);
    SentovaEventManager events(f.address);
    std::string serial;
    double az = 0.0, el = 0.0;

    ASSERT_EQ(device.Home(), tavrel::NoError);
    EXPECT_EQ(device.GetSerial(serial), tavrel::NoError);
    EXPECT_EQ(serial, kSerial);
    EXPECT_EQ(device.SetApertureAngles(30.0, 10.0, 900.0), tavrel::NoError);
    EXPECT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_NEAR(az, 30.0, 1e-3);
    EXPECT_NEAR(el, 10.0, 1e-3);

    // The same query twice while the aperture moves: the copy of the first
    // answer must not be read as the second.
    EXPECT_EQ(device.TrackApertureAngles(120.0, 10.0, 30.0), tavrel::NoError);
    double first = 0.0, second = 0.0;
    EXPECT_EQ(device.GetApertureAngles(first, el), tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().azimuth > first + 3.5; }));
    EXPECT_EQ(device.GetApertureAngles(second, el), tavrel::NoError);
    EXPECT_GT(second, first + 3.0) << "first " << first << ", second " << second;

    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::NoError);
    EXPECT_EQ(device.Stop(), tavrel::NoError);

    EXPECT_EQ(events.ResetEvents(), tavrel::NoError);
    EXPECT_EQ(events.ConfigureCommandBuffer(128, "SVSTOP"), tavrel::NoError);
    EXPECT_EQ(events.EventEnable(128, 1, true), tavrel::NoError);
    bool armed = false, fired = true;
    EXPECT_EQ(events.EventStatus(128, 1, armed, fired), tavrel::NoError);
    EXPECT_TRUE(armed);
    EXPECT_FALSE(fired);
    unsigned frequency = 0;
    EXPECT_EQ(events.StartTimer(100), tavrel::NoError);
    EXPECT_EQ(events.GetTimerFrequency(frequency), tavrel::NoError);
    EXPECT_EQ(frequency, 100u);
    EXPECT_EQ(events.StartTimer(250), tavrel::NoError);
    EXPECT_EQ(events.GetTimerFrequency(frequency), tavrel::NoError);
    EXPECT_EQ(frequency, 250u);
    EXPECT_EQ(events.StopTimer(), tavrel::NoError);
}

TEST(FaultRun, WrongStemRepliesTimeOutAndTheNextCommandStillWorks) {
    SimulatorConfig c = quietConfig("1.4");
    c.faults.wrongStem = {"SVHOME", "SVERST"};
    RunningSim f(c);
    Sentova device(f.address);
    device.SetMotionTimeout(300);
    EXPECT_EQ(device.Home(), tavrel::Timeout);
    std::string serial;
    EXPECT_EQ(device.GetSerial(serial), tavrel::NoError);
    EXPECT_EQ(serial, kSerial);
    // The device did home; only its answer was spoilt.
    EXPECT_EQ(device.StartFullFieldScan(5.0, 10.0), tavrel::NoError);
    EXPECT_EQ(device.Stop(), tavrel::NoError);

    // The event manager waits its fixed time-out for an answer that never matches.
    SentovaEventManager events(f.address);
    EXPECT_EQ(events.ResetEvents(), tavrel::Timeout);
    EXPECT_EQ(events.ConfigureCommandBuffer(128, "SVSRBE"), tavrel::NoError);
    EXPECT_EQ(events.EventEnable(128, 0, false), tavrel::NoError);
}

TEST(FaultRun, DeviceErrorCodesOnEveryViewerCommandComeBackAsTheirCodes) {
    struct Case {
        const char* code;
        tavrel::tavrel_error_t error;
        std::function<tavrel::tavrel_error_t()> call;
    };
    SimulatorConfig c = quietConfig("1.5");
    std::string serial = "unchanged";
    Sentova* device = nullptr;
    SentovaEventManager* events = nullptr;
    const std::vector<Case> cases = {
        {"SVHOME", tavrel::NotReady, [&] { return device->Home(); }},
        {"SVSTOP", tavrel::BusyStabilising, [&] { return device->Stop(); }},
        {"SVSFFS", tavrel::ScanTooSparse, [&] { return device->StartFullFieldScan(5.0, 10.0); }},
        {"SVSBES", tavrel::ArgumentOutOfRange,
         [&] { return device->StartBoundedElevationScan(5.0, -10.0, 10.0, 4.0); }},
        {"SVSRES", tavrel::InvalidArgument,
         [&] { return device->StartRegionScan(5.0, 15.0, 345.0, -35.0, 35.0, 10.0); }},
        {"SVCQRE", tavrel::BusyOtherClient, [&] { return device->GetSerial(serial); }},
        {"SVERST", tavrel::BadFlashPage, [&] { return events->ResetEvents(); }},
        {"SVECCF", tavrel::InvalidArgumentLength,
         [&] { return events->ConfigureCommandBuffer(128, "SVSRBE"); }},
        {"SVEENB", tavrel::NotHomed, [&] { return events->EventEnable(128, 0, false); }},
        {"SVRRBE", tavrel::BadFlashKey,
         [&] {
             return events->ManagerSendCommand(
                 CommandSerialiser::SVRRBE({{1, 0}, {2, 0}, {0, FAULT_TEST_DATA_PORT_BASE}}));
         }},
        {"SVSRBE", tavrel::InvalidCommand,
         [&] { return events->ManagerSendCommand(CommandSerialiser::SVSRBE()); }},
    };
    for (const Case& k : cases)
        c.faults.errors[k.code] = k.error;
    RunningSim f(c);
    Sentova facade(f.address);
    SentovaEventManager manager(f.address);
    device = &facade;
    events = &manager;

    for (const Case& k : cases) {
        SCOPED_TRACE(k.code);
        EXPECT_EQ(k.call(), k.error);
        // The next command without an injected error goes through on both channels.
        double az = -1.0, el = -1.0;
        EXPECT_EQ(facade.GetApertureAngles(az, el), tavrel::NoError);
        bool armed = true, fired = true;
        EXPECT_EQ(manager.EventStatus(129, 1, armed, fired), tavrel::NoError);
        EXPECT_FALSE(armed);
    }
    EXPECT_EQ(serial, "unchanged");
    // The device never saw the refused commands: not homed, not streaming.
    EXPECT_FALSE(f.sim.status().homed);
    EXPECT_FALSE(f.sim.status().streaming);
}

TEST(FaultRun, LostLaserPacketsGiveFewerObservationsAndNoHarm) {
    SimulatorConfig c = quietConfig("1.6");
    c.faults.packets.drop = 0.5;
    c.faults.seed = 7;
    RunningSim f(c);
    SentovaEventManager events(f.address);
    const int port = FAULT_TEST_DATA_PORT_BASE + 6;
    CountingListener received;
    tavrel::SentovaGrabber listener;
    ASSERT_TRUE(listener.StartListening(f.address, port, &received));

    // Measurement mode 1: 5000 points per second.
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVRRBE({{1, 1}, {2, 0}, {0, port}})),
              tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return f.sim.status().pointsSent > 1500; }));
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVSRBE()), tavrel::NoError);
    const auto counters = f.sim.counters();
    const auto sent = f.sim.status().pointsSent; // lost packets' points included
    ASSERT_GT(counters.packetsDropped, 0u);
    ASSERT_GT(counters.packetsSent, 0u);
    ASSERT_GT(sent, 1000u);
    // Everything that did leave arrives; about half of what was measured.
    // Datagrams may still leave after the stop's answer: all of them have arrived
    // and been delivered (a lone point waits for the next datagram).
    ASSERT_TRUE(waitUntil([&] {
        const auto s = listener.GetStatistics();
        return s.datagrams >= f.sim.counters().packetsSent && received.points + 1 >= s.points;
    }));
    EXPECT_GE(received.points.load(), sent / 4);
    EXPECT_LT(received.points.load(), sent * 3 / 4);
    EXPECT_EQ(received.positiveRanges.load(), received.points.load());
    listener.StopListening();

    // Every packet lost: nothing arrives, and listening starts and stops cleanly.
    SimulatorConfig all = quietConfig("1.7");
    all.faults.packets.drop = 1.0;
    RunningSim silent(all);
    SentovaEventManager silentEvents(silent.address);
    CountingListener nothing;
    ASSERT_TRUE(listener.StartListening(silent.address, port + 1, &nothing));
    ASSERT_EQ(
        silentEvents.ManagerSendCommand(CommandSerialiser::SVRRBE({{1, 0}, {2, 0}, {0, port + 1}})),
        tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return silent.sim.counters().packetsDropped >= 20; }));
    EXPECT_EQ(silentEvents.ManagerSendCommand(CommandSerialiser::SVSRBE()), tavrel::NoError);
    EXPECT_GT(silent.sim.counters().packetsDropped, 0u);
    EXPECT_EQ(nothing.points.load(), 0u);
    listener.StopListening();
}

TEST(FaultRun, LateRepliesMissTheirTimeoutAndJitterSpreadsTheRest) {
    SimulatorConfig c = quietConfig("1.8");
    c.faults.lateReplies = 1.0;
    RunningSim f(c);
    Sentova device(f.address);
    std::string serial = "unchanged";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(device.GetSerial(serial), tavrel::Timeout);
    EXPECT_EQ(serial, "unchanged");
    // The answer does come, 100 ms after the 500 ms the library waited.
    simtest::UdpClient raw;
    sentova::sim::Endpoint sim = f.sim.endpoint();
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(raw.ask(sim, "SVCQRE", 2000), "ERCQRE" + kSerial);
    const auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_GE(waited, std::chrono::milliseconds(590));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1100));
    EXPECT_EQ(f.sim.counters().repliesLate, 3u); // SVPPPP of the channel, and two serials

    SimulatorConfig j = quietConfig("1.9");
    j.faults.replyJitterMs = 200;
    j.faults.seed = 11;
    RunningSim jittery(j);
    simtest::UdpClient client;
    double shortest = 1e9, longest = 0.0;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(client.ask(jittery.sim.endpoint(), "SVPPPP", 1000));
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        shortest = std::min(shortest, ms);
        longest = std::max(longest, ms);
    }
    EXPECT_LT(shortest, 60.0);
    EXPECT_GT(longest, 120.0);
    EXPECT_LT(longest, 260.0);
    EXPECT_EQ(jittery.sim.counters().repliesDelayed, 20u);
}
