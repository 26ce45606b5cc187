#include "LaserPanels.h"

#include "DeviceSession.h"
#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include "Sentova/Sentova.h"

#include <QActionGroup>

namespace window {

LaserPanels::LaserPanels(Ui_MainWindow& ui, sentova::session::DeviceSession& session,
                         DeviceCommands& commands, Listen listen, Scan scan, Log log)
    : ui(ui), session(session), commands(commands), listen(std::move(listen)),
      scan(std::move(scan)), log(std::move(log)) {
    auto* models = new QActionGroup(ui.menuSettings);
    models->setExclusive(true);
    for (QAction* model : {ui.actionGeneric, ui.actionLX30, ui.actionLX20}) {
        model->setCheckable(true);
        models->addAction(model);
    }
    connect(ui.laserHighSpeedcheckBox, &QCheckBox::toggled, this,
            [this](bool checked) { emit modelChanged(mode, checked); });
}

tavrel::LaserSettings LaserPanels::lx30Settings() const {
    tavrel::LaserSettings s;
    s.model = LIDAR_LX30;
    s.measurement = ui.measurementComboBox->currentIndex();
    s.target = ui.targetComboBox->currentIndex();
    return s;
}

tavrel::LaserSettings LaserPanels::lx20Settings() const {
    tavrel::LaserSettings s;
    s.model = LIDAR_LX20;
    s.highSpeed = ui.laserHighSpeedcheckBox->isChecked();
    s.sampleRate = ui.sampleRatespinBox->value();
    s.average = ui.avgSamplesspinBox->value();
    s.gain = ui.laserGainspinBox->value();
    return s;
}

bool LaserPanels::listenFor(DeviceCommands::Steps& steps, unsigned short& dataPort) {
    bool listens = false;
    const bool ran = steps.onGui([this, &dataPort, &listens] { listens = listen(dataPort); });
    return ran && listens;
}

void LaserPanels::startLaser(QWidget* button, const tavrel::LaserSettings& laser,
                             const QString& logPrefix, bool logSuccess) {
    commands.run("Start Laser", {button},
                 [this, laser, logPrefix, logSuccess](DeviceCommands::Steps& steps) {
                     unsigned short dataPort = 0;
                     if (!listenFor(steps, dataPort)) {
                         return;
                     }
                     const tavrel::tavrel_error_t result = session.startStream(laser, dataPort);
                     if (logSuccess || result != tavrel::NoError) {
                         steps.log(logPrefix + errorText(result));
                     }
                 });
}

void LaserPanels::startLX30() {
    startLaser(ui.startLaserPushButton, lx30Settings(), "Start Laser: ", true);
}

void LaserPanels::startLX20() {
    startLaser(ui.laserPushButton, lx20Settings(), "Start Laser: ", false);
}

void LaserPanels::startGeneric() {
    startLaser(ui.genericScanPushButton, tavrel::LaserSettings{}, "Start Laser Error: ", false);
}

void LaserPanels::stop(QWidget* button) {
    commands.run("Stop Laser", {button}, [this](DeviceCommands::Steps& steps) {
        steps.log("Stop Laser: " + errorText(session.stopStream()));
    });
}

void LaserPanels::getFrameLX30() {
    getFrame(ui.getFramePushButton, lx30Settings());
}

void LaserPanels::getFrameLX20() {
    getFrame(ui.lx20GetFramePushButton, lx20Settings());
}

void LaserPanels::getFrame(QWidget* button, const tavrel::LaserSettings& laser) {
    const ScanRequest request = scan();
    commands.run("Get Frame", {button}, [this, laser, request](DeviceCommands::Steps& steps) {
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
        const auto armed = session.armFrameCapture(laser, 0, hooks);
        if (armed.result != tavrel::NoError) {
            steps.log("Error: " + errorText(armed.result));
        }
        if (!armed.completed() || steps.cancelled()) {
            return;
        }
        steps.waitingFor("starting the scan");
        const QString line = startScan(*session.device(), request);
        if (!line.isEmpty()) {
            steps.log(line);
        }
    });
}

void LaserPanels::highSpeedClicked() {
    const bool checked = ui.laserHighSpeedcheckBox->isChecked();
    if (checked) {
        ui.sampleRatespinBox->setMaximum(tavrel::kLX20HighSpeedRate);
        ui.sampleRatespinBox->setValue(tavrel::kLX20HighSpeedRate);
        ui.avgSamplesspinBox->setValue(1);
    } else {
        ui.sampleRatespinBox->setMaximum(tavrel::kLX20MaximumRate);
        ui.sampleRatespinBox->setValue(tavrel::kLX20MaximumRate);
    }
    ui.sampleRatespinBox->setEnabled(!checked);
    ui.avgSamplesspinBox->setEnabled(!checked);
}

void LaserPanels::modelFromSerial() {
    const std::uint64_t choicesBefore = panelChoices;
    commands.run("GetSerial", {}, [this, choicesBefore](DeviceCommands::Steps& steps) {
        std::string serial;
        const tavrel::tavrel_error_t result = session.device()->GetSerial(serial);
        steps.onGui([this, result, serial, choicesBefore] {
            if (result != tavrel::NoError) {
                log("GetSerial Error: " + errorText(result));
                return;
            }
            if (panelChoices == choicesBefore) {
                show(tavrel::ModelFromSerial(serial));
            }
        });
    });
}

void LaserPanels::show(LIDAR_TYPE model) {
    switch (model) {
    case LIDAR_LX30:
    case LIDAR_LX20:
        mode = model;
        break;
    default:
        mode = LIDAR_GENERIC;
        break;
    }
    showCurrent();
}

void LaserPanels::showCurrent() {
    ++panelChoices;
    for (int index = 0; index < 3; ++index) {
        ui.stackedWidget->widget(index)->hide();
    }
    QWidget* page = ui.stackedWidget->widget(static_cast<int>(mode));
    page->show();
    ui.stackedWidget->setCurrentWidget(page);
    QAction* const models[] = {ui.actionLX30, ui.actionLX20, ui.actionGeneric};
    models[static_cast<int>(mode)]->setChecked(true);
    emit modelChanged(mode, ui.laserHighSpeedcheckBox->isChecked());
}

viewer::UniformScanInput LaserPanels::uniformInput() const {
    viewer::UniformScanInput input;
    input.mode = mode;
    input.measurementIndex = ui.measurementComboBox->currentIndex();
    input.averagedSamples = ui.avgSamplesspinBox->value();
    input.sampleRate = ui.sampleRatespinBox->value();
    return input;
}

} // namespace window
