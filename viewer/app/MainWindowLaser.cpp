// Laser-only acquisition: the listener, starting and stopping the laser stream per model, and
// Get Frame through the device's event system.
#include "MainWindow.h"

#include "DataPort.h"
#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include "Sentova/SentovaEventManager.h"

#include <functional>

using window::errorText;

void MainWindow::setupListener() {
    // One listener per run, whatever the outcome of its first start.
    if (listener) {
        return;
    }
    listener = new tavrel::SentovaGrabber();
    if (!listener->StartListening(ipAddress.toStdString(), static_cast<int>(port), this)) {
        logMessage("Unable to listen for laser data on port " + QString::number(port));
        return;
    }
    logMessage("Listening on port " + QString::number(port));
    settings.setValue("network/port", nextDataPort(port));
    settings.sync();
}

std::vector<tavrel::Parameter> MainWindow::lx30Parameters() const {
    return {{1, ui->measurementComboBox->currentIndex()},
            {2, ui->targetComboBox->currentIndex()},
            {0, static_cast<int>(port)}};
}

std::vector<tavrel::Parameter> MainWindow::lx20Parameters() const {
    const int rate =
        ui->laserHighSpeedcheckBox->isChecked() ? 30000 : ui->sampleRatespinBox->value();
    return {{3, rate},
            {4, ui->avgSamplesspinBox->value()},
            {5, ui->laserGainspinBox->value()},
            {0, static_cast<int>(port)}};
}

void MainWindow::on_startLaserPushButton_clicked() {
    setupListener();
    const tavrel::tavrel_error_t result =
        eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVRRBE(lx30Parameters()));
    logMessage("Start Laser: " + errorText(result));
}

void MainWindow::on_laserPushButton_clicked() {
    setupListener();
    const tavrel::tavrel_error_t result =
        eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVRRBE(lx20Parameters()));
    if (result != tavrel::NoError) {
        logMessage("Start Laser: " + errorText(result));
    }
}

void MainWindow::on_genericScanPushButton_clicked() {
    setupListener();
    const tavrel::tavrel_error_t result = eventManager->ManagerSendCommand(
        tavrel::CommandSerialiser::SVRRBE({{0, static_cast<int>(port)}}));
    if (result != tavrel::NoError) {
        logMessage("Start Laser Error: " + errorText(result));
    }
}

void MainWindow::sendStopLaser() {
    const tavrel::tavrel_error_t result =
        eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVSRBE());
    logMessage("Stop Laser: " + errorText(result));
}

void MainWindow::on_stopLaserPushButton_clicked() {
    sendStopLaser();
}

void MainWindow::on_laserStopPushButton_clicked() {
    sendStopLaser();
}

void MainWindow::on_genericScanStopPushButton_clicked() {
    sendStopLaser();
}

void MainWindow::on_getFramePushButton_clicked() {
    getFrame(lx30Parameters());
}

void MainWindow::on_lx20GetFramePushButton_clicked() {
    getFrame(lx20Parameters());
}

void MainWindow::getFrame(const std::vector<tavrel::Parameter>& parameters) {
    tavrel::tavrel_error_t result = eventManager->ResetEvents();
    if (result != tavrel::NoError) {
        logMessage("Error: " + errorText(result));
        eventManager->ResetEvents();
    }
    setupListener();

    // The device's event system starts the stream (event 0) and stops the
    // stream and the aperture (event 1) by itself.
    const std::string laserStart = tavrel::CommandSerialiser::SVRRBE(parameters);
    using Step = std::function<tavrel::tavrel_error_t()>;
    const Step steps[] = {
        [&] { return eventManager->ConfigureCommandBuffer(128, laserStart); },
        [&] {
            return eventManager->ConfigureCommandBuffer(129, tavrel::CommandSerialiser::SVSRBE());
        },
        [&] {
            return eventManager->ConfigureCommandBuffer(130, tavrel::CommandSerialiser::SVSTOP());
        },
        [&] { return eventManager->EventEnable(128, 0, false); },
        [&] { return eventManager->EventEnable(129, 1, false); },
        [&] { return eventManager->EventEnable(130, 1, false); },
    };
    for (const Step& step : steps) {
        result = step();
        if (result != tavrel::NoError) {
            logMessage("Error: " + errorText(result));
            return;
        }
    }
    startSelectedScan();
}

void MainWindow::on_laserHighSpeedcheckBox_clicked() {
    const bool checked = ui->laserHighSpeedcheckBox->isChecked();
    if (checked) {
        ui->sampleRatespinBox->setMaximum(30000);
        ui->sampleRatespinBox->setValue(30000);
        ui->avgSamplesspinBox->setValue(1);
    } else {
        ui->sampleRatespinBox->setMaximum(10000);
        ui->sampleRatespinBox->setValue(10000);
    }
    ui->sampleRatespinBox->setEnabled(!checked);
    ui->avgSamplesspinBox->setEnabled(!checked);
}
