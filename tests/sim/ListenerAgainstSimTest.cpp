// The laser listener receiving the simulator's stream over loopback: points
// whose ranges match the scene, and a one-frame capture run by the device's
// events as the viewer programs it.
#include "Scene.h"
#include "SimTestSupport.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"
#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

using namespace sentova::sim;
using simtest::waitUntil;
using tavrel::CommandSerialiser;

namespace {

class Collector : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_observations.insert(m_observations.end(), observations.begin(), observations.end());
    }
    std::vector<tavrel::tavrel_rbe_obs_t> observations() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_observations;
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_observations.size();
    }

private:
    std::mutex m_mutex; // guards m_observations
    std::vector<tavrel::tavrel_rbe_obs_t> m_observations;
};

// The share of observations whose range is the scene's range in their direction.
// Angles travel as floats, so a beam right at an edge may land on the other side.
double shareMatchingScene(const std::vector<tavrel::tavrel_rbe_obs_t>& observations) {
    std::size_t matching = 0;
    for (const auto& o : observations) {
        const auto hit = castBeam(o.azimuth, o.elevation);
        if (hit && std::fabs(hit->range * 1000.0 - o.range) <= 2.0)
            ++matching;
    }
    return observations.empty() ? 0.0 : static_cast<double>(matching) / observations.size();
}

} // namespace

TEST(ListenerAgainstSim, StreamedRangesMatchTheScene) {
    const std::string address = SIM_TEST_NET ".3.1";
    Simulator sim(simtest::quietConfig(address));
    sim.start();
    tavrel::Sentova device(address);
    tavrel::SentovaEventManager events(address);
    Collector collector;
    tavrel::SentovaGrabber listener;
    const int port = SIM_TEST_DATA_PORT_BASE + 1;
    ASSERT_TRUE(listener.StartListening(address, port, &collector));

    ASSERT_EQ(device.Home(), tavrel::NoError);
    ASSERT_EQ(device.StartRegionScan(15.0, 0.0, 170.0, -35.0, 10.0, 6.0), tavrel::NoError);
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVRRBE({{1, 1}, {2, 0}, {0, port}})),
              tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return collector.count() >= 2000; }, 5000));
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVSRBE()), tavrel::NoError);
    listener.StopListening();

    const auto observations = collector.observations();
    EXPECT_GT(shareMatchingScene(observations), 0.99);
    double minRange = 1e9, maxRange = 0.0;
    for (const auto& o : observations) {
        EXPECT_GE(o.azimuth, -1e-3);
        EXPECT_LE(o.azimuth, 170.0 + 1e-3);
        EXPECT_GE(o.elevation, -35.0 - 1e-3);
        EXPECT_LE(o.elevation, 10.0 + 1e-3);
        EXPECT_GT(o.amplitude, 0.0);
        minRange = std::min(minRange, o.range);
        maxRange = std::max(maxRange, o.range);
    }
    // The region sees the floor close by and walls several metres away.
    EXPECT_LT(minRange, 3000.0);
    EXPECT_GT(maxRange, 5000.0);
    // Timestamps run in microseconds at 5000 points per second.
    ASSERT_GE(observations.size(), 2u);
    EXPECT_GE(observations[1].timestamp - observations[0].timestamp, 200u);
}

TEST(ListenerAgainstSim, GetFrameCapturesExactlyOneFrame) {
    const std::string address = SIM_TEST_NET ".3.2";
    Simulator sim(simtest::quietConfig(address));
    sim.start();
    tavrel::Sentova device(address);
    tavrel::SentovaEventManager events(address);
    Collector collector;
    tavrel::SentovaGrabber listener;
    const int port = SIM_TEST_DATA_PORT_BASE + 2;
    ASSERT_TRUE(listener.StartListening(address, port, &collector));
    ASSERT_EQ(device.Home(), tavrel::NoError);

    ASSERT_EQ(events.ResetEvents(), tavrel::NoError);
    ASSERT_EQ(
        events.ConfigureCommandBuffer(128, CommandSerialiser::SVRRBE({{1, 0}, {2, 0}, {0, port}})),
        tavrel::NoError);
    ASSERT_EQ(events.ConfigureCommandBuffer(129, "SVSRBE"), tavrel::NoError);
    ASSERT_EQ(events.ConfigureCommandBuffer(130, "SVSTOP"), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(128, 0, false), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(129, 1, false), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(130, 1, false), tavrel::NoError);
    // Two lines at 10 turns per second: a frame of 0.2 s, 5000 points at 25000 per second.
    ASSERT_EQ(device.StartBoundedElevationScan(10.0, -30.0, -10.0, 2.0), tavrel::NoError);

    ASSERT_TRUE(waitUntil([&] { return sim.status().framesCompleted == 1; }));
    const auto sent = sim.status().pointsSent;
    // The listener holds back a lone point until the next packet, so the last
    // packet of the frame may leave one point behind.
    // Once the aperture has stopped, whatever else was sent has arrived too.
    ASSERT_TRUE(waitUntil([&] {
        const auto s = sim.status();
        return !s.streaming && s.motion == "idle" && collector.count() + 1 >= s.pointsSent;
    }));
    listener.StopListening();

    const auto observations = collector.observations();
    EXPECT_GE(observations.size() + 1, sent);
    EXPECT_LE(observations.size(), sent);
    EXPECT_GT(sent, 4900u);
    EXPECT_LE(sent, 5001u);
    EXPECT_GT(shareMatchingScene(observations), 0.99);
    // Both lines, nothing from a second frame: the aperture stopped.
    std::size_t low = 0, high = 0;
    for (const auto& o : observations) {
        if (std::fabs(o.elevation + 30.0) < 1e-3)
            ++low;
        else if (std::fabs(o.elevation + 10.0) < 1e-3)
            ++high;
    }
    EXPECT_EQ(low + high, observations.size());
    EXPECT_NEAR(static_cast<double>(low), 2500.0, 2.0);
    EXPECT_NEAR(static_cast<double>(high), 2500.0, 2.0);
    EXPECT_EQ(sim.status().motion, "idle");
    EXPECT_FALSE(sim.status().streaming);
    // Stopped at the end of the frame's last line.
    double az = 0.0, el = 0.0;
    EXPECT_EQ(device.GetApertureAngles(az, el), tavrel::NoError);
    EXPECT_NEAR(el, -10.0, 1e-6);
}

TEST(ListenerAgainstSim, DroppedPacketsNeverArrive) {
    const std::string address = SIM_TEST_NET ".3.3";
    SimulatorConfig c = simtest::quietConfig(address);
    c.device.model = LIDAR_GENERIC;
    c.faults.packets.drop = 0.5;
    c.faults.seed = 3;
    Simulator sim(c);
    sim.start();
    tavrel::SentovaEventManager events(address);
    Collector collector;
    tavrel::SentovaGrabber listener;
    const int port = SIM_TEST_DATA_PORT_BASE + 3;
    ASSERT_TRUE(listener.StartListening(address, port, &collector));
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVRRBE({{0, port}})), tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return sim.counters().packetsDropped >= 50; }));
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVSRBE()), tavrel::NoError);
    const auto counters = sim.counters();
    // Every datagram that left has arrived and been delivered (a lone point
    // waits for the next datagram).
    ASSERT_TRUE(waitUntil([&] {
        const auto s = listener.GetStatistics();
        return s.datagrams + s.refusedHeader + s.refusedSender >= sim.counters().packetsSent &&
               collector.count() + 1 >= s.points;
    }));
    listener.StopListening();

    // The still aperture looks at the far wall, 8 m straight ahead.
    const auto observations = collector.observations();
    const std::uint64_t produced = sim.status().pointsSent;
    EXPECT_GT(observations.size(), produced / 4);
    EXPECT_LT(observations.size(), produced * 3 / 4);
    EXPECT_GT(counters.packetsSent, 20u);
    for (const auto& o : observations)
        EXPECT_EQ(o.range, 8000.0);
}
