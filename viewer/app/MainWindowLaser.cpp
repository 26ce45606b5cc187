// Laser-only acquisition: starting and stopping the laser stream per model, and
// Get Frame through the device's event system.
#include "MainWindow.h"

#include "WindowSupport.h"
#include "ui_MainWindow.h"

using window::errorText;

tavrel::LaserSettings MainWindow::lx30Settings() const {
    tavrel::LaserSettings s;
    s.model = LIDAR_LX30;
    s.measurement = ui->measurementComboBox->currentIndex();
    s.target = ui->targetComboBox->currentIndex();
    return s;
}

tavrel::LaserSettings MainWindow::lx20Settings() const {
    tavrel::LaserSettings s;
    s.model = LIDAR_LX20;
    s.highSpeed = ui->laserHighSpeedcheckBox->isChecked();
    s.sampleRate = ui->sampleRatespinBox->value();
    s.average = ui->avgSamplesspinBox->value();
    s.gain = ui->laserGainspinBox->value();
    return s;
}

bool MainWindow::listenFor(DeviceCommands::Steps& steps, unsigned short& dataPort) {
    bool listens = false;
    const bool ran = steps.onGui([this, &dataPort, &listens] {
        listens = setupListener();
        dataPort = static_cast<unsigned short>(port);
    });
    return ran && listens;
}

void MainWindow::startLaser(QWidget* button, const tavrel::LaserSettings& laser,
                            const QString& logPrefix, bool logSuccess) {
    commands->run("Start Laser", {button},
                  [this, laser, logPrefix, logSuccess](DeviceCommands::Steps& steps) {
                      unsigned short dataPort = 0;
                      if (!listenFor(steps, dataPort)) {
                          return;
                      }
                      const tavrel::tavrel_error_t result = session->startStream(laser, dataPort);
                      if (logSuccess || result != tavrel::NoError) {
                          steps.log(logPrefix + errorText(result));
                      }
                  });
}

void MainWindow::on_startLaserPushButton_clicked() {
    startLaser(ui->startLaserPushButton, lx30Settings(), "Start Laser: ", true);
}

void MainWindow::on_laserPushButton_clicked() {
    startLaser(ui->laserPushButton, lx20Settings(), "Start Laser: ", false);
}

void MainWindow::on_genericScanPushButton_clicked() {
    startLaser(ui->genericScanPushButton, tavrel::LaserSettings{}, "Start Laser Error: ", false);
}

void MainWindow::sendStopLaser(QWidget* button) {
    commands->run("Stop Laser", {button}, [this](DeviceCommands::Steps& steps) {
        steps.log("Stop Laser: " + errorText(session->stopStream()));
    });
}

void MainWindow::on_stopLaserPushButton_clicked() {
    sendStopLaser(ui->stopLaserPushButton);
}

void MainWindow::on_laserStopPushButton_clicked() {
    sendStopLaser(ui->laserStopPushButton);
}

void MainWindow::on_genericScanStopPushButton_clicked() {
    sendStopLaser(ui->genericScanStopPushButton);
}

void MainWindow::on_getFramePushButton_clicked() {
    getFrame(ui->getFramePushButton, lx30Settings());
}

void MainWindow::on_lx20GetFramePushButton_clicked() {
    getFrame(ui->lx20GetFramePushButton, lx20Settings());
}

void MainWindow::getFrame(QWidget* button, const tavrel::LaserSettings& laser) {
    const ScanRequest scan = selectedScan();
    commands->run("Get Frame", {button}, [this, laser, scan](DeviceCommands::Steps& steps) {
        // The device's event system starts the stream (event 0) and stops the stream and the
        // aperture (event 1) by itself.
        sentova::session::DeviceSession::FrameCaptureHooks hooks;
        hooks.before = [&steps](const std::string& step) {
            if (steps.cancelled()) {
                return false;
            }
            steps.waitingFor(QString::fromStdString(step));
            return true;
        };
        hooks.resetFailed = [&steps](tavrel::tavrel_error_t result) {
            steps.log("Error: " + errorText(result));
        };
        hooks.afterReset = [this, &steps](unsigned short& dataPort) {
            return listenFor(steps, dataPort);
        };
        const auto armed = session->armFrameCapture(laser, 0, hooks);
        if (armed.result != tavrel::NoError) {
            steps.log("Error: " + errorText(armed.result));
        }
        if (!armed.completed() || steps.cancelled()) {
            return;
        }
        steps.waitingFor("starting the scan");
        const QString line = startScan(*session->device(), scan);
        if (!line.isEmpty()) {
            steps.log(line);
        }
    });
}

void MainWindow::on_laserHighSpeedcheckBox_clicked() {
    const bool checked = ui->laserHighSpeedcheckBox->isChecked();
    if (checked) {
        ui->sampleRatespinBox->setMaximum(tavrel::kLX20HighSpeedRate);
        ui->sampleRatespinBox->setValue(tavrel::kLX20HighSpeedRate);
        ui->avgSamplesspinBox->setValue(1);
    } else {
        ui->sampleRatespinBox->setMaximum(tavrel::kLX20MaximumRate);
        ui->sampleRatespinBox->setValue(tavrel::kLX20MaximumRate);
    }
    ui->sampleRatespinBox->setEnabled(!checked);
    ui->avgSamplesspinBox->setEnabled(!checked);
}
