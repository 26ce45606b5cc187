// The window against the device simulator: the laser start bytes as the
// simulator logged them, points from its stream, and Get Frame streaming one
// frame by the device's own events.
#include "SimulatorFixture.h"

#include <QDoubleSpinBox>

namespace viewer_test {
namespace {

TEST_F(SimulatorTest, LX30PanelStartsTheStreamWithItsParameters) {
    startSimulator("LX30");
    click("startLaserPushButton");
    EXPECT_EQ(logged("SVRRBE"), QStringList{"0100000000"
                                            "0200000000"
                                            "00" +
                                            portHex()});
    EXPECT_TRUE(waitUntil([&] { return totalPoints() > 100; }, std::chrono::seconds(5)));
    click("stopLaserPushButton");
    EXPECT_EQ(logLines(window.get()).last(), "Stop Laser: Error 0x00: No Error.");
}

TEST_F(SimulatorTest, LX20PanelStartsTheStreamWithItsParameters) {
    startSimulator("LX20");
    click("laserPushButton");
    EXPECT_EQ(logged("SVRRBE"), QStringList{"0300002710"
                                            "0400000001"
                                            "0500000000"
                                            "00" +
                                            portHex()});
    EXPECT_TRUE(waitUntil([&] { return totalPoints() > 100; }, std::chrono::seconds(5)));
}

TEST_F(SimulatorTest, GenericPanelStartsTheStreamWithThePortOnly) {
    startSimulator("generic");
    click("genericScanPushButton");
    EXPECT_EQ(logged("SVRRBE"), QStringList{"00" + portHex()});
    EXPECT_TRUE(waitUntil([&] { return totalPoints() > 100; }, std::chrono::seconds(5)));
}

TEST_F(SimulatorTest, GetFrameStreamsExactlyOneFrame) {
    startSimulator("LX30");
    click("homePushButton");
    ASSERT_EQ(logLines(window.get()).last(), "Home: Error 0x00: No Error.");
    // Three lines at 10 turns per second: a frame of 0.3 s, 7500 points at most.
    child<QDoubleSpinBox>(window.get(), "AzSpeedDoubleSpinBox")->setValue(10);
    child<QDoubleSpinBox>(window.get(), "nLinesDoubleSpinBox")->setValue(3);
    click("getFramePushButton");
    ASSERT_EQ(logLines(window.get()).last(), "StartFullFieldScan(10, 3): Error 0x00: No Error.");

    // The device stops the stream and the aperture when the frame ends.
    EXPECT_TRUE(waitUntil([&] { return atRest(deviceAddress()); }, std::chrono::seconds(5)));
    const long long sent = showAllSent();
    const int frame = totalPoints();
    EXPECT_GT(frame, 6000) << frame;
    EXPECT_LE(frame, 7500 + 40) << frame;
    EXPECT_LE(frame, sent);
    // Asked again after the window has shown the frame: the device has sent nothing since.
    EXPECT_EQ(pointsSent(*simulator), sent);
    EXPECT_EQ(totalPoints(), frame);

    EXPECT_EQ(logged("SVECCF"), (QStringList{"80535652524245"
                                             "0100000000"
                                             "0200000000"
                                             "00" +
                                                 portHex(),
                                             "81535653524245", "82535653544f50"}));
    EXPECT_EQ(logged("SVEENB"), (QStringList{"008000", "018100", "018200"}));
}

} // namespace
} // namespace viewer_test
