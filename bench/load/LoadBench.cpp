// load_bench: the window's Load of a large binary point file (PLY and PCD), in this process,
// beside CloudCompare loading the same file (the time it prints, under xvfb-run) and PCL's readers
// in the same run, with the longest stall of the GUI thread during the window's load.
//
// The window is driven as the operator drives it: its Load action, the file dialog answered from
// the dialog's own event loop. The clock starts when the dialog is accepted; the buffer holds
// every point when the status bar reports the file loaded (the report follows the store's
// replace); the display has taken them all in when "Total points" shows every point. A stall is
// the longest interval between ticks of a 5 ms timer on the GUI thread, from the acceptance until
// a second after every point is shown. Resident memory is read from /proc: its peak over each
// load (the peak reset just before it), and what the load leaves once the memory freed is
// returned.
#include "SoakSupport.h"
#include "StreamPoints.h"
#include "TimedApplication.h"

#include "MainWindow.h"
#include "MemoryRelease.h"
#include "PointStream.h"
#include "WindowControls.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::answerFileDialog;
using bench::waitFor;
using bench::widget;

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "load_bench: %s\n", why.c_str());
    std::exit(1);
}

struct Options {
    std::size_t points = 10000000;
    int runs = 3;
    std::string directory; // empty: a temporary folder
    bool peer = true;
    bool help = false;
    std::string error;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--no-peer") {
            o.peer = false;
        } else if ((a == "--dir" || a == "--runs") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (a == "--dir") {
                o.directory = value;
            } else {
                o.runs = std::atoi(value.c_str());
                if (o.runs < 1 || o.runs > 100) {
                    o.error = "not a number of runs (1 to 100): " + value;
                }
            }
        } else if (positional == 0 && !a.empty() && a[0] != '-') {
            char* end = nullptr;
            const unsigned long long n = std::strtoull(a.c_str(), &end, 10);
            if (*end != '\0' || n == 0 || n > 200000000) {
                o.error = "not a point count (1 to 200000000): " + a;
            }
            o.points = static_cast<std::size_t>(n);
            ++positional;
        } else {
            o.error = "unknown argument " + a;
        }
    }
    return o;
}

void usage(const char* program, std::FILE* to) {
    std::fprintf(to,
                 "usage: %s [points] [--runs N] [--dir FOLDER] [--no-peer]\n"
                 "Writes a binary PLY and a binary PCD file of the points (default 10000000;\n"
                 "x, y, z, amplitude) and times, N times each (default 3), the viewer's window\n"
                 "loading it through Load, CloudCompare loading it under xvfb-run (the time it\n"
                 "prints; it reads no PCD) and PCL's reader of the format. Prints the best of\n"
                 "the runs, the longest GUI-thread stall and the load average.\n"
                 "Needs a display, e.g. xvfb-run -a -s \"-screen 0 1280x1024x24\" %s\n",
                 program, program);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string loadAverage() {
    std::FILE* f = std::fopen("/proc/loadavg", "r");
    char text[128] = {};
    if (f) {
        if (!std::fgets(text, sizeof text, f)) {
            text[0] = '\0';
        }
        std::fclose(f);
    }
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

void writeInput(const std::string& path, formats::Format format, std::size_t n) {
    formats::WriteOptions options;
    options.fields = formats::noFields();
    options.fields.x = options.fields.y = options.fields.z = options.fields.intensity = true;
    formats::Extent extent;
    extent.count = n;
    std::string error;
    std::unique_ptr<formats::PointWriter> writer =
        formats::createWriter(path, format, options, extent, error);
    if (!writer) {
        fail(path + ": " + error);
    }
    bench::PointStream stream;
    std::vector<DataPoint> chunk;
    for (std::size_t done = 0; done < n;) {
        chunk.clear();
        while (chunk.size() < formats::kChunkPoints && done < n) {
            chunk.push_back(stream.next());
            ++done;
        }
        if (!writer->write(chunk.data(), chunk.size())) {
            fail(path + ": " + writer->error());
        }
    }
    const formats::Outcome o = writer->finish();
    if (!o.ok) {
        fail(path + ": " + o.error);
    }
}

// CloudCompare's own figure for the load ("Processed finished in S s.", its only command being
// the load), and the wall time of the whole command, X server start-up included. Negative when it
// could not load the file.
struct PeerRun {
    double printed = -1.0;
    double wall = -1.0;
};

PeerRun runCloudCompare(const std::string& path, std::size_t n) {
    const std::string command =
        "xvfb-run -a CloudCompare -SILENT -NO_TIMESTAMP -O '" + path + "' 2>&1";
    PeerRun run;
    const Clock::time_point start = Clock::now();
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return run;
    }
    bool loaded = false;
    const std::string found = "Found one cloud with " + std::to_string(n) + " points";
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        const std::string text = line;
        if (text.find(found) != std::string::npos) {
            loaded = true;
        }
        const std::string mark = "Processed finished in ";
        const std::size_t at = text.find(mark);
        if (at != std::string::npos) {
            run.printed = std::atof(text.c_str() + at + mark.size());
        }
    }
    const int status = ::pclose(pipe);
    run.wall = secondsSince(start);
    if (!loaded || status != 0) {
        run = {};
    }
    return run;
}

double runPcl(const std::string& path, formats::Format format, std::size_t n) {
    pcl::PCLPointCloud2 cloud;
    const Clock::time_point start = Clock::now();
    const int status = format == formats::Format::PlyBinary ? pcl::io::loadPLYFile(path, cloud)
                                                            : pcl::io::loadPCDFile(path, cloud);
    const double seconds = secondsSince(start);
    return status == 0 && std::size_t{cloud.width} * cloud.height == n ? seconds : -1.0;
}

// A "VmRSS:" or "VmHWM:" figure of this process in kB, -1 when /proc does not give it.
long statusKb(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atol(line.c_str() + key.size());
        }
    }
    return -1;
}

// The peak resident memory starts again from the resident memory now.
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The resident memory once the window's release thread has given back what it freed: it no
// longer falls by a megabyte over a quarter of a second (or 20 s have passed).
long settledKb() {
    long last = statusKb("VmRSS:");
    const Clock::time_point end = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < end) {
        QTest::qWait(250);
        const long now = statusKb("VmRSS:");
        if (last - now < 1024) {
            return now;
        }
        last = now;
    }
    return last;
}

double megabytesOf(long kb) {
    return kb * 1024.0 / 1e6;
}

struct WindowRun {
    double buffered = 0.0; // the status bar reports the file loaded
    double shown = 0.0;    // Total points shows every point
    double stallMs = 0.0;
    double stallAt = 0.0; // when the longest stall ended, after the acceptance
    long beforeKb = 0;    // resident, settled, before the load
    long peakKb = 0;      // the highest resident during the load
    long afterKb = 0;     // resident, settled, after it
};

class WindowLoad {
public:
    explicit WindowLoad(MainWindow& window) : m_window(window) {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_stalls.tick(soak::StallTracker::Clock::now()); });
    }

    // The file loaded into an empty scene, or over one that shows the n points of the last
    // load. Over a full scene "Total points" shows n throughout (a load's points come with the
    // display's copy of them, taken in at one refresh): that run ends when the buffer holds the
    // new points, and the second that follows is watched for stalls as after every load.
    WindowRun run(const QString& file, std::size_t n, bool overFull) {
        QLabel* total = widget<QLabel>(&m_window, "totalPoints_label");
        const QString count = QString::number(n);
        if (overFull) {
            if (total->text() != count) {
                fail("the scene does not hold the last load's points");
            }
        } else {
            widget<QAction>(&m_window, "actionClear_Scene")->trigger();
            if (!waitFor([&] { return total->text() == "0"; }, std::chrono::seconds(60))) {
                fail("the scene was not cleared");
            }
        }
        QTest::qWait(1000);
        WindowRun r;
        r.beforeKb = settledKb();
        resetPeak();
        Clock::time_point accepted;
        answerFileDialog(file, [&] {
            m_stalls = soak::StallTracker(std::chrono::milliseconds(100));
            m_stalls.tick(soak::StallTracker::Clock::now());
            m_timer.start(5);
            accepted = Clock::now();
        });
        QWidget* view = widget<QWidget>(&m_window, "lidarQvtkWidget");
        const QSize before = view->size();
        widget<QAction>(&m_window, "actionLoad")->trigger();
        const QString loaded = "File " + file + " loaded.";
        QStatusBar* status = m_window.statusBar();
        bool buffered = false;
        const bool shown = waitFor(
            [&] {
                if (!buffered && status->currentMessage() == loaded) {
                    buffered = true;
                    r.buffered = secondsSince(accepted);
                }
                return buffered && total->text() == count;
            },
            std::chrono::seconds(600));
        if (!shown) {
            fail("the window did not show the " + count.toStdString() + " points of " +
                 file.toStdString() + "; status: " + status->currentMessage().toStdString());
        }
        r.shown = secondsSince(accepted);
        if (view->size() != before) {
            std::printf("  (the 3D view changed size during the load)\n");
        }
        // The first frames of the new scene count too.
        QTest::qWait(1000);
        m_timer.stop();
        m_stalls.tick(soak::StallTracker::Clock::now());
        r.stallMs = m_stalls.longest().count() / 1000.0;
        r.stallAt = m_stalls.longestAt().count() / 1000.0;
        r.peakKb = statusKb("VmHWM:");
        r.afterKb = settledKb();
        return r;
    }

private:
    MainWindow& m_window;
    QTimer m_timer;
    soak::StallTracker m_stalls{std::chrono::milliseconds(100)};
};

double bestOf(const std::vector<double>& values) {
    double best = -1.0;
    for (double v : values) {
        if (v >= 0.0 && (best < 0.0 || v < best)) {
            best = v;
        }
    }
    return best;
}

std::string seconds(double s) {
    if (s < 0.0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", s);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.help || !options.error.empty()) {
        if (!options.error.empty()) {
            std::fprintf(stderr, "load_bench: %s\n", options.error.c_str());
        }
        usage(argv[0], options.help ? stdout : stderr);
        return options.help ? 0 : 2;
    }

    // Settings and runtime files of this run stay in a folder of its own.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        fail("no temporary folder");
    }
    const QByteArray scratchPath = QFile::encodeName(scratch.path());
    setenv("XDG_CONFIG_HOME", scratchPath.constData(), 1);
    setenv("XDG_RUNTIME_DIR", scratchPath.constData(), 1);
    const QString folder =
        options.directory.empty() ? scratch.path() : QFile::decodeName(options.directory.c_str());
    if (!QDir(folder).exists()) {
        fail("no folder " + options.directory);
    }

    // No device answers at this address: the window's probes time out on their own threads.
    std::string program = argv[0];
    std::string address = "127.91.0.11";
    char* windowArguments[] = {&program[0], &address[0], nullptr};
    int windowArgumentCount = 2;
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    soak::TimedApplication application(windowArgumentCount, windowArguments);
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setOrganizationName("Tavrel Dynamics");
    QCoreApplication::setOrganizationDomain("tavrel-dynamics.example");
    QCoreApplication::setApplicationName("LX30Tools");
    {
        QSettings settings;
        settings.clear();
        settings.setValue("network/port", 45421);
        settings.sync();
    }
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get(), 10000)) {
        fail("the window was not shown (no display?)");
    }
    waitFor([&] { return !window->waitingForDevice(); }, std::chrono::seconds(30));

    struct Input {
        const char* label;
        formats::Format format;
        const char* name;
    };
    const Input inputs[] = {{"PLY binary", formats::Format::PlyBinary, "load-bench.ply"},
                            {"PCD binary", formats::Format::PcdBinary, "load-bench.pcd"}};
    const std::size_t n = options.points;
    std::printf("load_bench: %zu points (x, y, z, amplitude), %d runs, load average at start %s\n",
                n, options.runs, loadAverage().c_str());
    std::fflush(stdout);

    struct Row {
        std::string label;
        double megabytes = 0.0;
        std::vector<double> buffered, overBuffered, shown, stall, printed, wall, pcl;
        // MB: the peak above the resident before a load into an empty scene, and above the
        // resident a load over a full one leaves; B/point: what a load into an empty scene leaves.
        std::vector<double> emptyPeak, fullPeak, perPoint;
    };
    std::vector<Row> rows;
    WindowLoad load(*window);
    {
        // The window's first points compile its shaders: once per process, not per load.
        const QString warmUp = QDir(folder).filePath("load-bench-warm-up.ply");
        writeInput(QFile::encodeName(warmUp).toStdString(), formats::Format::PlyBinary, 1000);
        load.run(warmUp, 1000, false);
        QFile::remove(warmUp);
    }
    for (const Input& input : inputs) {
        const QString file = QDir(folder).filePath(input.name);
        const std::string path = QFile::encodeName(file).toStdString();
        writeInput(path, input.format, n);
        Row row;
        row.label = input.label;
        row.megabytes = QFileInfo(file).size() / 1e6;
        for (int k = 0; k < options.runs; ++k) {
            viewer::returnFreeMemory();
            const WindowRun w = load.run(file, n, false);
            row.buffered.push_back(w.buffered);
            row.shown.push_back(w.shown);
            row.stall.push_back(w.stallMs);
            const WindowRun o = load.run(file, n, true);
            row.overBuffered.push_back(o.buffered);
            row.stall.push_back(o.stallMs);
            PeerRun cc;
            if (options.peer && input.format == formats::Format::PlyBinary) {
                cc = runCloudCompare(path, n);
            }
            row.printed.push_back(cc.printed);
            row.wall.push_back(cc.wall);
            row.pcl.push_back(runPcl(path, input.format, n));
            row.emptyPeak.push_back(megabytesOf(w.peakKb - w.beforeKb));
            row.fullPeak.push_back(megabytesOf(o.peakKb - o.afterKb));
            row.perPoint.push_back(
                soak::bytesPerPoint(w.afterKb, w.beforeKb, static_cast<long long>(n)));
            std::printf("  %s run %d: resident %.0f MB empty, %.0f MB loaded (%.1f B/point), "
                        "peak %.0f MB above it into an empty scene, %.0f MB above it over a full "
                        "one\n",
                        input.label, k + 1, megabytesOf(w.beforeKb), megabytesOf(w.afterKb),
                        row.perPoint.back(), row.emptyPeak.back(), row.fullPeak.back());
            std::printf("  %s run %d: window buffer %.2f s, shown %.2f s, stall %.0f ms "
                        "(ending at %.2f s); over a full scene: buffer %.2f s, stall %.0f ms "
                        "(ending at %.2f s); CloudCompare %s s (wall %s s); PCL %s s\n",
                        input.label, k + 1, w.buffered, w.shown, w.stallMs, w.stallAt, o.buffered,
                        o.stallMs, o.stallAt, seconds(cc.printed).c_str(), seconds(cc.wall).c_str(),
                        seconds(row.pcl.back()).c_str());
            std::fflush(stdout);
        }
        rows.push_back(row);
        QFile::remove(file);
    }

    std::printf("\nbest of %d runs, %zu points; load average at end %s\n", options.runs, n,
                loadAverage().c_str());
    std::printf("%-11s %8s %14s %12s %12s %13s %14s %13s %9s %12s\n", "file", "MB", "window buffer",
                "window shown", "(over full)", "longest stall", "CloudCompare", "(its wall)", "PCL",
                "ours / CC");
    for (const Row& r : rows) {
        const double ours = bestOf(r.buffered);
        const double cc = bestOf(r.printed);
        char ratio[32] = "-";
        if (ours >= 0.0 && cc > 0.0) {
            std::snprintf(ratio, sizeof ratio, "%.2fx", ours / cc);
        }
        std::printf("%-11s %8.1f %14s %12s %12s %10.0f ms %14s %13s %9s %12s\n", r.label.c_str(),
                    r.megabytes, seconds(ours).c_str(), seconds(bestOf(r.shown)).c_str(),
                    seconds(bestOf(r.overBuffered)).c_str(),
                    *std::max_element(r.stall.begin(), r.stall.end()), seconds(cc).c_str(),
                    seconds(bestOf(r.wall)).c_str(), seconds(bestOf(r.pcl)).c_str(), ratio);
    }
    std::printf("window buffer: from the dialog's acceptance until the buffer holds every point "
                "(the status bar's report), into an empty scene; shown: until Total points shows "
                "them all; over full: the buffer's time when the scene held the same file's "
                "points; longest stall: the worst of every load. CloudCompare: the load time it "
                "prints (it reads no PCD "
                "files: -); PCL: loadPLYFile / loadPCDFile into a PCLPointCloud2.\n");
    std::printf("\n%-11s %8s %22s %22s %16s\n", "file", "MB", "peak into empty (MB)",
                "peak over full (MB)", "resident B/pt");
    for (const Row& r : rows) {
        std::printf("%-11s %8.1f %22.0f %22.0f %16.1f\n", r.label.c_str(), r.megabytes,
                    bestOf(r.emptyPeak), bestOf(r.fullPeak), bestOf(r.perPoint));
    }
    std::printf("peak into empty: the highest resident memory during a load into an empty scene "
                "above the resident before it; over full: during a load over a scene of the same "
                "points, above the resident it settles at; resident B/pt: what a load into an "
                "empty scene leaves, per point (once freed memory is returned).\n");
    application.printSlowEvents();
    std::fflush(stdout);
    window.reset();
    return 0;
}
