// File > "Record…": the window against the simulator process records its traffic, and the
// recording played back by the simulator's replay gives a listener the points the window saw, and
// loaded into the window gives it those points again.
#include "SimulatorFixture.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/LaserCapture.h"

#include <QAbstractButton>
#include <QAction>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>

#include <cmath>
#include <mutex>

namespace viewer_test {
namespace {

using sentova::pcap::Datagram;

struct Point {
    std::uint64_t timestamp;
    float azimuth, elevation, range, amplitude;
    bool operator==(const Point& o) const {
        return timestamp == o.timestamp && azimuth == o.azimuth && elevation == o.elevation &&
               range == o.range && amplitude == o.amplitude;
    }
};

// Every point of the recording's laser datagrams, as a listener would see it.
std::vector<Point> recordedPoints(const QString& path, sentova::pcap::LaserReadResult* result) {
    std::vector<Point> points;
    *result = sentova::pcap::readLaserDatagrams(
        QFile::encodeName(path).toStdString(), [&](const Datagram& d) {
            const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(
                reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
            for (std::size_t i = 0; i < layout.records; ++i) {
                const tavrel::LaserRecord r = tavrel::decodeData(
                    d.bytes.data() + layout.headerSize + i * tavrel::kLaserRecordSize);
                points.push_back({r.timestamp, static_cast<float>(r.azimuth),
                                  static_cast<float>(r.elevation), static_cast<float>(r.range),
                                  static_cast<float>(r.amplitude)});
            }
        });
    return points;
}

class Collector : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& o : observations)
            m_points.push_back({o.timestamp, static_cast<float>(o.azimuth),
                                static_cast<float>(o.elevation), static_cast<float>(o.range),
                                static_cast<float>(o.amplitude)});
    }
    std::vector<Point> points() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_points;
    }

private:
    std::mutex m_mutex; // guards m_points
    std::vector<Point> m_points;
};

// Sends one datagram to a port of the device's address.
void sendTo(unsigned short port, const std::string& bytes) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, deviceAddress().c_str(), &to.sin_addr);
    ::sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(s);
}

class RecordingTest : public SimulatorTest {
protected:
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    QLabel* recordingLabel() { return child<QLabel>(window.get(), "recording_label"); }

    // File > "Record…", answering the dialog with path; a question about replacing an
    // existing file is answered Yes.
    void startRecording(const QString& path) {
        onNextModal([path](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(path);
            onNextModal([](QWidget* question) {
                if (auto* box = qobject_cast<QMessageBox*>(question))
                    box->button(QMessageBox::Yes)->click();
            });
            QMetaObject::invokeMethod(dialog, "accept");
        });
        ASSERT_NE(action("actionRecord"), nullptr);
        action("actionRecord")->trigger();
    }

    // Runs a file slot with its dialog answered by path (and filter), then waits for the file
    // thread to report.
    void runFileSlot(const char* slot, const QString& path, const QString& filter = QString()) {
        answerFileDialog(path, filter);
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), slot));
        EXPECT_TRUE(
            waitUntil([&] { return action("actionLoad")->isEnabled(); }, std::chrono::seconds(60)));
    }

    // The next modal widget, a file dialog, is given path and filter.
    void answerFileDialog(const QString& path, const QString& filter = QString()) {
        onNextModal([path, filter](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            if (!filter.isEmpty())
                dialog->selectNameFilter(filter);
            dialog->selectFile(path);
            if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit"))
                edit->setText(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
    }

    // "Stop recording", then waits for the window to report the finished file.
    QString stopRecording() {
        action("actionStop_recording")->trigger();
        QString report;
        waitUntil(
            [&] {
                for (const QString& line : logLines(window.get()))
                    if (line.startsWith("Recorded ") || line.contains("ended with an error"))
                        report = line;
                return !report.isEmpty();
            },
            std::chrono::seconds(5));
        return report;
    }
};

TEST_F(RecordingTest, BothChannelsAndTheLaserStreamGoToOneFile) {
    startSimulator("LX30");
    const QString path = scratch.filePath("session.pcap");
    ASSERT_TRUE(action("actionRecord")->isEnabled());
    EXPECT_FALSE(action("actionStop_recording")->isEnabled());
    startRecording(path);
    ASSERT_TRUE(action("actionStop_recording")->isEnabled());
    EXPECT_FALSE(action("actionRecord")->isEnabled());
    EXPECT_TRUE(recordingLabel()->isVisible());

    // A frame capture: the event manager programs the device, the controller homes and
    // scans, the device streams one frame and notifies the event channel.
    click("homePushButton");
    child<QDoubleSpinBox>(window.get(), "AzSpeedDoubleSpinBox")->setValue(10);
    child<QDoubleSpinBox>(window.get(), "nLinesDoubleSpinBox")->setValue(3);
    click("getFramePushButton");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() > 6000; }, std::chrono::seconds(5)));
    // The frame over (its notification sent) and all of it shown.
    EXPECT_TRUE(waitUntil([&] { return atRest(deviceAddress()); }, std::chrono::seconds(5)));
    showAllSent();
    // Size and time while recording, once a second of it has passed.
    const QRegularExpression sizeAndTime("^Recording [0-9.]+ [kM]B 0:00:0[1-9]");
    EXPECT_TRUE(waitUntil([&] { return recordingLabel()->text().contains(sizeAndTime); }))
        << recordingLabel()->text().toStdString();
    const int shown = totalPoints();
    const QString report = stopRecording();
    EXPECT_TRUE(report.startsWith("Recorded " + path + ": ")) << report.toStdString();
    EXPECT_FALSE(recordingLabel()->isVisible());
    EXPECT_TRUE(action("actionRecord")->isEnabled());

    std::string problems;
    const std::vector<Datagram> all =
        sentova::pcap::readDatagrams(QFile::encodeName(path).toStdString(), &problems);
    EXPECT_EQ(problems, "");
    std::uint32_t device = 0;
    ASSERT_EQ(::inet_pton(AF_INET, deviceAddress().c_str(), &device), 1);
    device = ntohl(device);
    std::set<std::uint16_t> controllerPorts, managerPorts;
    int notifications = 0, replies = 0;
    for (const Datagram& d : all) {
        const std::string code = d.bytes.substr(0, 6);
        if (d.destinationPort == 4365 && d.destinationAddress == device) {
            if (code == "SVHOME" || code == "SVSFFS")
                controllerPorts.insert(d.sourcePort);
            if (code == "SVECCF" || code == "SVEENB")
                managerPorts.insert(d.sourcePort);
        }
        if (d.sourceAddress == device && d.sourcePort == 4365) {
            notifications += code.compare(0, 3, "EBA") == 0;
            replies += code == "EAHOME" || code == "EAECCF";
        }
    }
    EXPECT_EQ(controllerPorts.size(), 1u);
    EXPECT_EQ(managerPorts.size(), 1u);
    EXPECT_NE(controllerPorts, managerPorts);
    EXPECT_GE(notifications, 1);
    EXPECT_GE(replies, 2);

    sentova::pcap::LaserReadResult laser;
    const std::vector<Point> points = recordedPoints(path, &laser);
    EXPECT_EQ(laser.deviceAddress, device);
    // The listener holds a last datagram of a single point back until more arrive.
    EXPECT_GE(int(points.size()), shown) << "every point the window showed was recorded";
    EXPECT_LE(int(points.size()), shown + 1);
}

TEST_F(RecordingTest, ReplayedRecordingGivesAListenerThePointsTheWindowSaw) {
    startSimulator("LX30");
    const QString path = scratch.filePath("stream.pcap");
    startRecording(path);
    click("startLaserPushButton");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() > 10000; }, std::chrono::seconds(5)));
    click("stopLaserPushButton");
    showAllSent();
    const int shown = totalPoints();
    ASSERT_TRUE(stopRecording().startsWith("Recorded "));
    sentova::pcap::LaserReadResult laser;
    const std::vector<Point> recorded = recordedPoints(path, &laser);
    ASSERT_GE(int(recorded.size()), shown);
    ASSERT_LE(int(recorded.size()), shown + 1);

    // The recording played by a second simulator, as the device, to a listener.
    const unsigned short replayPort = static_cast<unsigned short>(processDataPort() + 600);
    const unsigned short dataPort = static_cast<unsigned short>(processDataPort() + 1200);
    QProcess replay;
    replay.start(QStringLiteral(SENTOVA_SIM_PROGRAM),
                 {"--address", QString::fromStdString(deviceAddress()), "--port",
                  QString::number(replayPort), "--replay", path, "--speed", "2",
                  "--exit-with-parent"});
    ASSERT_TRUE(replay.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return replay.readAllStandardError().contains("listening on"); },
                          std::chrono::seconds(5)));
    Collector collector;
    tavrel::SentovaGrabber listener;
    ASSERT_TRUE(listener.StartListening(deviceAddress(), dataPort, &collector));
    sendTo(replayPort, tavrel::CommandSerialiser::SVRRBE({{1, 0}, {2, 0}, {0, dataPort}}));
    EXPECT_TRUE(waitUntil([&] { return collector.points().size() >= std::size_t(shown); },
                          std::chrono::seconds(15)));
    // Stopped (the answer says so), then all the replay sent taken in: nothing beyond what the
    // window saw may come after.
    EXPECT_FALSE(ask(deviceAddress(), tavrel::CommandSerialiser::SVSRBE(), replayPort).empty());
    const long long sent = pointsSent(replay);
    EXPECT_TRUE(waitUntil([&] { return collector.points().size() + 1 >= std::size_t(sent); }))
        << collector.points().size() << " of " << sent;
    listener.StopListening();
    replay.terminate();
    replay.waitForFinished(5000);

    // The same points in the same order as the window saw them live.
    std::vector<Point> replayed = collector.points();
    EXPECT_EQ(replayed.size(), std::size_t(shown));
    replayed.resize(std::min(replayed.size(), recorded.size()));
    EXPECT_TRUE(std::equal(replayed.begin(), replayed.end(), recorded.begin()));
}

TEST_F(RecordingTest, LoadedRecordingGivesTheWindowThePointsItSawLive) {
    startSimulator("LX30");
    for (const char* key : {"save/az", "save/el", "save/range"})
        QSettings().setValue(key, 1);
    const QString path = scratch.filePath("live.pcap");
    startRecording(path);
    click("homePushButton");
    click("startLaserPushButton");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() > 20000; }, std::chrono::seconds(5)));
    click("stopLaserPushButton");
    showAllSent();
    ASSERT_TRUE(stopRecording().startsWith("Recorded "));
    const int shown = totalPoints();

    // What the window holds from the live stream, every column, then the same from the file.
    const QString liveCsv = scratch.filePath("live.csv");
    runFileSlot("saveFileAs", liveCsv, "CSV (*.csv)");
    ASSERT_TRUE(QFile::exists(liveCsv));
    runFileSlot("askForPCDFileToLoad", path);
    // The recording opens on the timeline; the whole of it is what the window saw.
    QString loaded;
    EXPECT_TRUE(waitUntil(
        [&] {
            loaded = window->statusBar()->currentMessage();
            return loaded.startsWith("File " + path + " loaded: ");
        },
        std::chrono::seconds(15)))
        << loaded.toStdString();
    EXPECT_TRUE(loaded.contains(" points of the laser stream from " +
                                QString::fromStdString(deviceAddress()) + " in "))
        << loaded.toStdString();
    const QString loadedCsv = scratch.filePath("loaded.csv");
    onNextModal([this, loadedCsv](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        auto* whole = box->findChild<QAbstractButton*>("saveWholePushButton");
        ASSERT_NE(whole, nullptr);
        answerFileDialog(loadedCsv, "CSV (*.csv)");
        whole->click();
    });
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "saveFileAs"));
    EXPECT_TRUE(
        waitUntil([&] { return action("actionLoad")->isEnabled(); }, std::chrono::seconds(60)));

    QFile liveFile(liveCsv), loadedFile(loadedCsv);
    ASSERT_TRUE(liveFile.open(QIODevice::ReadOnly));
    ASSERT_TRUE(loadedFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> live = liveFile.readAll().split('\n');
    const QList<QByteArray> again = loadedFile.readAll().split('\n');
    // Header, one row per point, and the empty piece after the last line feed.
    ASSERT_EQ(live.size(), shown + 2);
    EXPECT_EQ(live[0], again[0]);
    // A buffer that filled up live dropped its oldest points; the file keeps them all. And the
    // listener holds a last datagram of a single point back, which the file still has.
    const int offset = again.indexOf(live[1]) - 1;
    ASSERT_GE(offset, 0) << live[1].toStdString();
    ASSERT_GE(again.size() - offset, live.size());
    ASSERT_LE(again.size() - offset, live.size() + 1);
    int differing = 0;
    for (int i = 1; i <= shown; ++i)
        differing += live[i] != again[i + offset];
    EXPECT_EQ(differing, 0);
}

TEST_F(RecordingTest, FullDiskIsReportedAndRecordingEnds) {
    startSimulator("LX30");
    startRecording("/dev/full");
    // Found by the writer's first flush; the window ends the recording by itself.
    const QString failed = "Recording failed: /dev/full: cannot write: No space left on device";
    EXPECT_TRUE(waitUntil([&] { return logLines(window.get()).contains(failed); }))
        << logLines(window.get()).join(" | ").toStdString();
    EXPECT_TRUE(waitUntil([&] {
        return logLines(window.get())
            .last()
            .startsWith("Recording to /dev/full ended with an error: ");
    })) << logLines(window.get()).last().toStdString();
    EXPECT_TRUE(action("actionRecord")->isEnabled());
    EXPECT_FALSE(action("actionStop_recording")->isEnabled());
}

} // namespace
} // namespace viewer_test
