// The viewer's point store fed by a device session against the simulator: with the device's
// frame notifications handed on, a one-frame capture is cut as one whole frame.
#include "../sim/SimTestSupport.h"
#include "DeviceSession.h"
#include "PointStore.h"
#include "Simulator.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Protocol.h"

#include <gtest/gtest.h>

using sentova::session::DeviceActivity;
using sentova::session::DeviceSession;
using simtest::waitUntil;

namespace {

struct CaptureResult {
    bool streamed = false;
    viewer::PointStore::Frames frames;
};

// Arms a one-frame capture, with the frame events' notifications asked for, and scans until
// the device has stopped the stream by itself and the store has cut what it can.
void captureOneFrame(const std::string& host, unsigned short port, bool handOnNotifications,
                     viewer::PointStore& store, CaptureResult& result) {
    const std::string address = SESSION_TEST_NET "." + host;
    sentova::sim::SimulatorConfig config = simtest::quietConfig(address);
    config.device.model = LIDAR_GENERIC;
    sentova::sim::Simulator sim(config);
    sim.start();
    DeviceSession session(address);
    if (handOnNotifications) {
        session.setFrameNotifications({[&store](unsigned event, std::uint64_t micros) {
                                           store.frameNotification(event, micros);
                                       },
                                       [&store](std::uint64_t now) { store.frameTime(now); }});
    }
    ASSERT_TRUE(session.listen(port, &store));
    const auto armed = session.armFrameCapture(tavrel::LaserSettings{}, port);
    ASSERT_TRUE(armed.completed()) << armed.step << ": " << armed.result;
    // The capture's own buffers run silently; this one asks for the notifications.
    tavrel::SentovaEventManager& events = *session.eventManager();
    ASSERT_EQ(events.ConfigureCommandBuffer(131, tavrel::CommandSerialiser::SVGEAA()),
              tavrel::NoError);
    ASSERT_EQ(events.EventEnable(131, tavrel::protocol::kFrameStartEvent, true), tavrel::NoError);
    ASSERT_EQ(events.EventEnable(131, tavrel::protocol::kFrameEndEvent, true), tavrel::NoError);
    ASSERT_EQ(session.device()->Home(), tavrel::NoError);
    ASSERT_EQ(session.device()->StartFullFieldScan(10.0, 5.0), tavrel::NoError);
    ASSERT_TRUE(waitUntil(
        [&] {
            const DeviceActivity a = session.activity();
            return a.laser() == DeviceActivity::Laser::Stopped && !a.scanStarted();
        },
        10000));
    result.streamed = true;
    // Everything the device sent has been handed on, and with the notifications the end's
    // window has passed with no more data, so the frame has closed.
    const std::uint64_t sent = sim.status().pointsSent;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto f = store.frames();
            return !f.spans.empty() && f.back == sent &&
                   (!handOnNotifications || f.spans.front().closed);
        },
        5000));
    result.frames = store.frames();
}

} // namespace

TEST(LiveFrames, AOneFrameCaptureIsOneWholeFrameOnceTheNotificationsReachTheStore) {
    viewer::PointStore store;
    store.setMaximumPoints(1000000);
    CaptureResult got;
    captureOneFrame("9.1", SESSION_TEST_PORT_BASE + 40, true, store, got);
    ASSERT_TRUE(got.streamed);
    // The device may send the next frame's first point before its stop takes effect: that
    // begins a frame of its own, never joins the captured one.
    ASSERT_GE(got.frames.spans.size(), 1u);
    ASSERT_LE(got.frames.spans.size(), 2u);
    const viewer::FrameSpan& frame = got.frames.spans.front();
    EXPECT_TRUE(frame.closed);
    EXPECT_TRUE(frame.complete);
    EXPECT_EQ(frame.begin, 0u);
    EXPECT_GT(frame.end, 0u);
    if (got.frames.spans.size() == 2) {
        EXPECT_EQ(got.frames.spans.back().begin, frame.end);
        EXPECT_LE(got.frames.back - frame.end, 63u);
    }
}

TEST(LiveFrames, WithoutTheNotificationsTheSameCaptureStaysAnOpenFrame) {
    viewer::PointStore store;
    store.setMaximumPoints(1000000);
    CaptureResult got;
    captureOneFrame("9.2", SESSION_TEST_PORT_BASE + 41, false, store, got);
    ASSERT_TRUE(got.streamed);
    // The raster alone cannot tell where the capture's frame started.
    ASSERT_GE(got.frames.spans.size(), 1u);
    EXPECT_FALSE(got.frames.spans.front().complete);
    EXPECT_GT(got.frames.spans.front().end, 0u);
}
