// The scan-region helper, the camera projection and "Set to uniform".
#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkRenderer.h>

#include <optional>

viewer::ScanType MainWindow::scanType() const {
    if (ui->boundedradioButton->isChecked()) {
        return viewer::ScanType::BoundedElevation;
    }
    if (ui->regionradioButton->isChecked()) {
        return viewer::ScanType::Region;
    }
    return viewer::ScanType::FullField;
}

void MainWindow::updateRegionActor() {
    rebuildRegionActor();
    render();
}

void MainWindow::rebuildRegionActor() {
    const viewer::RegionGeometry geometry =
        viewer::regionGeometry(scanType(), ui->azMin_doubleSpinBox->value(),
                               ui->azMax_doubleSpinBox->value(), ui->elMin_doubleSpinBox->value(),
                               ui->elMax_doubleSpinBox->value(), sceneView->helperLength());
    auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
    mapper->SetInputData(viewer::regionPolyData(geometry));
    regionActor->SetMapper(mapper);
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

void MainWindow::setViewingRegion() {
    actorShown = !actorShown;
    regionActor->SetVisibility(actorShown);
    render();
}

void MainWindow::togglePerspective() {
    vtkRenderer* sceneRenderer = renderer();
    vtkCamera* camera = sceneRenderer->GetActiveCamera();
    camera->SetParallelProjection(!camera->GetParallelProjection());
    sceneRenderer->SetActiveCamera(camera);
    render();
}

void MainWindow::setUniformScan() {
    viewer::UniformScanInput input;
    input.type = scanType();
    input.mode = mode;
    input.azSpeed = ui->AzSpeedDoubleSpinBox->value();
    input.azMin = ui->azMin_doubleSpinBox->value();
    input.azMax = ui->azMax_doubleSpinBox->value();
    input.elMin = ui->elMin_doubleSpinBox->value();
    input.elMax = ui->elMax_doubleSpinBox->value();
    input.measurementIndex = ui->measurementComboBox->currentIndex();
    input.averagedSamples = ui->avgSamplesspinBox->value();
    input.sampleRate = ui->sampleRatespinBox->value();
    const std::optional<double> lines = viewer::uniformLines(input);
    if (!lines) {
        logMessage(QString("Set to uniform: no point spacing is defined for this model and "
                           "region; the number of lines is unchanged"));
        return;
    }
    ui->nLinesDoubleSpinBox->setValue(*lines);
}
