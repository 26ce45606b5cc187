// The scan panel and the device models: home, stop, the three scan patterns and the choice of
// the model's laser page.
#include "MainWindow.h"

#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

using window::errorText;
using window::number;

void MainWindow::on_homePushButton_clicked() {
    eventManager->ResetEvents();
    const tavrel::tavrel_error_t result = device->Home();
    logMessage("Home: " + errorText(result));
}

void MainWindow::on_scanStopPushButton_clicked() {
    eventManager->ResetEvents();
    const tavrel::tavrel_error_t result = device->Stop();
    logMessage("Stop: " + errorText(result));
}

void MainWindow::on_scanPushButton_clicked() {
    eventManager->ResetEvents();
    startSelectedScan();
}

void MainWindow::startSelectedScan() {
    const double speed = ui->AzSpeedDoubleSpinBox->value();
    const double lines = ui->nLinesDoubleSpinBox->value();
    const double azMin = ui->azMin_doubleSpinBox->value();
    const double azMax = ui->azMax_doubleSpinBox->value();
    const double elMin = ui->elMin_doubleSpinBox->value();
    const double elMax = ui->elMax_doubleSpinBox->value();

    if (ui->fullFieldradioButton->isChecked()) {
        const tavrel::tavrel_error_t result = device->StartFullFieldScan(speed, lines);
        logMessage("StartFullFieldScan(" + number(speed) + ", " + number(lines) +
                   "): " + errorText(result));
    } else if (ui->boundedradioButton->isChecked()) {
        const tavrel::tavrel_error_t result =
            device->StartBoundedElevationScan(speed, elMin, elMax, lines);
        logMessage("StartBoundedElevationScan(" + number(speed) + ", " + number(elMin) + ", " +
                   number(elMax) + ", " + number(lines) + "): " + errorText(result));
    } else if (ui->regionradioButton->isChecked()) {
        const tavrel::tavrel_error_t result =
            device->StartRegionScan(speed, azMin, azMax, elMin, elMax, lines);
        logMessage("StartRegionScan(" + number(speed) + ", " + number(azMin) + ", " +
                   number(azMax) + ", " + number(elMin) + ", " + number(elMax) + ", " +
                   number(lines) + "): " + errorText(result));
    }
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

LIDAR_TYPE MainWindow::getModeFromSerial() {
    std::string serial;
    const tavrel::tavrel_error_t result = device->GetSerial(serial);
    if (result != tavrel::NoError) {
        logMessage("GetSerial Error: " + errorText(result));
        return LIDAR_GENERIC;
    }
    mode = formats::modelFromSerial(serial);
    return mode;
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
    hideStackedWidgets();
    QWidget* page = ui->stackedWidget->widget(static_cast<int>(mode.load()));
    page->show();
    ui->stackedWidget->setCurrentWidget(page);
    modelChanged();
}
