// The intensity range and colours of the colour scale.
#include "MainWindow.h"

#include "IntensityDialog.h"
#include "ui_MainWindow.h"

#include <QColorDialog>
#include <QInputDialog>

void MainWindow::askForMaximumIntensity() {
    viewer::IntensityDialogRange range;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        range = viewer::intensityDialogRange(maximumIntensity, minimumIntensity);
    }
    bool ok = false;
    const int value = QInputDialog::getInt(this, "Set maximum value for intensity",
                                           "Maximum intensity:", range.initial, range.minimum,
                                           range.maximum, 1, &ok);
    if (!ok) {
        return;
    }
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (static_cast<std::uint32_t>(value) > minimumIntensity) {
        autoIntensity = false;
        maximumIntensity = static_cast<std::uint32_t>(value);
        cloudChanged = true;
    }
}

void MainWindow::askForMinimumIntensity() {
    viewer::IntensityDialogRange range;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        range = viewer::intensityDialogRange(minimumIntensity, maximumIntensity);
    }
    bool ok = false;
    const int value = QInputDialog::getInt(this, "Set minimum value for intensity",
                                           "Minimum intensity:", range.initial, range.minimum,
                                           range.maximum, 1, &ok);
    if (!ok) {
        return;
    }
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (static_cast<std::uint32_t>(value) < maximumIntensity) {
        autoIntensity = false;
        minimumIntensity = static_cast<std::uint32_t>(value);
        cloudChanged = true;
    }
}

void MainWindow::setAutoIntensity() {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    autoIntensity = true;
    cloudChanged = true;
}

void MainWindow::askForMaximumIntensityColor() {
    const QColor current(maximumIntensityColor.red(), maximumIntensityColor.green(),
                         maximumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, this, "Set color for maximum intensity value");
    if (chosen.isValid()) {
        maximumIntensityColor = chosen;
        cloudChanged = true;
    }
}

void MainWindow::askForMinimumIntensityColor() {
    const QColor current(minimumIntensityColor.red(), minimumIntensityColor.green(),
                         minimumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, this, "Set color for minimum intensity value");
    if (chosen.isValid()) {
        minimumIntensityColor = chosen;
        cloudChanged = true;
    }
}

void MainWindow::resetIntensityColors() {
    maximumIntensityColor = QColor::fromRgbF(0.0, 0.0, 1.0, 1.0);
    minimumIntensityColor = QColor::fromRgbF(1.0, 0.0, 0.0, 1.0);
    cloudChanged = true;
}
