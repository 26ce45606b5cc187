// The window against the device simulator process on this test process's own loopback
// address.
#pragma once

#include "GuiTestSupport.h"
#include "MainWindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QVTKOpenGLNativeWidget.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include <memory>

namespace viewer_test {

// One command exchange with the simulator from a socket of the test's own.
inline std::string ask(const std::string& address, const std::string& command,
                       std::uint16_t port = 4365) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    timeval timeout{0, 200000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(s, command.data(), command.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    char buffer[512];
    const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    ::close(s);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// A second loopback address of this test process's own, for a second device: 127.76.2.x.
inline std::string secondDeviceAddress() {
    const std::string address = deviceAddress();
    const std::size_t host = address.rfind('.');
    return address.substr(0, address.rfind('.', host - 1)) + ".2" + address.substr(host);
}

// Starts a simulator on address (extra: more of its options), logging its commands to logPath,
// and waits until it answers.
inline std::unique_ptr<QProcess> launchSimulator(const std::string& address, const QString& model,
                                                 const QString& logPath,
                                                 const QStringList& extra = {}) {
    auto simulator = std::make_unique<QProcess>();
    simulator->start(QStringLiteral(SENTOVA_SIM_PROGRAM),
                     QStringList{"--address", QString::fromStdString(address), "--model", model,
                                 "--home-time", "50", "--quiet", "--log", logPath,
                                 "--exit-with-parent"} +
                         extra);
    EXPECT_TRUE(simulator->waitForStarted(5000));
    EXPECT_TRUE(
        waitUntil([&] { return !ask(address, "SVPPPP").empty(); }, std::chrono::seconds(5)));
    return simulator;
}

inline void stopSimulator(std::unique_ptr<QProcess>& simulator) {
    if (simulator) {
        simulator->terminate();
        simulator->waitForFinished(5000);
        simulator.reset();
    }
}

// True once the simulator neither scans nor streams, as its motion state says.
inline bool atRest(const std::string& address) {
    const std::string state = ask(address, "SVGMTN");
    return !state.empty() && state.find("streaming") == std::string::npos &&
           state.find("scanning") == std::string::npos;
}

// The laser points a simulator has sent so far, to every host, from the counters line it prints
// on SIGUSR1; -1 when no line came or the simulator is no longer running (a process that has
// ended has the id 0, and kill(0) would signal this whole process group, the test runner too).
inline long long pointsSent(QProcess& simulator) {
    const auto pid = static_cast<pid_t>(simulator.processId());
    if (simulator.state() != QProcess::Running || pid <= 0) {
        return -1;
    }
    simulator.readAllStandardError();
    ::kill(pid, SIGUSR1);
    static const QRegularExpression points("points (\\d+);");
    QString text;
    QRegularExpressionMatch match;
    waitUntil(
        [&] {
            text += QString::fromLatin1(simulator.readAllStandardError());
            match = points.match(text);
            return match.hasMatch();
        },
        std::chrono::seconds(5));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// Argument bytes (hex) of every command with this code in a simulator's log.
inline QStringList loggedArguments(const QString& logPath, const QString& code) {
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

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { resetSettings(); }

    void TearDown() override {
        window.reset();
        stopSimulator(simulator);
    }

    // Starts the simulator (extra: more of its options) and a window on it.
    void startSimulator(const QString& model, const QStringList& extra = {}) {
        logPath = scratch.filePath("sim.log");
        simulator = launchSimulator(deviceAddress(), model, logPath, extra);
        ASSERT_FALSE(HasFailure());
        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(settle());
    }

    // Waits until the window's device commands have ended and reported.
    bool settle() {
        return waitUntil([this] { return !window->waitingForDevice(); }, std::chrono::seconds(10));
    }

    // Argument bytes (hex) of every logged command with this code.
    QStringList logged(const QString& code) { return loggedArguments(logPath, code); }

    // Presses a button and waits for the command it starts, if any.
    void click(const char* name) {
        QTest::mouseClick(child<QWidget>(window.get(), name), Qt::LeftButton);
        EXPECT_TRUE(settle()) << name;
    }

    int totalPoints() { return child<QLabel>(window.get(), "totalPoints_label")->text().toInt(); }

    // Waits until the window shows every point the simulator has sent so far (the listener may
    // hold a last one back); returns how many it sent.
    long long showAllSent() {
        const long long sent = pointsSent(*simulator);
        EXPECT_GE(sent, 0);
        EXPECT_TRUE(waitUntil([&] { return totalPoints() >= sent - 1; }))
            << totalPoints() << " shown of " << sent;
        return sent;
    }

    // Saves the window and the 3D view as PNG files when SENTOVA_SCREENSHOT_DIR names a folder.
    void saveScreenshots(const QString& name) {
        const QString folder = qEnvironmentVariable("SENTOVA_SCREENSHOT_DIR");
        if (folder.isEmpty()) {
            return;
        }
        QDir().mkpath(folder);
        EXPECT_TRUE(window->grab().save(QDir(folder).filePath(name + "-window.png")));
        auto* view = child<QVTKOpenGLNativeWidget>(window.get(), "lidarQvtkWidget");
        EXPECT_TRUE(view->grabFramebuffer().save(QDir(folder).filePath(name + "-view.png")));
    }

    QString portHex() { return QString("%1").arg(processDataPort(), 8, 16, QChar('0')); }

    QTemporaryDir scratch;
    QString logPath;
    std::unique_ptr<QProcess> simulator;
    std::unique_ptr<MainWindow> window;
};

} // namespace viewer_test
