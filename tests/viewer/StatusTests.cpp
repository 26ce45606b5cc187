// The device and stream status against the simulator: answering or not, model and firmware,
// the laser stream as the window set it, the stream's trouble counters, the stops at quit, and a
// second window on a taken data port.
#include "SimulatorFixture.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <ctime>

#include <sys/socket.h>
#include <sys/wait.h>

namespace viewer_test {
namespace {

// Stops every thread of this process for a while; a child process wakes it again.
void freezeThisProcess(std::chrono::milliseconds duration) {
    const pid_t parent = ::getpid();
    const pid_t waker = ::fork();
    if (waker == 0) {
        const timespec pause{static_cast<time_t>(duration.count() / 1000),
                             static_cast<long>(duration.count() % 1000) * 1000000L};
        ::nanosleep(&pause, nullptr);
        ::kill(parent, SIGCONT);
        ::_exit(0);
    }
    ::kill(parent, SIGSTOP);
    ::waitpid(waker, nullptr, 0);
}

// Waits up to within for a laser data datagram on socket s; false if none came.
bool laserDatagramArrives(int s, std::chrono::milliseconds within) {
    timeval poll{0, 100000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &poll, sizeof poll);
    const auto deadline = std::chrono::steady_clock::now() + within;
    char buffer[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
        if (n >= 6 && std::string(buffer, 6) == tavrel::kLaserHeader) {
            return true;
        }
    }
    return false;
}

// Sends a command to the simulator's command port from socket s.
void sendFrom(int s, const std::string& address, const std::string& command) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(4365);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(s, command.data(), command.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

class StatusTest : public SimulatorTest {
protected:
    void TearDown() override {
        second.reset();
        stopSimulator(secondSimulator);
        setWindowAddress(deviceAddress());
        SimulatorTest::TearDown();
    }

    QLabel* label(const char* name, MainWindow* w = nullptr) {
        return child<QLabel>(w ? w : window.get(), name);
    }

    QString text(const char* name) { return label(name)->text(); }
    std::uint64_t count(const char* name) { return text(name).toULongLong(); }

    bool showsTrouble(const char* name) { return label(name)->styleSheet().contains("#c62828"); }

    void openWindowOnly() {
        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Answers the quit question with Yes and runs the event loop until it ends.
    int quit() {
        QTimer safety;
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        safety.start(20000);
        onNextModal([](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            box->button(QMessageBox::Yes)->click();
        });
        QTimer::singleShot(0, window.get(),
                           [this] { child<QAction>(window.get(), "actionQuit")->trigger(); });
        return QApplication::exec();
    }

    std::unique_ptr<QProcess> secondSimulator;
    std::unique_ptr<MainWindow> second;
};

TEST_F(StatusTest, AnAbsentDeviceIsNotAnswering) {
    openWindowOnly(); // nothing listens at the address
    window->resize(1280, 800);
    EXPECT_TRUE(waitUntil([&] { return text("deviceState_label").startsWith("not answering"); },
                          std::chrono::seconds(3)))
        << text("deviceState_label").toStdString();
    EXPECT_EQ(text("deviceState_label"), "not answering, no reply yet");
    EXPECT_TRUE(showsTrouble("deviceState_label"));
    EXPECT_EQ(text("deviceModel_label"), "unknown");
    EXPECT_EQ(text("laserState_label"), "stopped");
    saveScreenshots("status-device-absent");

    // The device turns up: the window's next query finds it without the operator doing anything.
    logPath = scratch.filePath("sim.log");
    simulator = launchSimulator(deviceAddress(), "LX30", logPath);
    EXPECT_TRUE(waitUntil([&] { return text("deviceState_label").startsWith("answering"); },
                          std::chrono::seconds(8)))
        << text("deviceState_label").toStdString();
    EXPECT_EQ(text("deviceModel_label"), "LX30, firmware 31");
}

TEST_F(StatusTest, TheSimulatorAnswersWithItsModelAndFirmware) {
    startSimulator("LX20", {"--firmware", "33"});
    EXPECT_TRUE(waitUntil([&] { return text("deviceModel_label") == "LX20, firmware 33"; }))
        << text("deviceModel_label").toStdString();
    EXPECT_TRUE(text("deviceState_label").startsWith("answering, last reply "))
        << text("deviceState_label").toStdString();
    EXPECT_TRUE(label("deviceState_label")->styleSheet().contains("#2e7d32"));

    // Stopped now: the simulator stops answering, and the status says so within the time-outs.
    stopSimulator(simulator);
    click("homePushButton");
    EXPECT_TRUE(waitUntil([&] { return text("deviceState_label").startsWith("not answering"); },
                          std::chrono::seconds(5)))
        << text("deviceState_label").toStdString();
    EXPECT_TRUE(text("deviceState_label").contains("last reply"));
}

TEST_F(StatusTest, TheLaserStateFollowsStartsStopsAndGetFrame) {
    startSimulator("LX30");
    click("startLaserPushButton");
    EXPECT_TRUE(waitUntil([&] { return text("laserState_label") == "started"; }));
    EXPECT_TRUE(
        waitUntil([&] { return count("datagramsPerSecond_label") > 100; }, std::chrono::seconds(4)))
        << text("datagramsPerSecond_label").toStdString();
    click("stopLaserPushButton");
    EXPECT_TRUE(waitUntil([&] { return text("laserState_label") == "stopped"; }));

    // Get Frame: streaming while the frame runs, stopped by the device when it ends.
    click("homePushButton");
    child<QDoubleSpinBox>(window.get(), "AzSpeedDoubleSpinBox")->setValue(5);
    child<QDoubleSpinBox>(window.get(), "nLinesDoubleSpinBox")->setValue(5);
    click("getFramePushButton");
    EXPECT_TRUE(waitUntil([&] { return text("laserState_label").startsWith("streaming a frame"); }))
        << text("laserState_label").toStdString();
    EXPECT_TRUE(
        waitUntil([&] { return text("laserState_label") == "stopped"; }, std::chrono::seconds(4)))
        << text("laserState_label").toStdString();
}

TEST_F(StatusTest, GetFrameWithoutAScanLeavesTheStreamArmed) {
    startSimulator("LX30", {"--error", "SVSFFS=3"});
    click("getFramePushButton");
    EXPECT_TRUE(waitUntil([&] { return text("laserState_label") == "armed by Get Frame"; }))
        << text("laserState_label").toStdString();

    // Quitting clears the armed events, so that no later scan starts a stream to this port.
    const int resets = logged("SVERST").size();
    EXPECT_EQ(quit(), 0);
    const QStringList log = logLines(window.get());
    EXPECT_TRUE(log.contains("Quit: Reset events: Error 0x00: No Error."))
        << log.join(" | ").toStdString();
    EXPECT_EQ(logged("SVERST").size(), resets + 1);
}

// A host other than the device that answers the window's command channel is refused and counted,
// in the colour of trouble: a forged acknowledgement completes nothing.
TEST_F(StatusTest, AStrangerOnTheCommandChannelIsCounted) {
    startSimulator("LX30");
    EXPECT_EQ(text("commandsRefused_label"), "0");
    // The window's control channel as the device saw it: the sender of its serial request.
    QString sender;
    ASSERT_TRUE(waitUntil([&] {
        QFile file(logPath);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QRegularExpression line("^(\\S+):(\\d+) SVCQRE ");
        for (const QString& text : QString::fromLatin1(file.readAll()).split('\n')) {
            const QRegularExpressionMatch match = line.match(text);
            if (match.hasMatch()) {
                sender = match.captured(2);
                return true;
            }
        }
        return false;
    }));
    const int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(sender.toUInt()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string forged = "EACQRE";
    ::sendto(stranger, forged.data(), forged.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
    ::close(stranger);
    EXPECT_TRUE(
        waitUntil([&] { return count("commandsRefused_label") == 1; }, std::chrono::seconds(3)))
        << text("commandsRefused_label").toStdString();
    EXPECT_TRUE(showsTrouble("commandsRefused_label"));
}

TEST_F(StatusTest, StrangersAndBurstsMoveTheRefusedAndDropCounters) {
    startSimulator("LX30", {"--burst", "1000", "--burst-interval", "500"});
    click("startLaserPushButton");
    EXPECT_EQ(text("refused_label"), "0");

    // A stranger on this machine sends to the data port.
    const int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(processDataPort()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 5; ++i) {
        const std::string junk = "hello there " + std::to_string(i);
        ::sendto(stranger, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }
    ::close(stranger);
    EXPECT_TRUE(waitUntil([&] { return count("refused_label") >= 5; }, std::chrono::seconds(3)))
        << text("refused_label").toStdString();

    // A burst of large datagrams while the program is held up (as a loaded machine holds a
    // program up) overflows the socket's buffer: the system's drops show, in the colour of
    // trouble. (A loaded machine may drop some of the bursts already.) Held up for longer than the
    // 500 ms between bursts, so that a whole burst comes meanwhile.
    const std::uint64_t dropsBefore = count("kernelDrops_label");
    freezeThisProcess(std::chrono::milliseconds(800));
    EXPECT_TRUE(waitUntil([&] { return count("kernelDrops_label") > dropsBefore; },
                          std::chrono::seconds(6)))
        << dropsBefore << " before, " << text("kernelDrops_label").toStdString();
    EXPECT_TRUE(showsTrouble("kernelDrops_label"));
}

TEST_F(StatusTest, PacketsLostOnTheWayShowAsGapsInTheNeutralColour) {
    // Lost before they reached this machine, they leave gaps in the time stamps that look just
    // like beams without a return: counted, but no alarm.
    startSimulator("LX30", {"--drop-packets", "0.3"});
    window->resize(1280, 800);
    click("startLaserPushButton");
    EXPECT_TRUE(waitUntil([&] { return count("gaps_label") > 100; }, std::chrono::seconds(4)))
        << text("gaps_label").toStdString();
    EXPECT_TRUE(label("gaps_label")->styleSheet().isEmpty())
        << label("gaps_label")->styleSheet().toStdString();
    EXPECT_EQ(text("kernelDrops_label"), "0");
    EXPECT_TRUE(label("kernelDrops_label")->styleSheet().isEmpty());
    const QStringList captions = [&] {
        QStringList texts;
        for (const QLabel* caption :
             window->findChild<QWidget*>("device_groupBox")
                 ->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
            texts << caption->text();
        }
        return texts;
    }();
    EXPECT_TRUE(captions.contains("Refused, dropped, gaps:")) << captions.join('|').toStdString();
    saveScreenshots("status-30-percent-packet-loss");
}

TEST_F(StatusTest, QuitStopsTheStreamAndTheScanThisWindowStarted) {
    startSimulator("LX30");
    click("homePushButton");
    ASSERT_TRUE(waitUntil([&] { return logLines(window.get()).last().startsWith("Home: "); }));
    click("scanPushButton");
    click("startLaserPushButton");
    ASSERT_TRUE(waitUntil([&] { return totalPoints() > 100; }, std::chrono::seconds(5)));
    const int stopsBefore = logged("SVSRBE").size() + logged("SVSTOP").size();

    EXPECT_EQ(quit(), 0);
    const QStringList log = logLines(window.get());
    EXPECT_TRUE(log.contains("Quit: Stop Laser: Error 0x00: No Error."))
        << log.join(" | ").toStdString();
    EXPECT_TRUE(log.contains("Quit: Stop: Error 0x00: No Error.")) << log.join(" | ").toStdString();
    EXPECT_EQ(logged("SVSRBE").size() + logged("SVSTOP").size(), stopsBefore + 2);
    const std::string state = ask(deviceAddress(), "SVGMTN");
    EXPECT_EQ(state.find("streaming"), std::string::npos) << state;
    EXPECT_EQ(state.find("scanning"), std::string::npos) << state;

    // The window is gone, and nothing streams to its data port any more.
    window.reset();
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in here{};
    here.sin_family = AF_INET;
    here.sin_port = htons(static_cast<std::uint16_t>(processDataPort()));
    here.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&here), sizeof here), 0);
    EXPECT_FALSE(laserDatagramArrives(s, std::chrono::milliseconds(1500)));
    // The same socket sees a stream it asks for: the silence above is the device's.
    sendFrom(s, deviceAddress(),
             tavrel::CommandSerialiser::SVRRBE(
                 {tavrel::Parameter{0, static_cast<int>(processDataPort())}}));
    EXPECT_TRUE(laserDatagramArrives(s, std::chrono::seconds(5)));
    sendFrom(s, deviceAddress(), tavrel::CommandSerialiser::SVSRBE());
    ::close(s);
}

TEST_F(StatusTest, QuitSendsNothingWhenThisWindowStartedNothing) {
    startSimulator("LX30");
    click("startLaserPushButton");
    click("stopLaserPushButton");
    ASSERT_TRUE(waitUntil([&] { return text("laserState_label") == "stopped"; }));
    const int stops = logged("SVSRBE").size();
    EXPECT_EQ(quit(), 0);
    EXPECT_EQ(logged("SVSRBE").size(), stops);
    EXPECT_TRUE(logLines(window.get()).filter(QRegularExpression("^Quit: ")).isEmpty());
}

TEST_F(StatusTest, ASecondViewerOnATakenPortWalksToTheNextAndItsDeviceStreamsThere) {
    // Both windows start before either listens, so both read the same stored port.
    startSimulator("LX30");
    const QString secondLog = scratch.filePath("second.log");
    secondSimulator = launchSimulator(secondDeviceAddress(), "generic", secondLog);
    setWindowAddress(secondDeviceAddress());
    second = std::make_unique<MainWindow>();
    second->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(second.get()));

    click("startLaserPushButton");
    QTest::mouseClick(child<QWidget>(second.get(), "genericScanPushButton"), Qt::LeftButton);
    const unsigned taken = processDataPort();
    ASSERT_TRUE(waitUntil([&] { return !loggedArguments(secondLog, "SVRRBE").isEmpty(); }));
    EXPECT_EQ(loggedArguments(secondLog, "SVRRBE"),
              QStringList{QString("00%1").arg(taken + 1, 8, 16, QChar('0'))});
    EXPECT_TRUE(logLines(second.get()).contains("Listening on port " + QString::number(taken + 1)));

    // Each window receives its own device's points, and nobody else's.
    EXPECT_TRUE(waitUntil(
        [&] { return child<QLabel>(second.get(), "totalPoints_label")->text().toInt() > 1000; },
        std::chrono::seconds(5)));
    EXPECT_TRUE(waitUntil([&] { return totalPoints() > 1000; }, std::chrono::seconds(5)));
    // The stream figures are published once a second, the datagram rate with the refused count:
    // judged at the first publication of each window after both streams have run for a while.
    std::vector<QLabel*> rates;
    for (MainWindow* w : {window.get(), second.get()}) {
        rates.push_back(child<QLabel>(w, "datagramsPerSecond_label"));
        rates.back()->clear();
    }
    EXPECT_TRUE(waitUntil([&] {
        return std::none_of(rates.begin(), rates.end(),
                            [](QLabel* rate) { return rate->text().isEmpty(); });
    }));
    EXPECT_EQ(text("refused_label"), "0");
    EXPECT_EQ(child<QLabel>(second.get(), "refused_label")->text(), "0");
}

} // namespace
} // namespace viewer_test
