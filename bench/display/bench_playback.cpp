// A recording in the window under a virtual display (software OpenGL): a synthetic recording of
// about 1 GB (100,000 points a frame, 4 s of device time each) opened through "Load", then
//   open      time from the file dialog's answer to the first frame drawn, and the index's
//             growth: frames and megabytes a second, the time to the complete index, the
//             longest GUI stall while it grows;
//   scrub     slider moves to frames spread over the recording: time from the move to the frame
//             drawn (median and longest), and the longest GUI stall meanwhile;
//   play 8x   the longest GUI stall while playing at 8x, the frames shown, the resident memory;
// each beside the peer: the same window sitting on the frame shown for as long.
//
// Usage: xvfb-run -a -s "-screen 0 1280x1024x24" bench_playback [megabytes, default 1024]
//        [--folder /tmp] [--address 127.93.0.2] [--seconds 10]
#include "BenchTiming.h"
#include "MainWindow.h"
#include "Simulator.h"
#include "SyntheticRecording.h"
#include "WindowBench.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QSlider>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QVTKOpenGLNativeWidget.h>

#include <fstream>
#include <random>

using namespace windowbench;

namespace {

using bench::median;

const bench::Raster kRaster{63, 40, 2500};

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
        }
    }
    return 0.0;
}

void answerNextFileDialog(const QString& path) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            return;
        }
        dialog->selectFile(path);
        if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
            edit->setText(path);
        }
        QMetaObject::invokeMethod(dialog, "accept");
        poll->stop();
        poll->deleteLater();
    });
    poll->start(10);
}

// "Frame k of n (...)": n, or 0.
long frameCountOf(const QString& text) {
    const int of = text.indexOf(" of ");
    return of < 0 ? 0 : text.mid(of + 4).section(' ', 0, 0).toLong();
}

} // namespace

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QTemporaryDir settingsDir;
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toLocal8Bit());
    TimedApplication application(argc, argv);
    application.setOrganizationName("Tavrel Dynamics");
    application.setApplicationName("LX30Tools");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);

    std::uint64_t megabytes = 1024;
    QString folder = "/tmp";
    std::string address = "127.93.0.2";
    double seconds = 10.0;
    const QStringList arguments = application.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--folder" && i + 1 < arguments.size()) {
            folder = arguments[++i];
        } else if (arguments[i] == "--address" && i + 1 < arguments.size()) {
            address = arguments[++i].toStdString();
        } else if (arguments[i] == "--seconds" && i + 1 < arguments.size()) {
            seconds = arguments[++i].toDouble();
        } else {
            megabytes = arguments[i].toULongLong();
        }
    }

    QTemporaryDir scratch(folder + "/bench_playback-XXXXXX");
    const QString path = scratch.filePath("recording.pcap");
    const auto writeStart = Clock::now();
    const std::uint64_t points =
        bench::writeRecording(path.toStdString(), megabytes << 20, kRaster);
    const std::uint64_t frames = (points + kRaster.pointsPerFrame() - 1) / kRaster.pointsPerFrame();
    std::printf("recording: %llu MB, %llu points, %llu frames of %llu points, written in %.1f s\n",
                static_cast<unsigned long long>(megabytes), static_cast<unsigned long long>(points),
                static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(kRaster.pointsPerFrame()),
                msBetween(writeStart, Clock::now()) / 1000.0);
    std::fflush(stdout);

    sentova::sim::SimulatorConfig config;
    config.address = address;
    config.echo = false;
    sentova::sim::Simulator simulator(config);
    simulator.start();
    {
        MainWindow window(QString::fromStdString(address));
        window.resize(1280, 900);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            std::fprintf(stderr, "bench_playback: the window was not shown\n");
            return 1;
        }
        auto* total = widget<QLabel>(&window, "totalPoints_label");
        auto* frameLabel = widget<QLabel>(&window, "frameLabel");
        auto* slider = widget<QSlider>(&window, "timelineSlider");
        auto* speed = widget<QComboBox>(&window, "speedComboBox");
        const QString framePoints = QString::number(kRaster.pointsPerFrame());
        Probe probe({total, frameLabel});
        const double idleMiB = residentMiB();

        // Open: the first frame drawn, then the index growing to its end.
        answerNextFileDialog(path);
        probe.reset();
        const auto openStart = Clock::now();
        QMetaObject::invokeMethod(&window, "askForPCDFileToLoad", Qt::QueuedConnection);
        if (!waitUntil([&] { return total->text() == framePoints; }, 60000)) {
            std::fprintf(stderr, "bench_playback: no first frame drawn\n");
            return 1;
        }
        const double firstFrameMs = msBetween(openStart, Clock::now());
        const long framesAtFirst = frameCountOf(frameLabel->text());
        const auto growStart = Clock::now();
        waitUntil([&] { return frameLabel->toolTip().isEmpty(); }, 600000);
        const double indexMs = msBetween(openStart, Clock::now());
        const double growMs = msBetween(growStart, Clock::now());
        const long indexed = frameCountOf(frameLabel->text());
        const double openStallMs = probe.longestMs;
        const double openEventMs = application.longestMs;
        const std::string openEvent = application.longestKind;

        probe.reset();
        QTest::qWait(3000);
        const double peerMs = probe.longestMs;

        // Scrub: moves spread over the recording, each waited for until its frame is drawn.
        std::mt19937 random(3);
        std::uniform_int_distribution<int> pick(0, slider->maximum());
        std::vector<double> scrubMs;
        probe.reset();
        application.reset();
        for (int i = 0; i < 30; ++i) {
            int k = pick(random);
            if (k == slider->value()) {
                k = (k + 1) % (slider->maximum() + 1);
            }
            total->clear();
            const QString wanted = "Frame " + QString::number(k + 1) + " of";
            const auto moved = Clock::now();
            slider->setValue(k);
            if (!waitUntil(
                    [&] {
                        return frameLabel->text().startsWith(wanted) &&
                               total->text() == framePoints;
                    },
                    10000)) {
                std::fprintf(stderr, "bench_playback: frame %d not drawn\n", k + 1);
                return 1;
            }
            scrubMs.push_back(msBetween(moved, Clock::now()));
        }
        const double scrubStallMs = probe.longestMs;
        const double scrubEventMs = application.longestMs;
        const std::string scrubEvent = application.longestKind;

        // Play at 8x from the start.
        slider->setValue(0);
        QTest::qWait(500);
        for (int i = 0; i < speed->count(); ++i) {
            if (speed->itemText(i) == QString::fromUtf8("8\u00d7")) {
                speed->setCurrentIndex(i);
            }
        }
        probe.reset();
        application.reset();
        QTest::mouseClick(widget<QWidget>(&window, "playPushButton"), Qt::LeftButton);
        const auto playStart = Clock::now();
        QTest::qWait(static_cast<int>(seconds * 1000.0));
        const double playedS = msBetween(playStart, Clock::now()) / 1000.0;
        const double playStallMs = probe.longestMs;
        const double playEventMs = application.longestMs;
        const std::string playEvent = application.longestKind;
        const QString reached = frameLabel->text();
        const double playMiB = residentMiB();
        QTest::mouseClick(widget<QWidget>(&window, "playPushButton"), Qt::LeftButton);

        std::printf("open:    first frame drawn after %.0f ms (%ld frames indexed by then); index "
                    "complete after %.1f s: %ld frames, %.1f frames/s, %.0f MB/s; longest stall "
                    "%.1f ms (peer %.1f ms), longest event %.1f ms %s\n",
                    firstFrameMs, framesAtFirst, indexMs / 1000.0, indexed,
                    growMs > 0 ? (indexed - framesAtFirst) * 1000.0 / growMs : 0.0,
                    megabytes * 1000.0 / indexMs, openStallMs, peerMs, openEventMs,
                    openEvent.c_str());
        std::printf("scrub:   %zu moves, move to frame drawn median %.0f ms, longest %.0f ms; "
                    "longest stall %.1f ms (peer %.1f ms), longest event %.1f ms %s\n",
                    scrubMs.size(), median(scrubMs),
                    *std::max_element(scrubMs.begin(), scrubMs.end()), scrubStallMs, peerMs,
                    scrubEventMs, scrubEvent.c_str());
        std::printf("play 8x: %.1f s, reached \"%s\"; longest stall %.1f ms (peer %.1f ms), "
                    "longest event %.1f ms %s; resident %.0f MiB (%.0f MiB before opening)\n",
                    playedS, reached.toUtf8().constData(), playStallMs, peerMs, playEventMs,
                    playEvent.c_str(), playMiB, idleMiB);
        std::fflush(stdout);
    }
    simulator.stop();
    return 0;
}
