// The window's slots, each handing its command to the part that looks after it.
#include "MainWindow.h"

#include "CloudDisplay.h"
#include "FileCommands.h"
#include "LaserPanels.h"
#include "ScanPanel.h"
#include "ViewControls.h"
#include "ui_MainWindow.h"

#include <QInputDialog>

void MainWindow::LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                                   unsigned int unused) {
    store.LaserDataCallback(std::move(observations), unused);
}

void MainWindow::on_homePushButton_clicked() {
    scanPanel->home();
}

void MainWindow::on_scanPushButton_clicked() {
    scanPanel->startScan();
}

void MainWindow::on_scanStopPushButton_clicked() {
    scanPanel->stop();
}

void MainWindow::on_fullFieldradioButton_clicked() {
    scanPanel->chooseFullField();
}

void MainWindow::on_boundedradioButton_clicked() {
    scanPanel->chooseBounded();
}

void MainWindow::on_regionradioButton_clicked() {
    scanPanel->chooseRegion();
}

void MainWindow::on_azMin_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::on_azMax_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::on_elMin_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::on_elMax_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::setUniformScan() {
    if (!scanPanel->setUniform(laserPanels->uniformInput())) {
        logMessage(QString("Set to uniform: no point spacing is defined for this model and "
                           "region; the number of lines is unchanged"));
    }
}

void MainWindow::on_startLaserPushButton_clicked() {
    laserPanels->startLX30();
}

void MainWindow::on_laserPushButton_clicked() {
    laserPanels->startLX20();
}

void MainWindow::on_genericScanPushButton_clicked() {
    laserPanels->startGeneric();
}

void MainWindow::on_stopLaserPushButton_clicked() {
    laserPanels->stop(ui->stopLaserPushButton);
}

void MainWindow::on_laserStopPushButton_clicked() {
    laserPanels->stop(ui->laserStopPushButton);
}

void MainWindow::on_genericScanStopPushButton_clicked() {
    laserPanels->stop(ui->genericScanStopPushButton);
}

void MainWindow::on_getFramePushButton_clicked() {
    laserPanels->getFrameLX30();
}

void MainWindow::on_lx20GetFramePushButton_clicked() {
    laserPanels->getFrameLX20();
}

void MainWindow::on_laserHighSpeedcheckBox_clicked() {
    laserPanels->highSpeedClicked();
}

void MainWindow::getModeFromSerial() {
    laserPanels->modelFromSerial();
}

void MainWindow::setWidget(LIDAR_TYPE currentMode) {
    laserPanels->show(currentMode);
}

void MainWindow::setGenericWidget() {
    laserPanels->show(LIDAR_GENERIC);
}

void MainWindow::setLX30Widget() {
    laserPanels->show(LIDAR_LX30);
}

void MainWindow::setLX20Widget() {
    laserPanels->show(LIDAR_LX20);
}

void MainWindow::updatePointsDisplay() {
    display->refresh();
}

void MainWindow::updatePointsPerSecond() {
    display->updateRate();
}

void MainWindow::resetPoints() {
    store.clear();
}

void MainWindow::askForMaximumPoints() {
    bool ok = false;
    const int value =
        QInputDialog::getInt(this, "Set maximum number of points in current scan",
                             "Maximum number of points:", static_cast<int>(store.maximumPoints()),
                             1000, 10000000, 1, &ok);
    if (ok) {
        store.setMaximumPoints(static_cast<std::uint32_t>(value));
    }
}

void MainWindow::askForMaximumIntensity() {
    display->askForMaximumIntensity();
}

void MainWindow::askForMinimumIntensity() {
    display->askForMinimumIntensity();
}

void MainWindow::setAutoIntensity() {
    display->setAutoIntensity();
}

void MainWindow::askForMaximumIntensityColor() {
    display->askForMaximumIntensityColor();
}

void MainWindow::askForMinimumIntensityColor() {
    display->askForMinimumIntensityColor();
}

void MainWindow::resetIntensityColors() {
    display->resetIntensityColors();
}

void MainWindow::updateRegionActor() {
    view->updateRegionActor();
}

void MainWindow::setViewingRegion() {
    view->toggleRegion();
}

void MainWindow::togglePerspective() {
    view->togglePerspective();
}

void MainWindow::fitView() {
    view->fitView();
}

void MainWindow::saveFileAs() {
    files->saveFileAs();
}

void MainWindow::saveLX20FileAs() {
    files->saveLX20FileAs();
}

void MainWindow::askForPCDFileToLoad() {
    files->askForFileToLoad();
}

vtkSmartPointer<vtkPolyData> MainWindow::loadPCDFile(std::string filename) {
    return files->loadPCDFile(filename);
}
