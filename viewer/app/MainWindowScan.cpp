// The scan panel and the device models: home, stop, the three scan patterns and the choice of
// the model's laser page.
#include "MainWindow.h"

#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

using window::errorText;

void MainWindow::on_homePushButton_clicked() {
    commands->run("Home", {ui->homePushButton}, [this](DeviceCommands::Steps& steps) {
        session->eventManager()->ResetEvents();
        if (!steps.cancelled()) {
            steps.log("Home: " + errorText(session->device()->Home()));
        }
    });
}

void MainWindow::on_scanStopPushButton_clicked() {
    commands->run("Stop", {ui->scanStopPushButton}, [this](DeviceCommands::Steps& steps) {
        session->eventManager()->ResetEvents();
        if (!steps.cancelled()) {
            steps.log("Stop: " + errorText(session->device()->Stop()));
        }
    });
}

void MainWindow::on_scanPushButton_clicked() {
    const ScanRequest scan = selectedScan();
    commands->run("Start Scan", {ui->scanPushButton}, [this, scan](DeviceCommands::Steps& steps) {
        session->eventManager()->ResetEvents();
        if (steps.cancelled()) {
            return;
        }
        const QString line = startScan(*session->device(), scan);
        if (!line.isEmpty()) {
            steps.log(line);
        }
    });
}

ScanRequest MainWindow::selectedScan() const {
    ScanRequest scan;
    if (ui->fullFieldradioButton->isChecked()) {
        scan.pattern = ScanRequest::Pattern::FullField;
    } else if (ui->boundedradioButton->isChecked()) {
        scan.pattern = ScanRequest::Pattern::BoundedElevation;
    } else if (ui->regionradioButton->isChecked()) {
        scan.pattern = ScanRequest::Pattern::Region;
    }
    scan.speed = ui->AzSpeedDoubleSpinBox->value();
    scan.lines = ui->nLinesDoubleSpinBox->value();
    scan.azMin = ui->azMin_doubleSpinBox->value();
    scan.azMax = ui->azMax_doubleSpinBox->value();
    scan.elMin = ui->elMin_doubleSpinBox->value();
    scan.elMax = ui->elMax_doubleSpinBox->value();
    return scan;
}

void MainWindow::setBoundInputsEnabled(bool azimuth, bool elevation) {
    for (QWidget* w :
         {static_cast<QWidget*>(ui->azMinNamelabel), static_cast<QWidget*>(ui->azMin_doubleSpinBox),
          static_cast<QWidget*>(ui->azMaxNamelabel),
          static_cast<QWidget*>(ui->azMax_doubleSpinBox)}) {
        w->setEnabled(azimuth);
    }
    for (QWidget* w :
         {static_cast<QWidget*>(ui->elMinNamelabel), static_cast<QWidget*>(ui->elMin_doubleSpinBox),
          static_cast<QWidget*>(ui->elMaxNamelabel),
          static_cast<QWidget*>(ui->elMax_doubleSpinBox)}) {
        w->setEnabled(elevation);
    }
}

void MainWindow::on_fullFieldradioButton_clicked() {
    setBoundInputsEnabled(false, false);
    updateRegionActor();
}

void MainWindow::on_boundedradioButton_clicked() {
    setBoundInputsEnabled(false, true);
    updateRegionActor();
}

void MainWindow::on_regionradioButton_clicked() {
    setBoundInputsEnabled(true, true);
    updateRegionActor();
}

void MainWindow::getModeFromSerial() {
    const std::uint64_t choicesBefore = panelChoices;
    commands->run("GetSerial", {}, [this, choicesBefore](DeviceCommands::Steps& steps) {
        std::string serial;
        const tavrel::tavrel_error_t result = session->device()->GetSerial(serial);
        steps.onGui([this, result, serial, choicesBefore] {
            if (result != tavrel::NoError) {
                logMessage("GetSerial Error: " + errorText(result));
                return;
            }
            if (panelChoices == choicesBefore) {
                setWidget(tavrel::ModelFromSerial(serial));
            }
        });
    });
}

void MainWindow::setWidget(LIDAR_TYPE currentMode) {
    switch (currentMode) {
    case LIDAR_LX30:
        setLX30Widget();
        break;
    case LIDAR_LX20:
        setLX20Widget();
        break;
    default:
        setGenericWidget();
        break;
    }
}

void MainWindow::setGenericWidget() {
    mode = LIDAR_GENERIC;
    updateCurrentWidget();
}

void MainWindow::setLX30Widget() {
    mode = LIDAR_LX30;
    updateCurrentWidget();
}

void MainWindow::setLX20Widget() {
    mode = LIDAR_LX20;
    updateCurrentWidget();
}

void MainWindow::hideStackedWidgets() {
    for (int index = 0; index < 3; ++index) {
        ui->stackedWidget->widget(index)->hide();
    }
}

void MainWindow::updateCurrentWidget() {
    ++panelChoices;
    hideStackedWidgets();
    store.setConversion(mode, ui->laserHighSpeedcheckBox->isChecked());
    QWidget* page = ui->stackedWidget->widget(static_cast<int>(mode));
    page->show();
    ui->stackedWidget->setCurrentWidget(page);
    modelChanged();
}
