// The device session's sequences as the device sees them: the laser stream of each model, the
// armed capture of one frame, and stopping at the end only what the session itself started.
#include "DeviceSession.h"
#include "../sim/SimTestSupport.h"
#include "Simulator.h"

#include "Sentova/CommandSerialiser.h"

#include <gtest/gtest.h>

#include <atomic>
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
