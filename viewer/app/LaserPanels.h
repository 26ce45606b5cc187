// The laser panels of the three models: starting and stopping the laser stream, Get Frame
// through the device's event system, the LX20's high-speed mode, and which model's panel shows
// (the Settings menu's choice, or the one the serial number names).
#pragma once

#include "DeviceCommands.h"
#include "RegionHelper.h"
#include "ScanRequest.h"

#include "Sentova/DeviceModel.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QWidget;
class Ui_MainWindow;

namespace sentova::session {
class DeviceSession;
}

namespace window {

class LaserPanels : public QObject {
    Q_OBJECT

public:
    // GUI thread: starts the listener if needed and gives the data port it listens on; false
    // when nothing listens (then no start may name a port).
    using Listen = std::function<bool(unsigned short& dataPort)>;
    // The scan Get Frame starts.
    using Scan = std::function<ScanRequest()>;
    using Log = std::function<void(const QString&)>;

    // The panels' widgets and the model entries in ui. session and commands must outlive this.
    LaserPanels(Ui_MainWindow& ui, sentova::session::DeviceSession& session,
                DeviceCommands& commands, Listen listen, Scan scan, Log log);

    void startLX30();
    void startLX20();
    void startGeneric();
    void stop(QWidget* button);
    void getFrameLX30();
    void getFrameLX20();
    void highSpeedClicked();

    // Asks the device for its serial number on the command worker; the answer picks the
    // model's panel unless the operator has chosen one meanwhile.
    void modelFromSerial();
    void show(LIDAR_TYPE model);
    LIDAR_TYPE model() const { return mode; }
    // The laser's part of the uniform line count.
    viewer::UniformScanInput uniformInput() const;

signals:
    // The model shown or the LX20's high-speed mode changed: what the points are made from.
    void modelChanged(LIDAR_TYPE model, bool highSpeed);

private:
    bool listenFor(DeviceCommands::Steps& steps, unsigned short& dataPort);
    void startLaser(QWidget* button, const tavrel::LaserSettings& laser, const QString& logPrefix,
                    bool logSuccess);
    void getFrame(QWidget* button, const tavrel::LaserSettings& laser);
    tavrel::LaserSettings lx30Settings() const;
    tavrel::LaserSettings lx20Settings() const;
    void showCurrent();

    Ui_MainWindow& ui;
    sentova::session::DeviceSession& session;
    DeviceCommands& commands;
    Listen listen;
    Scan scan;
    Log log;
    LIDAR_TYPE mode = LIDAR_GENERIC;
    // Panel choices made since start-up; the serial number's answer applies only if none was.
    std::uint64_t panelChoices = 0;
};

} // namespace window
