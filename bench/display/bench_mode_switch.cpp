// The GUI thread's longest stall across a change of display mode, in the window under a virtual
// display (software OpenGL), with the buffer full of scan frames (100,000 points each, one second
// of device time each). For each buffer size (default 1,000,000 and 10,000,000) it goes
//   All points -> Latest frame -> Last N frames -> Last T seconds -> All points
// and prints, per change, the longest interval between ticks of a 5 ms timer on the GUI thread in
// the seconds after it, when the display had settled (the last change of the Stats box's figures),
// and the longest GUI-thread event with what it was. Beside each, the peer: the longest stall of
// the same window sitting in its mode for as long with nothing changing.
//
// The device is the simulator in this process (it answers the serial number); the points are
// handed to the window's laser data callback as the listener would, in batches of one datagram
// (63 observations).
//
// Usage: xvfb-run -a -s "-screen 0 1280x1024x24" bench_mode_switch [sizes...]
//        [--address 127.93.0.1] [--settle-seconds 3]
#include "MainWindow.h"
#include "Simulator.h"
#include "WindowBench.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QMetaEnum>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace windowbench;

constexpr std::size_t kFramePoints = 100000;
constexpr std::size_t kLinePoints = 1000;
constexpr std::size_t kBatch = 63;
constexpr std::uint32_t kPointMicros = 10;

// Frames of a raster: lines climbing in elevation, each sweeping the azimuth; the next frame
// starts again at the bottom line.
void feed(MainWindow& window, std::size_t points) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(0.0, 50.0);
    std::uniform_int_distribution<int> amplitude(0, 60000);
    std::vector<tavrel::tavrel_rbe_obs_t> batch;
    for (std::size_t i = 0; i < points;) {
        batch.clear();
        for (std::size_t j = 0; j < kBatch && i < points; ++j, ++i) {
            const std::size_t inFrame = i % kFramePoints;
            const double line = static_cast<double>(inFrame / kLinePoints);
            const double along = static_cast<double>(inFrame % kLinePoints);
            tavrel::tavrel_rbe_obs_t o{};
            o.azimuth = -180.0 + 360.0 * along / kLinePoints;
            o.elevation = -30.0 + 60.0 * line / (kFramePoints / kLinePoints);
            o.range = 5000.0 + noise(random);
            o.timestamp = static_cast<std::uint32_t>(i * kPointMicros);
            o.amplitude = amplitude(random);
            batch.push_back(o);
        }
        window.LaserDataCallback(batch, 0);
    }
}

struct Change {
    QString from, to;
    double stallMs = 0.0;
    double settledMs = 0.0;
    double eventMs = 0.0;
    std::string event;
    double peerStallMs = 0.0;
    long long shown = 0;
};

void run(TimedApplication& application, const std::string& address, std::size_t size,
         int settleMs) {
    auto window = std::make_unique<MainWindow>(QString::fromStdString(address));
    window->resize(1280, 900);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) {
        std::fprintf(stderr, "bench_mode_switch: the window was not shown\n");
        std::exit(1);
    }
    answerNextIntDialog(static_cast<int>(size));
    widget<QAction>(window.get(), "actionSet_max_points")->trigger();

    auto* total = widget<QLabel>(window.get(), "totalPoints_label");
    auto* shown = widget<QLabel>(window.get(), "shownPoints_label");
    auto* modes = widget<QComboBox>(window.get(), "displayModeComboBox");
    const auto choose = [modes](int index) {
        modes->setCurrentIndex(index);
        QMetaObject::invokeMethod(modes, "activated", Q_ARG(int, index));
    };
    choose(0);

    const auto fillStart = Clock::now();
    feed(*window, size);
    const double fedMs = msBetween(fillStart, Clock::now());
    const QString target = QString::number(size);
    if (!waitUntil([&] { return total->text() == target; }, 600000)) {
        std::fprintf(stderr, "bench_mode_switch: the display did not reach %zu points\n", size);
        std::exit(1);
    }
    std::printf("%zu points in %zu frames: fed in %.0f ms, drawn after %.0f ms\n", size,
                (size + kFramePoints - 1) / kFramePoints, fedMs,
                msBetween(fillStart, Clock::now()));
    std::fflush(stdout);

    Probe probe({total, shown});
    // Settle first, with the probe running, so that the first change starts from a quiet
    // window.
    QTest::qWait(settleMs);

    std::vector<Change> changes;
    for (int to : {1, 2, 3, 0}) {
        Change change;
        change.from = modes->currentText();
        // The peer: the window sitting in the mode it is in.
        probe.reset();
        QTest::qWait(settleMs);
        change.peerStallMs = probe.longestMs;

        probe.reset();
        application.reset();
        choose(to);
        QTest::qWait(settleMs);
        change.to = modes->currentText();
        change.stallMs = probe.longestMs;
        change.settledMs = msBetween(probe.started, probe.settledAt);
        change.eventMs = application.longestMs;
        change.event = application.longestKind;
        change.shown = shown->text().toLongLong();
        changes.push_back(change);
    }
    std::printf("%-16s %-16s %10s %12s %12s %10s  %s\n", "from", "to", "shown", "stall ms",
                "(peer) ms", "settled ms", "longest event");
    for (const Change& c : changes) {
        std::printf("%-16s %-16s %10lld %12.1f %12.1f %10.0f  %.1f ms %s\n",
                    c.from.toUtf8().constData(), c.to.toUtf8().constData(), c.shown, c.stallMs,
                    c.peerStallMs, c.settledMs, c.eventMs, c.event.c_str());
    }
    std::fflush(stdout);
    window.reset();
}

} // namespace

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QTemporaryDir settingsDir;
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toLocal8Bit());
    TimedApplication application(argc, argv);
    application.setOrganizationName("Tavrel Dynamics");
    application.setApplicationName("LX30Tools");

    std::string address = "127.93.0.1";
    int settleMs = 3000;
    std::vector<std::size_t> sizes;
    const QStringList arguments = application.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--address" && i + 1 < arguments.size()) {
            address = arguments[++i].toStdString();
        } else if (arguments[i] == "--settle-seconds" && i + 1 < arguments.size()) {
            settleMs = static_cast<int>(arguments[++i].toDouble() * 1000.0);
        } else {
            sizes.push_back(arguments[i].toULongLong());
        }
    }
    if (sizes.empty()) {
        sizes = {1000000, 10000000};
    }

    sentova::sim::SimulatorConfig config;
    config.address = address;
    config.echo = false;
    sentova::sim::Simulator simulator(config);
    simulator.start();
    for (std::size_t size : sizes) {
        run(application, address, size, settleMs);
    }
    simulator.stop();
    return 0;
}
