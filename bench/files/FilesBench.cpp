// files_bench: the window's own Load and Save as of an ASCII PCD file, in this process, timed
// beside PCL's loadPCDFile and PCL's ASCII PCD writer on the same file in the same run, with the
// longest stall of the GUI thread during each and the window's resident memory after the load.
//
// The window is driven as the operator drives it: its Load and Save as actions, their file
// dialogs answered from the dialogs' own event loop. A load counts as done when the window's
// "Total points" shows every point of the file, a save when the status bar reports the file saved.
// A stall is the longest interval between ticks of a 5 ms timer on the GUI thread.
#include "SoakSupport.h"
#include "StreamPoints.h"
#include "TimedApplication.h"

#include "Formats.h"
#include "MainWindow.h"
#include "MemoryRelease.h"
#include "WindowControls.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>

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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::answerFileDialog;
using bench::widget;

// How often the event loop looks for the end of a load or a save.
constexpr std::chrono::milliseconds kPoll{2};

bool waitFor(const std::function<bool()>& done, std::chrono::seconds timeout) {
    return bench::waitFor(done, timeout, kPoll);
}

using Clock = std::chrono::steady_clock;

struct Options {
    std::vector<std::size_t> sizes;
    std::string directory; // empty: a temporary folder
    bool help = false;
    std::string error;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            return options;
        }
        if (argument == "--dir") {
            if (i + 1 >= argc) {
                options.error = "missing folder after --dir";
                return options;
            }
            options.directory = argv[++i];
            continue;
        }
        char* end = nullptr;
        const unsigned long long n = std::strtoull(argument.c_str(), &end, 10);
        if (argument.empty() || *end != '\0' || argument[0] == '-' || n == 0 || n > 100000000) {
            options.error = "not a point count (1 to 100000000) or option: " + argument;
            return options;
        }
        options.sizes.push_back(static_cast<std::size_t>(n));
    }
    if (options.sizes.empty()) {
        options.sizes = {1000000, 10000000};
    }
    return options;
}

void usage(const char* program, std::FILE* to) {
    std::fprintf(
        to,
        "usage: %s [--dir FOLDER] [points ...]\n"
        "For each point count (default 1000000 10000000) writes an ASCII PCD file as the\n"
        "window saves it by default (the LX30 columns), then times the viewer's window, in\n"
        "this process, loading it through Load and saving it again through Save as, and\n"
        "PCL's loadPCDFile and ASCII PCD writer on the same file. Prints the times, the\n"
        "longest GUI-thread stall during the window's load and save, and the window's\n"
        "resident memory after the load. Files go to FOLDER (default a temporary folder).\n"
        "Needs a display, e.g. xvfb-run -a -s \"-screen 0 1280x1024x24\" %s\n",
        program, program);
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "files_bench: %s\n", why.c_str());
    std::exit(1);
}

double secondsSince(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double>(end - start).count();
}

double secondsOf(const std::function<void()>& work) {
    const Clock::time_point start = Clock::now();
    work();
    return secondsSince(start, Clock::now());
}

bool sameBytes(const std::string& a, const std::string& b) {
    std::ifstream first(a, std::ios::binary);
    std::ifstream second(b, std::ios::binary);
    std::vector<char> x(1 << 20);
    std::vector<char> y(1 << 20);
    while (first && second) {
        first.read(x.data(), static_cast<std::streamsize>(x.size()));
        second.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (first.gcount() != second.gcount() ||
            std::memcmp(x.data(), y.data(), static_cast<std::size_t>(first.gcount())) != 0) {
            return false;
        }
    }
    return first.eof() && second.eof();
}

// The file the window loads: n points as they come back from an ASCII PCD file, written again.
// Its float columns then hold exactly what the window's buffer will, so that the window's save
// of it must give the same bytes.
void writeSource(const std::string& path, std::size_t n) {
    formats::Outcome written =
        formats::write(path, formats::Format::PcdAscii, bench::streamPoints(n));
    if (written.ok) {
        const formats::ReadResult read = formats::read(path);
        written = static_cast<const formats::Outcome&>(read);
        if (read.ok) {
            written = formats::write(path, formats::Format::PcdAscii, read.points);
        }
    }
    if (!written.ok) {
        fail("cannot write " + path + ": " + written.error);
    }
}

struct Row {
    std::size_t points = 0;
    double fileMb = 0.0;
    double windowRead = 0.0; // the file thread's report in the status bar
    double windowLoad = 0.0; // every point shown in "Total points"
    double pclLoad = 0.0;
    double windowSave = 0.0;
    double pclSave = 0.0;
    double loadStallMs = 0.0;
    double saveStallMs = 0.0;
    long residentKb = 0;
    bool identical = false;
    bool pclCount = false;
};

// The GUI thread's longest stall while work runs, from a 5 ms timer's ticks.
class StallProbe {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_stalls.tick(soak::StallTracker::Clock::now()); });
    }
    void start() {
        m_stalls = soak::StallTracker(std::chrono::milliseconds(100));
        m_stalls.tick(soak::StallTracker::Clock::now());
        m_timer.start(5);
    }
    double stopMs() {
        m_timer.stop();
        m_stalls.tick(soak::StallTracker::Clock::now());
        return m_stalls.longest().count() / 1000.0;
    }

private:
    QTimer m_timer;
    soak::StallTracker m_stalls{std::chrono::milliseconds(100)};
};

class Bench {
public:
    Bench(MainWindow& window, const QString& folder) : m_window(window), m_folder(folder) {}

    Row run(std::size_t n) {
        Row row;
        row.points = n;
        const QString source = m_folder.filePath(QString("window-%1.pcd").arg(n));
        const std::string sourcePath = QFile::encodeName(source).toStdString();
        writeSource(sourcePath, n);
        viewer::returnFreeMemory();
        row.fileMb = QFileInfo(source).size() / 1e6;

        // Let the window settle before each measurement: nothing of the last one still runs.
        QTest::qWait(500);
        load(source, n, row);
        QTest::qWait(500);
        const QString saved = m_folder.filePath(QString("saved-%1.pcd").arg(n));
        save(saved, row);
        row.identical = sameBytes(sourcePath, QFile::encodeName(saved).toStdString());
        QFile::remove(saved);

        pcl::PCLPointCloud2 cloud;
        int status = -1;
        row.pclLoad = secondsOf([&] { status = pcl::io::loadPCDFile(sourcePath, cloud); });
        row.pclCount = status == 0 && std::size_t{cloud.width} * cloud.height == n;
        const std::string pclSaved = QFile::encodeName(saved).toStdString();
        pcl::PCDWriter writer;
        row.pclSave = secondsOf([&] { status = writer.writeASCII(pclSaved, cloud); });
        if (status != 0) {
            row.pclSave = -1.0;
        }
        QFile::remove(saved);
        QFile::remove(source);
        return row;
    }

private:
    // The dialog is the operator's time: the stalls and the clock count from its acceptance.
    void startAt(Clock::time_point& accepted) {
        m_probe.start();
        accepted = Clock::now();
    }

    void load(const QString& file, std::size_t n, Row& row) {
        Clock::time_point accepted;
        answerFileDialog(file, [&] { startAt(accepted); });
        widget<QAction>(&m_window, "actionLoad")->trigger();
        const QString loaded = "File " + file + " loaded.";
        auto* status = m_window.statusBar();
        auto* total = widget<QLabel>(&m_window, "totalPoints_label");
        const QString count = QString::number(n);
        bool read = false;
        const bool shown = waitFor(
            [&] {
                if (!read && status->currentMessage() == loaded) {
                    read = true;
                    row.windowRead = secondsSince(accepted, Clock::now());
                }
                return read && total->text() == count;
            },
            std::chrono::seconds(600));
        if (!shown) {
            fail("the window did not show the " + count.toStdString() + " points of " +
                 file.toStdString() + "; status: " + status->currentMessage().toStdString());
        }
        row.windowLoad = secondsSince(accepted, Clock::now());
        // The first frames of the new scene count too.
        QTest::qWait(1000);
        row.loadStallMs = m_probe.stopMs();
        row.residentKb = soak::residentKbOf(0);
    }

    void save(const QString& file, Row& row) {
        Clock::time_point accepted;
        answerFileDialog(file, [&] { startAt(accepted); });
        widget<QAction>(&m_window, "actionSave_as")->trigger();
        const QString saved = "File " + file + " saved.";
        auto* status = m_window.statusBar();
        if (!waitFor([&] { return status->currentMessage() == saved; },
                     std::chrono::seconds(600))) {
            fail("the window did not save " + file.toStdString() +
                 "; status: " + status->currentMessage().toStdString());
        }
        row.windowSave = secondsSince(accepted, Clock::now());
        row.saveStallMs = m_probe.stopMs();
    }

    MainWindow& m_window;
    QDir m_folder;
    StallProbe m_probe;
};

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.help || !options.error.empty()) {
        if (!options.error.empty()) {
            std::fprintf(stderr, "files_bench: %s\n", options.error.c_str());
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
    std::string address = "127.91.0.9";
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
        settings.setValue("network/port", 45420);
        settings.sync();
    }

    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get(), 10000)) {
        fail("the window was not shown (no display?)");
    }
    // The LX30 panel, as its serial number would pick it: its columns are the default save's.
    widget<QAction>(window.get(), "actionLX30")->trigger();
    waitFor([&] { return !window->waitingForDevice(); }, std::chrono::seconds(30));
    const long emptyKb = soak::residentKbOf(0);

    Bench bench(*window, folder);
    std::vector<Row> rows;
    for (std::size_t n : options.sizes) {
        rows.push_back(bench.run(n));
        const Row& r = rows.back();
        std::printf("%zu points: window load %.2f s (read %.2f s), PCL load %.2f s, window save "
                    "%.2f s, PCL save %.2f s\n",
                    r.points, r.windowLoad, r.windowRead, r.pclLoad, r.windowSave, r.pclSave);
        std::fflush(stdout);
    }

    std::printf("\nASCII PCD, columns x y z intensity reflectance pulseShapeDeviation timestamp; "
                "window RSS with an empty buffer %.1f MB\n",
                emptyKb / 1024.0);
    std::printf("%10s %8s %11s %11s %9s %11s %9s %14s %14s %9s\n", "points", "file MB",
                "window load", "(file read)", "PCL load", "window save", "PCL save",
                "stall load ms", "stall save ms", "RSS MB");
    for (const Row& r : rows) {
        std::printf("%10zu %8.1f %11.2f %11.2f %9.2f %11.2f %9.2f %14.1f %14.1f %9.1f%s%s\n",
                    r.points, r.fileMb, r.windowLoad, r.windowRead, r.pclLoad, r.windowSave,
                    r.pclSave, r.loadStallMs, r.saveStallMs, r.residentKb / 1024.0,
                    r.identical ? "" : "  (saved file differs from the loaded one)",
                    r.pclCount ? "" : "  (PCL read another point count)");
    }
    std::printf("times in seconds: window load from the dialog's acceptance until Total points "
                "shows every point (file read: until the status bar reports it loaded); window "
                "save until the status bar reports it saved; RSS after the load\n");
    application.printSlowEvents();
    std::fflush(stdout);
    window.reset();
    return 0;
}
