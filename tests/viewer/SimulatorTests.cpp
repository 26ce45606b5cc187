// The window against the device simulator: the laser start bytes as the
// simulator logged them, points from its stream, and Get Frame streaming one
// frame by the device's own events.
#include "GuiTestSupport.h"
#include "MainWindow.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>

namespace viewer_test {
namespace {

// One command exchange with the simulator from a socket of the test's own.
std::string ask(const std::string& address, const std::string& command) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    timeval timeout{0, 200000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(4365);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(s, command.data(), command.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    char buffer[512];
    const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    ::close(s);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { resetSettings(); }

    void TearDown() override {
        window.reset();
        if (simulator) {
            simulator->terminate();
            simulator->waitForFinished(5000);
        }
    }

    void startSimulator(const QString& model) {
        logPath = scratch.filePath("sim.log");
        simulator = std::make_unique<QProcess>();
        simulator->start(QStringLiteral(SENTOVA_SIM_PROGRAM),
                         {"--address", QString::fromStdString(deviceAddress()), "--model", model,
                          "--home-time", "50", "--quiet", "--log", logPath});
        ASSERT_TRUE(simulator->waitForStarted(5000));
        ASSERT_TRUE(waitUntil([] { return !ask(deviceAddress(), "SVPPPP").empty(); },
                              std::chrono::seconds(5)));
        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Argument bytes (hex) of every logged command with this code.
    QStringList logged(const QString& code) {
        QFile file(logPath);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        QStringList arguments;
        const QRegularExpression line("^\\S+ " + code + " (\\S*) -> ");
        for (const QString& text : QString::fromLatin1(file.readAll()).split('\n')) {
            const QRegularExpressionMatch match = line.match(text);
            if (match.hasMatch()) {
                arguments << match.captured(1);
            }
        }
        return arguments;
    }

    void click(const char* name) {
        QTest::mouseClick(child<QWidget>(window.get(), name), Qt::LeftButton);
    }

    int totalPoints() { return child<QLabel>(window.get(), "totalPoints_label")->text().toInt(); }

    QString portHex() { return QString("%1").arg(processDataPort(), 8, 16, QChar('0')); }

    QTemporaryDir scratch;
    QString logPath;
    std::unique_ptr<QProcess> simulator;
    std::unique_ptr<MainWindow> window;
};

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
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string state = ask(deviceAddress(), "SVGMTN");
            return !state.empty() && state.find("streaming") == std::string::npos &&
                   state.find("scanning") == std::string::npos;
        },
        std::chrono::seconds(5)));
    QTest::qWait(400);
    const int frame = totalPoints();
    EXPECT_GT(frame, 6000) << frame;
    EXPECT_LE(frame, 7500 + 40) << frame;
    QTest::qWait(500);
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
