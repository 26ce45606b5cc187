// Laser-only acquisition: starting and stopping the laser stream per model, and
// Get Frame through the device's event system.
#include "MainWindow.h"

#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include "Sentova/SentovaEventManager.h"

#include <functional>

using window::errorText;

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

bool MainWindow::listenFor(DeviceCommands::Steps& steps,
                           std::vector<tavrel::Parameter>& parameters) {
    bool listens = false;
    const bool ran = steps.onGui([this, &parameters, &listens] {
        listens = setupListener();
        // The port parameter always comes last.
        parameters.back().value = static_cast<int>(port);
    });
    return ran && listens;
}

void MainWindow::startLaser(QWidget* button, std::vector<tavrel::Parameter> parameters,
                            const QString& logPrefix, bool logSuccess) {
    commands->run("Start Laser", {button},
                  [this, parameters, logPrefix, logSuccess](DeviceCommands::Steps& steps) mutable {
                      if (!listenFor(steps, parameters)) {
                          return;
                      }
                      const tavrel::tavrel_error_t result = eventManager->ManagerSendCommand(
                          tavrel::CommandSerialiser::SVRRBE(parameters));
                      if (logSuccess || result != tavrel::NoError) {
                          steps.log(logPrefix + errorText(result));
                      }
                  });
}

void MainWindow::on_startLaserPushButton_clicked() {
    startLaser(ui->startLaserPushButton, lx30Parameters(), "Start Laser: ", true);
}

void MainWindow::on_laserPushButton_clicked() {
    startLaser(ui->laserPushButton, lx20Parameters(), "Start Laser: ", false);
}

void MainWindow::on_genericScanPushButton_clicked() {
    startLaser(ui->genericScanPushButton, {{0, static_cast<int>(port)}},
               "Start Laser Error: ", false);
}

void MainWindow::sendStopLaser(QWidget* button) {
    commands->run("Stop Laser", {button}, [this](DeviceCommands::Steps& steps) {
        const tavrel::tavrel_error_t result =
            eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVSRBE());
        steps.log("Stop Laser: " + errorText(result));
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
    getFrame(ui->getFramePushButton, lx30Parameters());
}

void MainWindow::on_lx20GetFramePushButton_clicked() {
    getFrame(ui->lx20GetFramePushButton, lx20Parameters());
}

void MainWindow::getFrame(QWidget* button, std::vector<tavrel::Parameter> parameters) {
    const ScanRequest scan = selectedScan();
    commands->run(
        "Get Frame", {button}, [this, parameters, scan](DeviceCommands::Steps& steps) mutable {
            steps.waitingFor("ResetEvents");
            tavrel::tavrel_error_t result = eventManager->ResetEvents();
            if (result != tavrel::NoError) {
                steps.log("Error: " + errorText(result));
                if (steps.cancelled()) {
                    return;
                }
                eventManager->ResetEvents();
            }
            if (!listenFor(steps, parameters)) {
                return;
            }

            // The device's event system starts the stream (event 0) and stops the
            // stream and the aperture (event 1) by itself.
            const std::string laserStart = tavrel::CommandSerialiser::SVRRBE(parameters);
            struct Step {
                const char* name;
                std::function<tavrel::tavrel_error_t()> call;
            };
            const Step sequence[] = {
                {"ConfigureCommandBuffer(128)",
                 [&] { return eventManager->ConfigureCommandBuffer(128, laserStart); }},
                {"ConfigureCommandBuffer(129)",
                 [&] {
                     return eventManager->ConfigureCommandBuffer(
                         129, tavrel::CommandSerialiser::SVSRBE());
                 }},
                {"ConfigureCommandBuffer(130)",
                 [&] {
                     return eventManager->ConfigureCommandBuffer(
                         130, tavrel::CommandSerialiser::SVSTOP());
                 }},
                {"EventEnable(128)", [&] { return eventManager->EventEnable(128, 0, false); }},
                {"EventEnable(129)", [&] { return eventManager->EventEnable(129, 1, false); }},
                {"EventEnable(130)", [&] { return eventManager->EventEnable(130, 1, false); }},
            };
            for (const Step& step : sequence) {
                if (steps.cancelled()) {
                    return;
                }
                steps.waitingFor(step.name);
                result = step.call();
                if (result != tavrel::NoError) {
                    steps.log("Error: " + errorText(result));
                    return;
                }
            }
            if (steps.cancelled()) {
                return;
            }
            steps.waitingFor("starting the scan");
            const QString line = startScan(*device, scan);
            if (!line.isEmpty()) {
                steps.log(line);
            }
        });
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
