// The preferences dialog and the column selection it persists.
#include "MainWindow.h"

#include "ListenerPort.h"

#include "ui_MainWindow.h"
#include "ui_PreferencesDialog.h"

namespace {

struct ColumnKey {
    QCheckBox* Ui_PreferencesDialog::*box;
    const char* key;
    int byDefault;
};

// Row order of the dialog; the last three are not written while the LX20 page
// is shown, because that model has no such values.
const ColumnKey kColumnKeys[] = {
    {&Ui_PreferencesDialog::x_checkBox, "save/x", 1},
    {&Ui_PreferencesDialog::y_checkBox, "save/y", 1},
    {&Ui_PreferencesDialog::z_checkBox, "save/z", 1},
    {&Ui_PreferencesDialog::az_checkBox, "save/az", 0},
    {&Ui_PreferencesDialog::el_checkBox, "save/el", 0},
    {&Ui_PreferencesDialog::range_checkBox, "save/range", 0},
    {&Ui_PreferencesDialog::intensity_checkBox, "save/intensity", 1},
    {&Ui_PreferencesDialog::reflectance_checkBox, "save/reflectance", 1},
    {&Ui_PreferencesDialog::pulseShapeDeviation_checkbox, "save/pulseShapeDeviation", 1},
    {&Ui_PreferencesDialog::timestampcheckBox, "save/timestamp", 1},
};
constexpr int kLX20ColumnKeys = 7;

} // namespace

void MainWindow::loadPreferences() {
    for (const ColumnKey& column : kColumnKeys) {
        (preferences.ui->*column.box)
            ->setChecked(settings.value(column.key, column.byDefault).toInt() != 0);
    }
    // The port's spin box is added once the data port is known.
    if (listenerPort) {
        listenerPort->loadPreference();
    }
}

void MainWindow::savePreferences() {
    listenerPort->savePreference();
    const bool lx20Page = ui->stackedWidget->currentIndex() == LIDAR_LX20;
    int index = 0;
    for (const ColumnKey& column : kColumnKeys) {
        if (lx20Page && index == kLX20ColumnKeys) {
            break;
        }
        settings.setValue(column.key, (preferences.ui->*column.box)->isChecked() ? 1 : 0);
        ++index;
    }
}

void MainWindow::editPreferences() {
    loadPreferences();
    if (!preferences.isVisible()) {
        // exec() shows the dialog itself; showing it first would leave it
        // without application modality.
        preferences.exec();
    } else {
        preferences.activateWindow();
    }
}
