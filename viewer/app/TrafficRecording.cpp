// Recording the device traffic: File > "Record…" writes every datagram of the command
// channel, the event manager and the laser listener to a capture file until "Stop
// recording", with the file's size and the time recorded shown in the status bar. The
// library's threads only queue the datagrams; the recorder's own thread writes them, and
// the final flush runs off the GUI thread too.
#include "TrafficRecording.h"

#include "DeviceSession.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"
#include "SentovaPcap/Recorder.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>

#include <thread>

namespace window {

// One recording, from "Record…" until its file is closed.
class Recording {
public:
    Recording(std::shared_ptr<sentova::pcap::Recorder> recorder, QString path)
        : recorder(std::move(recorder)), path(std::move(path)) {
        clock.start();
    }
    // The window is going away: the file is finished before it does.
    ~Recording() {
        if (finisher.joinable())
            finisher.join();
        recorder->stop();
    }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    const std::shared_ptr<sentova::pcap::Recorder> recorder;
    const QString path;
    QElapsedTimer clock;
    std::thread finisher; // runs the recorder's stop once asked to
    bool finishing = false;
};

} // namespace window

namespace {

constexpr int kTrafficStatusPeriodMs = 500;

QString sizeText(std::uint64_t bytes) {
    const char* units[] = {"B", "kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000.0 && unit < 4) {
        value /= 1000.0;
        ++unit;
    }
    return unit == 0 ? QString("%1 B").arg(bytes)
                     : QString("%1 %2").arg(value, 0, 'f', 1).arg(units[unit]);
}

QString durationText(qint64 milliseconds) {
    const qint64 seconds = milliseconds / 1000;
    return QString("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

QString summaryText(const sentova::pcap::RecorderStatus& status) {
    QString text = QString("%1 datagrams, %2, %3 of traffic")
                       .arg(status.datagrams)
                       .arg(sizeText(status.bytes))
                       .arg(durationText(static_cast<qint64>(status.durationMicros / 1000)));
    if (status.notRecorded > 0)
        text += QString(", %1 datagrams not recorded").arg(status.notRecorded);
    return text;
}

} // namespace

namespace window {

TrafficRecording::TrafficRecording(QMainWindow* window, QMenu* fileMenu, QAction* saveAsAction,
                                   sentova::session::DeviceSession& session, Log log)
    : window(window), session(session), log(std::move(log)) {
    recordAction = new QAction(QString::fromUtf8("Record\u2026"), window);
    recordAction->setObjectName("actionRecord");
    stopRecordingAction = new QAction("Stop recording", window);
    stopRecordingAction->setObjectName("actionStop_recording");
    stopRecordingAction->setEnabled(false);
    // After "Save as...", before the rule above "Quit".
    const QList<QAction*> entries = fileMenu->actions();
    const int saveAs = entries.indexOf(saveAsAction);
    QAction* before = saveAs >= 0 && saveAs + 1 < entries.size() ? entries[saveAs + 1] : nullptr;
    fileMenu->insertAction(before, recordAction);
    fileMenu->insertAction(before, stopRecordingAction);
    connect(recordAction, &QAction::triggered, this, &TrafficRecording::start);
    connect(stopRecordingAction, &QAction::triggered, this, &TrafficRecording::stop);

    recordingLabel = new QLabel(window);
    recordingLabel->setObjectName("recording_label");
    recordingLabel->hide();
    window->statusBar()->addPermanentWidget(recordingLabel);
}

void TrafficRecording::start() {
    if (recording)
        return;
    QString selected = "*.pcap";
    QString name = QFileDialog::getSaveFileName(
        window, "Record traffic to",
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
        "Packet captures (*.pcap)", &selected);
    if (name.isEmpty())
        return;
    // A new name gets the usual suffix; an existing file chosen (and confirmed) is taken as is.
    if (QFileInfo(name).suffix().isEmpty() && !QFileInfo::exists(name))
        name += ".pcap";
    std::shared_ptr<sentova::pcap::Recorder> recorder;
    try {
        recorder = std::make_shared<sentova::pcap::Recorder>(QFile::encodeName(name).toStdString());
    } catch (const sentova::pcap::CaptureError& e) {
        log(QString("Cannot record: ") + QString::fromLocal8Bit(e.what()));
        return;
    }
    recording = std::make_shared<window::Recording>(recorder, name);
    // The command channels' traffic goes through the tees the status watches as well.
    for (auto channel : {sentova::session::Channel::Control, sentova::session::Channel::Events})
        session.traffic(channel).add(recorder);
    session.setLaserTrafficObserver(recorder);
    recordAction->setEnabled(false);
    stopRecordingAction->setEnabled(true);
    recordingLabel->show();
    log("Recording to " + name);
    updateStatus();
}

void TrafficRecording::updateStatus() {
    if (!recording || recording->finishing)
        return;
    const sentova::pcap::RecorderStatus status = recording->recorder->status();
    if (status.failed) {
        log("Recording failed: " + QString::fromLocal8Bit(status.error.c_str()));
        stop();
        return;
    }
    QString text =
        "Recording " + sizeText(status.bytes) + " " + durationText(recording->clock.elapsed());
    if (status.notRecorded > 0)
        text += QString(", %1 datagrams not recorded").arg(status.notRecorded);
    recordingLabel->setText(text);
    QTimer::singleShot(kTrafficStatusPeriodMs, this, &TrafficRecording::updateStatus);
}

void TrafficRecording::stop() {
    if (!recording || recording->finishing)
        return;
    for (auto channel : {sentova::session::Channel::Control, sentova::session::Channel::Events})
        session.traffic(channel).remove(recording->recorder);
    session.setLaserTrafficObserver(nullptr);
    recording->finishing = true;
    stopRecordingAction->setEnabled(false);
    recordingLabel->setText("Finishing the recording\u2026");
    // The last write and the sync to the disk happen off the GUI thread; the result comes
    // back through the event loop.
    std::shared_ptr<sentova::pcap::Recorder> recorder = recording->recorder;
    recording->finisher = std::thread([this, recorder] {
        const sentova::pcap::RecorderStatus status = recorder->stop();
        QMetaObject::invokeMethod(
            this,
            [this, status] {
                const QString path = recording ? recording->path : QString();
                recording.reset();
                recordingLabel->hide();
                recordAction->setEnabled(true);
                if (status.failed)
                    log("Recording to " + path +
                        " ended with an error: " + QString::fromLocal8Bit(status.error.c_str()) +
                        " (" + summaryText(status) + " written)");
                else
                    log("Recorded " + path + ": " + summaryText(status));
            },
            Qt::QueuedConnection);
    });
}

TrafficRecording::~TrafficRecording() = default;

} // namespace window
