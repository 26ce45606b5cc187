// soak_bench: the viewer's window, in this process, receiving a simulated
// LX20's high-speed stream (30000 points/s, the highest rate of any model)
// during a full-field scan for minutes, with its point buffer at the largest
// maximum the window offers. The simulator runs in a child process (this
// program again, in its simulator role) so that each side's memory is its own.
// Reports points sent against points received, resident memory at the start
// and end of both processes, and the longest stall of the GUI thread, seen as
// the longest interval between ticks of a 5 ms timer on that thread.
#include "SoakSupport.h"
#include "TimedApplication.h"

#include "MainWindow.h"
#include "Simulator.h"
#include "WindowControls.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkRenderWindow.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

using bench::answerNextIntDialog;
using bench::widget;

constexpr const char* kSimulatorRole = "--simulator-role";

// The child: a simulated LX20 until SIGTERM, then its counters on one line.
int runSimulator(const std::string& address) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const long startKb = soak::residentKbOf(0);
    sentova::sim::SimulatorConfig config;
    config.address = address;
    config.echo = false;
    config.device.model = LIDAR_LX20;
    config.device.serial = sentova::sim::defaultSerial(LIDAR_LX20, 31);
    sentova::sim::Simulator simulator(config);
    try {
        simulator.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "soak simulator: cannot start on %s: %s\n", address.c_str(), e.what());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    const long endKb = soak::residentKbOf(0);
    const sentova::sim::SimulatorCounters counters = simulator.counters();
    const sentova::sim::DeviceStatus status = simulator.status();
    simulator.stop();
    std::printf("points-sent %llu packets-sent %llu packets-dropped %llu send-failures %llu "
                "rss-start-kb %ld rss-end-kb %ld\n",
                static_cast<unsigned long long>(status.pointsSent),
                static_cast<unsigned long long>(counters.packetsSent),
                static_cast<unsigned long long>(counters.packetsDropped),
                static_cast<unsigned long long>(counters.sendFailures), startKb, endKb);
    std::fflush(stdout);
    return 0;
}

// The window with a count of what the listener hands it.
class CountingWindow : public MainWindow {
public:
    explicit CountingWindow(unsigned fillFactor, std::uint64_t fillUntil)
        : fillFactor(fillFactor), fillUntil(fillUntil) {}
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int unused) override {
        delivered += observations.size();
        ++batches;
        for (unsigned k = 1; k < fillFactor && delivered + copies < fillUntil; ++k) {
            copies += observations.size();
            MainWindow::LaserDataCallback(observations, unused);
        }
        MainWindow::LaserDataCallback(std::move(observations), unused);
    }
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<std::uint64_t> batches{0};
    // Points handed over again to fill the buffer faster (the listener's thread only).
    const unsigned fillFactor;
    const std::uint64_t fillUntil;
    std::uint64_t copies = 0;
};

// The renders of the view: how many, how long the longest, how many over 50 ms. Every render
// starts and ends on the GUI thread.
struct RenderTimes {
    std::chrono::steady_clock::time_point started;
    int count = 0;
    int overSlow = 0;
    double longestMs = 0.0;
    double totalMs = 0.0;

    soak::TimedApplication* application = nullptr;

    void watch(vtkRenderWindow* window, soak::TimedApplication* app) {
        application = app;
        auto events = vtkSmartPointer<vtkCallbackCommand>::New();
        events->SetClientData(this);
        events->SetCallback([](vtkObject*, unsigned long event, void* client, void*) {
            auto* times = static_cast<RenderTimes*>(client);
            const auto now = std::chrono::steady_clock::now();
            if (event == vtkCommand::StartEvent) {
                times->started = now;
                return;
            }
            const double ms =
                std::chrono::duration<double, std::milli>(now - times->started).count();
            ++times->count;
            times->totalMs += ms;
            times->overSlow += ms > 50.0 ? 1 : 0;
            times->longestMs = std::max(times->longestMs, ms);
            times->application->rendered(ms);
        });
        window->AddObserver(vtkCommand::StartEvent, events);
        window->AddObserver(vtkCommand::EndEvent, events);
    }
    void print(const char* when) {
        std::printf("  renders %s: %d, mean %.1f ms, longest %.1f ms, %d over 50 ms\n", when, count,
                    count > 0 ? totalMs / count : 0.0, longestMs, overSlow);
        reset();
    }
    void reset() {
        count = 0;
        overSlow = 0;
        longestMs = 0.0;
        totalMs = 0.0;
    }
};

long long labelNumber(QWidget* window, const char* name) {
    return widget<QLabel>(window, name)->text().toLongLong();
}

double mb(long kb) {
    return kb / 1024.0;
}

long long drawnNow(QWidget* window, long long buffered) {
    auto* label = widget<QLabel>(window, "drawnPoints_label");
    return soak::drawnPoints(label->text().toStdString(), label->isVisible(), buffered);
}

// What the window looked like when its buffer first held a milestone's number of points.
struct Milestone {
    long long target = 0;
    double seconds = 0.0;
    long long buffered = 0;
    long long drawn = 0;
    long residentKb = 0;
    double longestStallMs = 0.0; // since the previous milestone
};

std::vector<Milestone> milestonesUpTo(unsigned maximum) {
    std::vector<Milestone> result;
    for (long long target : {1000000LL, 5000000LL, 10000000LL}) {
        if (target < maximum) {
            result.push_back({target});
        }
    }
    result.push_back({static_cast<long long>(maximum)});
    return result;
}

// How soon the event loop runs a zero-length timer, sampled every 20 ms until done() holds:
// the longest and the median answer, in milliseconds.
struct Answers {
    double longest = 0.0;
    double median = 0.0;
    int samples = 0;
};

Answers eventLoopAnswers(const std::function<bool()>& done, int timeoutMs) {
    std::vector<double> answers;
    QElapsedTimer overall;
    overall.start();
    while (!done() && overall.elapsed() < timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        double answered = -1.0;
        QTimer::singleShot(0, [&] { answered = clock.nsecsElapsed() / 1e6; });
        while (answered < 0.0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        answers.push_back(answered);
        QTest::qWait(20);
    }
    Answers result;
    result.samples = static_cast<int>(answers.size());
    if (!answers.empty()) {
        std::sort(answers.begin(), answers.end());
        result.longest = answers.back();
        result.median = answers[answers.size() / 2];
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kSimulatorRole)
        return runSimulator(argv[2]);

    const soak::Options options =
        soak::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help || !options.error.empty()) {
        std::fputs(options.error.empty() ? "" : ("soak: " + options.error + "\n").c_str(), stderr);
        std::fputs(soak::usageText(argv[0]).c_str(), options.help ? stdout : stderr);
        return options.help ? 0 : 2;
    }
    const long processStartKb = soak::residentKbOf(0);

    // Settings and runtime files of this run stay in a folder of its own.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "soak: no temporary folder\n");
        return 1;
    }
    const QByteArray scratchPath = QFile::encodeName(scratch.path());
    setenv("XDG_CONFIG_HOME", scratchPath.constData(), 1);
    setenv("XDG_RUNTIME_DIR", scratchPath.constData(), 1);

    // The window takes the device address from the command line.
    std::string program = argv[0];
    std::string address = options.address;
    char* windowArguments[] = {&program[0], &address[0], nullptr};
    int windowArgumentCount = 2;
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    soak::TimedApplication application(windowArgumentCount, windowArguments);
    QCoreApplication::setOrganizationName("Tavrel Dynamics");
    QCoreApplication::setOrganizationDomain("tavrel-dynamics.example");
    QCoreApplication::setApplicationName("LX30Tools");
    {
        QSettings settings;
        settings.clear();
        settings.setValue("network/port", options.dataPort);
        settings.sync();
    }

    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(QCoreApplication::applicationFilePath(),
                    {kSimulatorRole, QString::fromStdString(options.address)});
    if (!simulator.waitForStarted(5000) || !simulator.waitForReadyRead(5000) ||
        !simulator.readLine().startsWith("ready")) {
        std::fprintf(stderr, "soak: the simulator did not start\n");
        return 1;
    }
    const int simulatorPid = static_cast<int>(simulator.processId());
    const long simulatorStartKb = soak::residentKbOf(simulatorPid);

    auto window = std::make_unique<CountingWindow>(options.fillFactor, options.maximumPoints);
    RenderTimes renders;
    renders.watch(widget<QVTKOpenGLNativeWidget>(window.get(), "lidarQvtkWidget")->renderWindow(),
                  &application);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get(), 10000)) {
        std::fprintf(stderr, "soak: the window was not shown (no display?)\n");
        return 1;
    }
    answerNextIntDialog(static_cast<int>(options.maximumPoints));
    widget<QAction>(window.get(), "actionSet_max_points")->trigger();

    const long viewerStartKb = soak::residentKbOf(0);

    // Measure from before the stream starts, so the start itself counts. The band tracker
    // starts again at each milestone.
    soak::StallTracker stalls(std::chrono::milliseconds(100));
    soak::StallTracker bandStalls(std::chrono::milliseconds(100));
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&stalls, &bandStalls] {
        const auto now = soak::StallTracker::Clock::now();
        stalls.tick(now);
        bandStalls.tick(now);
    });
    probe.start(5);

    widget<QPushButton>(window.get(), "homePushButton")->click();
    auto* highSpeed = widget<QCheckBox>(window.get(), "laserHighSpeedcheckBox");
    if (!highSpeed->isChecked())
        highSpeed->click();
    widget<QPushButton>(window.get(), "laserPushButton")->click();
    widget<QRadioButton>(window.get(), "fullFieldradioButton")->click();
    widget<QPushButton>(window.get(), "scanPushButton")->click();

    QElapsedTimer elapsed;
    elapsed.start();
    long long rateDisplaySum = 0;
    long long largestBuffer = 0;
    qint64 reportedMinutes = 0;
    QTimer sampler;
    std::vector<Milestone> milestones = milestonesUpTo(options.maximumPoints);
    std::size_t nextMilestone = 0;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        rateDisplaySum += labelNumber(window.get(), "pointsPerSecond_label");
        const long long buffered = labelNumber(window.get(), "totalPoints_label");
        largestBuffer = std::max(largestBuffer, buffered);
        while (nextMilestone < milestones.size() && buffered >= milestones[nextMilestone].target) {
            Milestone& m = milestones[nextMilestone++];
            m.seconds = elapsed.elapsed() / 1000.0;
            m.buffered = buffered;
            m.drawn = drawnNow(window.get(), buffered);
            m.residentKb = soak::residentKbOf(0);
            m.longestStallMs = bandStalls.longest().count() / 1000.0;
            bandStalls = soak::StallTracker(std::chrono::milliseconds(100));
            std::printf("[%4.0fs] buffer %lld: drawn %lld, viewer RSS %.1f MB (%.1f B/point), "
                        "longest stall since the last figure %.1f ms\n",
                        m.seconds, m.buffered, m.drawn, mb(m.residentKb),
                        soak::bytesPerPoint(m.residentKb, viewerStartKb, m.buffered),
                        m.longestStallMs);
            renders.print("since the last figure");
        }
        // A line each minute, even when a stall swallows the sample at its boundary.
        const qint64 seconds = elapsed.elapsed() / 1000;
        if (seconds / 60 > reportedMinutes) {
            reportedMinutes = seconds / 60;
            std::printf("[%4llds] delivered %llu, buffer %lld, viewer RSS %.1f MB, longest stall "
                        "%.1f ms\n",
                        static_cast<long long>(seconds),
                        static_cast<unsigned long long>(window->delivered.load()),
                        labelNumber(window.get(), "totalPoints_label"), mb(soak::residentKbOf(0)),
                        stalls.longest().count() / 1000.0);
        }
        std::fflush(stdout);
    });
    sampler.start(1000);

    QTimer::singleShot(static_cast<int>(options.seconds * 1000.0), &application,
                       &QApplication::quit);
    application.exec();
    sampler.stop();
    const double streamedSeconds = elapsed.elapsed() / 1000.0;
    const double fullBufferStallMs = bandStalls.longest().count() / 1000.0;
    const long long endBuffered = labelNumber(window.get(), "totalPoints_label");
    const long long endDrawn = drawnNow(window.get(), endBuffered);
    const long viewerEndKb = soak::residentKbOf(0);

    // Each display mode on the full buffer, the stream going on, beside the others.
    struct ModeRun {
        QString mode;
        long long buffered = 0;
        long long shown = 0;
        long long frames = 0;
        double framesPerSecond = 0.0;
        double changeStallMs = 0.0;
        double longestStallMs = 0.0;
    };
    constexpr int kModeChangeMs = 3000;
    std::vector<ModeRun> modeRuns;
    if (options.modeSeconds > 0) {
        auto* modes = widget<QComboBox>(window.get(), "displayModeComboBox");
        for (int index = 0; index < modes->count(); ++index) {
            modes->setCurrentIndex(index);
            QMetaObject::invokeMethod(modes, "activated", Q_ARG(int, index));
            // The change of mode first (the display starting again or dropping the older
            // frames), then the mode as it runs.
            bandStalls = soak::StallTracker(std::chrono::milliseconds(100));
            renders.reset();
            QTest::qWait(kModeChangeMs);
            const double changeStallMs = bandStalls.longest().count() / 1000.0;
            bandStalls = soak::StallTracker(std::chrono::milliseconds(100));
            QTest::qWait(static_cast<int>(options.modeSeconds * 1000.0));
            ModeRun run;
            run.changeStallMs = changeStallMs;
            run.mode = modes->currentText();
            run.buffered = labelNumber(window.get(), "totalPoints_label");
            run.shown = labelNumber(window.get(), "shownPoints_label");
            run.frames = labelNumber(window.get(), "shownFrames_label");
            run.framesPerSecond =
                widget<QLabel>(window.get(), "frameRate_label")->text().toDouble();
            run.longestStallMs = bandStalls.longest().count() / 1000.0;
            modeRuns.push_back(run);
            std::printf("[mode] %s: %lld of %lld points shown, longest stall %.1f ms at the "
                        "change, %.1f ms after it\n",
                        run.mode.toUtf8().constData(), run.shown, run.buffered, run.changeStallMs,
                        run.longestStallMs);
            renders.print("in this mode");
            std::fflush(stdout);
        }
        modes->setCurrentIndex(0);
        QMetaObject::invokeMethod(modes, "activated", Q_ARG(int, 0));
    }

    // A smaller maximum while the stream goes on: the memory of the large buffer goes back.
    const unsigned smallerMaximum = std::max(1000u, options.maximumPoints / 10);
    answerNextIntDialog(static_cast<int>(smallerMaximum));
    widget<QAction>(window.get(), "actionSet_max_points")->trigger();
    QTest::qWait(3000);
    const long long afterSetMaxBuffered = labelNumber(window.get(), "totalPoints_label");
    const long afterSetMaxKb = soak::residentKbOf(0);
    probe.stop();

    // Stop the stream and the scan, then let the last datagrams through.
    widget<QPushButton>(window.get(), "laserStopPushButton")->click();
    widget<QPushButton>(window.get(), "scanStopPushButton")->click();
    QTest::qWait(500);
    const long socketDrops = soak::udpDropsNow(options.dataPort);
    const long simulatorEndKbSeen = soak::residentKbOf(simulatorPid);
    const std::uint64_t delivered = window->delivered;
    const std::uint64_t batches = window->batches;
    const long long displayed = labelNumber(window.get(), "totalPoints_label");

    simulator.terminate();
    simulator.waitForFinished(5000);

    // "Reset scene": back to the empty-buffer size.
    widget<QAction>(window.get(), "actionClear_Scene")->trigger();
    QTest::qWait(2000);
    const long afterResetKb = soak::residentKbOf(0);

    // The device is gone: Home waits for its time-out while the event loop goes on answering.
    auto* logView = widget<QPlainTextEdit>(window.get(), "log_plainTextEdit");
    const int linesBeforeHome = logView->blockCount();
    QElapsedTimer homeClock;
    homeClock.start();
    widget<QPushButton>(window.get(), "homePushButton")->click();
    const Answers absent =
        eventLoopAnswers([&] { return logView->blockCount() > linesBeforeHome; }, 20000);
    const double homeSeconds = homeClock.elapsed() / 1000.0;
    const QStringList log = logView->toPlainText().split('\n', Qt::SkipEmptyParts);
    const QString simulatorReport =
        QString::fromLatin1(simulator.readAllStandardOutput()).trimmed();
    const QStringList fields = simulatorReport.split(' ', Qt::SkipEmptyParts);
    auto simulatorFigure = [&fields](const char* name) {
        const int at = fields.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < fields.size() ? fields[at + 1].toLongLong() : -1LL;
    };
    const long long sent = simulatorFigure("points-sent");

    std::printf(
        "\nsoak: %.1f s of LX20 high-speed stream (30000 points/s) with a full-field scan\n",
        streamedSeconds);
    std::printf("window log:\n");
    for (const QString& line : log)
        std::printf("  %s\n", line.toLocal8Bit().constData());
    std::printf("points sent by the simulator        %lld in %lld packets (%lld dropped by "
                "fault injection, %lld send failures)\n",
                sent, simulatorFigure("packets-sent"), simulatorFigure("packets-dropped"),
                simulatorFigure("send-failures"));
    std::printf(
        "points delivered by the listener    %llu in %llu batches (%.4f%% of sent)\n",
        static_cast<unsigned long long>(delivered), static_cast<unsigned long long>(batches),
        sent > 0 ? 100.0 * static_cast<double>(delivered) / static_cast<double>(sent) : 0.0);
    std::printf("datagrams dropped at the data socket %ld (kernel receive buffer)\n", socketDrops);
    std::printf("viewer: points/s display, summed once a second %lld\n", rateDisplaySum);
    std::printf("viewer: buffer maximum              %u points\n", options.maximumPoints);
    std::printf("viewer: points shown at the end     %lld (largest seen %lld)\n", displayed,
                largestBuffer);
    std::printf("resident memory, simulator          start %.1f MB (after start-up %.1f MB), "
                "end %.1f MB (seen by this process %.1f MB)\n",
                mb(simulatorFigure("rss-start-kb")), mb(simulatorStartKb),
                mb(simulatorFigure("rss-end-kb")), mb(simulatorEndKbSeen));
    std::printf("resident memory, viewer             process start %.1f MB, window up with an "
                "empty buffer %.1f MB, end %.1f MB\n",
                mb(processStartKb), mb(viewerStartKb), mb(viewerEndKb));
    std::printf("\n%12s %10s %12s %12s %12s %16s\n", "buffered", "at s", "drawn/frame", "RSS MB",
                "B/point", "longest stall ms");
    for (const Milestone& m : milestones) {
        if (m.buffered == 0) {
            std::printf("%12lld %10s (not reached)\n", m.target, "-");
            continue;
        }
        std::printf("%12lld %10.0f %12lld %12.1f %12.1f %16.1f\n", m.buffered, m.seconds, m.drawn,
                    mb(m.residentKb), soak::bytesPerPoint(m.residentKb, viewerStartKb, m.buffered),
                    m.longestStallMs);
    }
    std::printf("%12lld %10.0f %12lld %12.1f %12.1f %16.1f  (end, full buffer evicting)\n",
                endBuffered, streamedSeconds, endDrawn, mb(viewerEndKb),
                soak::bytesPerPoint(viewerEndKb, viewerStartKb, endBuffered), fullBufferStallMs);
    std::printf(
        "\nafter Set max %u (streaming, %lld points buffered 3 s later): viewer RSS %.1f MB "
        "(empty buffer %.1f MB)\n",
        smallerMaximum, afterSetMaxBuffered, mb(afterSetMaxKb), mb(viewerStartKb));
    std::printf("after Reset scene (stream stopped, 2 s later): viewer RSS %.1f MB (%.1f%% of the "
                "empty-buffer size)\n",
                mb(afterResetKb), 100.0 * afterResetKb / viewerStartKb);
    std::printf("absent device: Home waited %.1f s; the event loop answered a zero-length timer in "
                "%.1f ms at most, %.1f ms median (%d samples)\n",
                homeSeconds, absent.longest, absent.median, absent.samples);
    if (!modeRuns.empty()) {
        std::printf("\nDisplay modes on the full buffer, the stream going on: the longest stall "
                    "in the %d s after the change, then over %.0f s:\n",
                    kModeChangeMs / 1000, options.modeSeconds);
        std::printf("%-16s %12s %12s %8s %10s %20s %18s\n", "mode", "buffered", "shown", "frames",
                    "frames/s", "stall at change ms", "longest stall ms");
        for (const ModeRun& run : modeRuns) {
            std::printf("%-16s %12lld %12lld %8lld %10.1f %20.1f %18.1f\n",
                        run.mode.toUtf8().constData(), run.buffered, run.shown, run.frames,
                        run.framesPerSecond, run.changeStallMs, run.longestStallMs);
        }
    }
    std::printf("GUI thread: longest stall           %.1f ms (at %.1f s), %llu intervals over "
                "100 ms, %llu ticks of 5 ms\n",
                stalls.longest().count() / 1000.0, stalls.longestAt().count() / 1000.0,
                static_cast<unsigned long long>(stalls.overThreshold()),
                static_cast<unsigned long long>(stalls.ticks()));
    application.printSlowEvents();
    std::fflush(stdout);

    window.reset();
    return 0;
}
