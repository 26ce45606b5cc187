// What the window shows of the device and the stream: the status rows of the Stats box (whether
// the device answers, its model and firmware, the laser stream, the stream's figures coloured
// when they signal trouble), the probe of a silent device, and leaving the device quiet at quit.
#pragma once

#include "StatusLabels.h"
#include "StreamHealth.h"

#include <QObject>

#include <cstdint>

class DeviceCommands;
class Ui_MainWindow;

namespace sentova::session {
class DeviceSession;
}

namespace window {

class StatusPanel : public QObject {
    Q_OBJECT

public:
    // Adds the status rows to the Stats box of ui and starts their updates. session and commands
    // must outlive this.
    StatusPanel(Ui_MainWindow& ui, sentova::session::DeviceSession& session,
                DeviceCommands& commands);

    // After the quit is confirmed: stops the laser stream and the scan this window started, then
    // ends the event loop.
    void quitLeavingDeviceQuiet();

private:
    void update();

    Ui_MainWindow& ui;
    sentova::session::DeviceSession& session;
    DeviceCommands& commands;
    StatusLabels labels;
    viewer::StreamHealth streamHealth;
    std::int64_t lastStreamUpdateMs = 0;
    std::int64_t lastProbeMs = 0;
    bool quitting = false;
};

} // namespace window
