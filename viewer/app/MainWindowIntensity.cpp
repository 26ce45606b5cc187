// The intensity range and colours of the colour scale.
#include "MainWindow.h"

#include "IntensityDialog.h"
#include "ui_MainWindow.h"

#include <QColorDialog>
#include <QInputDialog>

void MainWindow::askForMaximumIntensity() {
    const viewer::IntensityRange now = store.intensityRange();
    const viewer::IntensityDialogRange range =
        viewer::intensityDialogRange(now.maximum, now.minimum);
    bool ok = false;
    const int value = QInputDialog::getInt(this, "Set maximum value for intensity",
                                           "Maximum intensity:", range.initial, range.minimum,
                                           range.maximum, 1, &ok);
    if (ok) {
        store.setMaximumIntensity(static_cast<std::uint32_t>(value));
    }
}

void MainWindow::askForMinimumIntensity() {
    const viewer::IntensityRange now = store.intensityRange();
    const viewer::IntensityDialogRange range =
        viewer::intensityDialogRange(now.minimum, now.maximum);
    bool ok = false;
    const int value = QInputDialog::getInt(this, "Set minimum value for intensity",
                                           "Minimum intensity:", range.initial, range.minimum,
                                           range.maximum, 1, &ok);
    if (ok) {
        store.setMinimumIntensity(static_cast<std::uint32_t>(value));
    }
}

void MainWindow::setAutoIntensity() {
    store.setAutomaticIntensity();
}

void MainWindow::askForMaximumIntensityColor() {
    const QColor current(maximumIntensityColor.red(), maximumIntensityColor.green(),
                         maximumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, this, "Set color for maximum intensity value");
    if (chosen.isValid()) {
        maximumIntensityColor = chosen;
        store.markChanged();
    }
}

void MainWindow::askForMinimumIntensityColor() {
    const QColor current(minimumIntensityColor.red(), minimumIntensityColor.green(),
                         minimumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, this, "Set color for minimum intensity value");
    if (chosen.isValid()) {
        minimumIntensityColor = chosen;
        store.markChanged();
    }
}

void MainWindow::resetIntensityColors() {
    maximumIntensityColor = QColor::fromRgbF(0.0, 0.0, 1.0, 1.0);
    minimumIntensityColor = QColor::fromRgbF(1.0, 0.0, 0.0, 1.0);
    store.markChanged();
}
