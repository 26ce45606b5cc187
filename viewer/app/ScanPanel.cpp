#include "ScanPanel.h"

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "PointReadout.h"
#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

#include <optional>

namespace window {

ScanPanel::ScanPanel(Ui_MainWindow& ui, sentova::session::DeviceSession& session,
                     DeviceCommands& commands)
    : ui(ui), session(session), commands(commands) {
    // Full field is the pattern checked at start.
    setBoundInputsEnabled(false, false);
}

void ScanPanel::home() {
    commands.run("Home", {ui.homePushButton}, [this](DeviceCommands::Steps& steps) {
        session.eventManager()->ResetEvents();
        if (!steps.cancelled()) {
            steps.log("Home: " + errorText(session.device()->Home()));
        }
    });
}

void ScanPanel::stop() {
    commands.run("Stop", {ui.scanStopPushButton}, [this](DeviceCommands::Steps& steps) {
        session.eventManager()->ResetEvents();
        if (!steps.cancelled()) {
            steps.log("Stop: " + errorText(session.device()->Stop()));
        }
    });
}

void ScanPanel::startScan() {
    const ScanRequest scan = selectedScan();
    commands.run("Start Scan", {ui.scanPushButton}, [this, scan](DeviceCommands::Steps& steps) {
        session.eventManager()->ResetEvents();
        if (steps.cancelled()) {
            return;
        }
        const QString line = ::startScan(*session.device(), scan);
        if (!line.isEmpty()) {
            steps.log(line);
        }
    });
}

ScanRequest ScanPanel::selectedScan() const {
    ScanRequest scan;
    if (ui.fullFieldradioButton->isChecked()) {
        scan.pattern = ScanRequest::Pattern::FullField;
    } else if (ui.boundedradioButton->isChecked()) {
        scan.pattern = ScanRequest::Pattern::BoundedElevation;
    } else if (ui.regionradioButton->isChecked()) {
        scan.pattern = ScanRequest::Pattern::Region;
    }
    scan.speed = ui.AzSpeedDoubleSpinBox->value();
    scan.lines = ui.nLinesDoubleSpinBox->value();
    scan.azMin = ui.azMin_doubleSpinBox->value();
    scan.azMax = ui.azMax_doubleSpinBox->value();
    scan.elMin = ui.elMin_doubleSpinBox->value();
    scan.elMax = ui.elMax_doubleSpinBox->value();
    return scan;
}

viewer::ScanType ScanPanel::scanType() const {
    if (ui.boundedradioButton->isChecked()) {
        return viewer::ScanType::BoundedElevation;
    }
    if (ui.regionradioButton->isChecked()) {
        return viewer::ScanType::Region;
    }
    return viewer::ScanType::FullField;
}

viewer::RegionGeometry ScanPanel::region(double helperLength) const {
    return viewer::regionGeometry(scanType(), ui.azMin_doubleSpinBox->value(),
                                  ui.azMax_doubleSpinBox->value(), ui.elMin_doubleSpinBox->value(),
                                  ui.elMax_doubleSpinBox->value(), helperLength);
}

bool ScanPanel::setUniform(viewer::UniformScanInput input) {
    input.type = scanType();
    input.azSpeed = ui.AzSpeedDoubleSpinBox->value();
    input.azMin = ui.azMin_doubleSpinBox->value();
    input.azMax = ui.azMax_doubleSpinBox->value();
    input.elMin = ui.elMin_doubleSpinBox->value();
    input.elMax = ui.elMax_doubleSpinBox->value();
    const std::optional<double> lines = viewer::uniformLines(input);
    if (!lines) {
        return false;
    }
    ui.nLinesDoubleSpinBox->setValue(*lines);
    return true;
}

void ScanPanel::setRegion(const viewer::RegionBounds& bounds) {
    ui.regionradioButton->setChecked(true);
    setBoundInputsEnabled(true, true);
    ui.azMin_doubleSpinBox->setValue(bounds.azMin);
    ui.azMax_doubleSpinBox->setValue(bounds.azMax);
    ui.elMin_doubleSpinBox->setValue(bounds.elMin);
    ui.elMax_doubleSpinBox->setValue(bounds.elMax);
    emit regionChanged();
}

void ScanPanel::setBoundInputsEnabled(bool azimuth, bool elevation) {
    for (QWidget* w :
         {static_cast<QWidget*>(ui.azMinNamelabel), static_cast<QWidget*>(ui.azMin_doubleSpinBox),
          static_cast<QWidget*>(ui.azMaxNamelabel),
          static_cast<QWidget*>(ui.azMax_doubleSpinBox)}) {
        w->setEnabled(azimuth);
    }
    for (QWidget* w :
         {static_cast<QWidget*>(ui.elMinNamelabel), static_cast<QWidget*>(ui.elMin_doubleSpinBox),
          static_cast<QWidget*>(ui.elMaxNamelabel),
          static_cast<QWidget*>(ui.elMax_doubleSpinBox)}) {
        w->setEnabled(elevation);
    }
}

void ScanPanel::chooseFullField() {
    setBoundInputsEnabled(false, false);
    emit regionChanged();
}

void ScanPanel::chooseBounded() {
    setBoundInputsEnabled(false, true);
    emit regionChanged();
}

void ScanPanel::chooseRegion() {
    setBoundInputsEnabled(true, true);
    emit regionChanged();
}

} // namespace window
