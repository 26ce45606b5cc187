// File > "Record…" and "Stop recording": the device traffic written to a capture file, with
// its size and time in the status bar.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;

namespace sentova::session {
class DeviceSession;
}

namespace window {

class Recording;

class TrafficRecording : public QObject {
    Q_OBJECT

public:
    using Log = std::function<void(const QString&)>;

    // Adds the two entries to fileMenu after saveAsAction and the status label to window's
    // status bar. session must outlive this.
    TrafficRecording(QMainWindow* window, QMenu* fileMenu, QAction* saveAsAction,
                     sentova::session::DeviceSession& session, Log log);
    // A recording under way is finished first.
    ~TrafficRecording() override;

    void start();
    void stop();

private:
    void updateStatus();

    QMainWindow* window;
    sentova::session::DeviceSession& session;
    Log log;
    // GUI thread only: the entries, the status label and the recording under way.
    QAction* recordAction = nullptr;
    QAction* stopRecordingAction = nullptr;
    QLabel* recordingLabel = nullptr;
    std::shared_ptr<Recording> recording;
};

} // namespace window
